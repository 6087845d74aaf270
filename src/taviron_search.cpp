// taviron-search: similarity of many compound pairs on every core.
//
// Compares every query record with every target record, or every pair of
// records within one file, with the same engine and options as taviron, and
// writes one line per pair in pair order.
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "cpdio.h"
#include "report_html.h"
#ifdef TAVIRON_HAVE_MOLCONVERT
#include "molconvert.h"
#endif
#include "screen.h"
#include "vembo.h"

namespace {

constexpr int kExitFailure = 9;

// Option rows; opt_check() rewrites the array in place.
char row_prog[] = "(prog)";
char row_words[] = "(all)        str,list";
char row_pairs[] = "pairs        str";
char row_entry[] = "e,entry      str,list";
char row_output[] = "o,output     str";
char row_format[] = "format       str";
char row_min[] = "min          str";
char row_top[] = "top          str";
char row_jobs[] = "j,jobs       str";
char row_atom[] = "atom,a       flag";
char row_trick[] = "trick        str";
char row_repeat[] = "repeat       str";
char row_limit[] = "limit        str";
char row_max_atoms[] = "max-atoms    str";
char row_max_depth[] = "max-depth    str";
char row_quiet[] = "quiet,q      flag";
char row_help[] = "help         flag";
char row_version[] = "version      flag";
char row_html[] = "html         str";
char row_html_max[] = "html-max     str";

// clang-format off
char *options[] = {row_prog,   row_words,  row_pairs,   row_entry,     row_output,
                   row_format, row_min,    row_top,     row_jobs,      row_atom,
                   row_trick,  row_repeat, row_limit,   row_max_atoms, row_max_depth,
                   row_quiet,  row_help,   row_version, row_html,      row_html_max,
                   nullptr};
// clang-format on

// Molecules of SD, MOL and SMILES files above these sizes are skipped, as
// taviron-convert's --max-atoms and --max-depth skip them.
long long max_atoms = 10000;
long long max_depth = 10000;

const char *program() {
  return options[0] != nullptr ? options[0] : "taviron-search";
}

[[noreturn]] void fail(const std::string &message) {
  std::fprintf(stderr, "%s: %s\n", program(), message.c_str());
  std::exit(kExitFailure);
}

void print_help() {
  printf("Summary : compare query compounds with target compounds, or all pairs in one file\n");
  printf("Usage   : %s [option ...] QUERIES TARGETS\n", options[0]);
  printf("          %s [option ...] --pairs FILE\n", options[0]);
  printf("input (QTR files, - reads standard input):\n");
  printf("\tQUERIES TARGETS     compare every query record with every target record\n");
  printf("\t--pairs <file>      compare every record with every later record\n");
  printf("\t-e/--entry <entry>  query entry of QUERIES, repeatable (all records)\n");
  printf("\t--max-atoms <n>     skip molecules of SD/SMILES files with more atoms (10000)\n");
  printf("\t--max-depth <n>     skip SMILES with branches nested deeper (10000)\n");
  printf("\n");
  printf("output:\n");
  printf("\t-o/--output <file>  output file (stdout)\n");
  printf("\t--format <format>   tsv or jsonl (tsv)\n");
  printf("\t--min <c>           keep pairs with a coefficient of at least c, 0 to 1\n");
  printf("\t--top <k>           keep the best k targets of each query\n");
  printf("\t-q/--quiet          no progress and no summary on standard error\n");
  printf("\t--html <file>       also an HTML report with depictions of the first rows\n");
  printf("\t--html-max <n>      rows drawn in the HTML report (200)\n");
  printf("\n");
  printf("computation (as taviron):\n");
  printf("\t-a/--atom           docking by atom strictly, scoring by env\n");
  printf("\t--trick <mode>      extend the best alignment along bonds\n");
  printf("\t--repeat <integer>  step budget of the clique search (15000; 0 none)\n");
  printf("\t--limit <number>    largest docking graph searched, 1 to 10000 (10000)\n");
  printf("\t-j/--jobs <n>       threads (one per processor)\n");
  printf("\n");
  printf("\t--help              print help\n");
  printf("\t--version           print version\n");
}

void print_version() {
  printf("%s: %s ver %s\n", options[0], "TAVIRON", "1.0.7.p");
}

// The value of a string option, or null when it was not given.
const char *string_option(const char *name) {
  char *value = nullptr;
  return opt_scan(name, &value) ? value : nullptr;
}

std::vector<const char *> list_option(const char *name) {
  char **values = nullptr;
  const int count = opt_scan(name, &values);
  std::vector<const char *> out(values, values + (count > 0 ? count : 0));
  std::free(values);
  return out;
}

[[noreturn]] void bad_value(const char *option, const char *value, const char *expected) {
  fail(std::string("bad value for ") + option + ": '" + value + "' (expected " + expected + ")");
}

long long integer_option(const char *name, const char *shown, long long lo, long long hi,
                         const char *expected, long long fallback) {
  const char *text = string_option(name);
  if (text == nullptr) return fallback;
  const auto value = screen::parse_integer(text, lo, hi);
  if (!value) bad_value(shown, text, expected);
  return *value;
}

// The records of one input file ("-": standard input).
struct Input {
  const char *path = nullptr;
  CompList *list = nullptr;
  std::vector<CPDMOL *> records;
};

std::string shown_name(const char *path) {
  return std::strcmp(path, "-") == 0 ? "standard input" : path;
}

// SD, MOL and SMILES files, told by their extension (case ignored).
bool is_molecule_file(const char *path) {
  const char *dot = std::strrchr(path, '.');
  if (dot == nullptr || std::strchr(dot, '/') != nullptr) return false;
  for (const char *ext : {".sdf", ".sd", ".mol", ".smi", ".smiles", ".txt"}) {
    if (strcasecmp(dot, ext) == 0) return true;
  }
  return false;
}

// Molecule files are converted in memory as taviron-convert would write them.
// One converter serves every input, so identifiers run on across files and
// never collide.
CompList *read_molecule_input(const char *path) {
#ifdef TAVIRON_HAVE_MOLCONVERT
  static MolConverter converter(
      [] {
        MolConvertOptions options;
        options.max_atoms = static_cast<long>(max_atoms);
        options.max_depth = static_cast<long>(max_depth);
        return options;
      }(),
      "taviron-search");
  errno = 0;
  CompList *list = read_molecule_file_as_CPDMOL(path, MolFormat::kNone, converter);
  if (list == nullptr) {
    fail("cannot read " + shown_name(path) + ": " + std::strerror(errno != 0 ? errno : EIO));
  }
  return list;
#else
  fail(shown_name(path) +
       ": molecule files need taviron-search built with RDKit (apt-get install librdkit-dev "
       "libboost-dev)");
#endif
}

Input read_input(const char *path) {
  Input in;
  in.path = path;
  const bool from_stdin = std::strcmp(path, "-") == 0;
  if (!from_stdin && is_molecule_file(path)) {
    in.list = read_molecule_input(path);
  } else {
    FILE *fp = from_stdin ? stdin : std::fopen(path, "r");
    if (fp == nullptr) fail("cannot read " + shown_name(path) + ": " + std::strerror(errno));
    errno = 0;
    in.list = read_CPDMOL_list_QTR(fp);
    // A stream that fails while being read (a directory, an I/O error) would
    // otherwise look like a file without records.
    if (std::ferror(fp)) {
      fail("cannot read " + shown_name(path) + ": " + std::strerror(errno != 0 ? errno : EIO));
    }
    if (!from_stdin) std::fclose(fp);
  }
  const int n = in.list != nullptr ? complist_numberof(in.list) : 0;
  for (int k = 1; k <= n; k++) {
    auto *mol = static_cast<CPDMOL *>(complist_getdata(in.list, k));
    if (mol != nullptr) in.records.push_back(mol);
  }
  if (in.records.empty()) fail(shown_name(path) + ": no compound records");
  return in;
}

// A write to the output failed; errno as it was then.
struct WriteFailed {
  int error;
};

// Buffered output of the result lines. A failed write ends the run at once
// rather than after every remaining pair was computed.
class Writer {
 public:
  Writer(FILE *fp, screen::Format format) : fp_(fp), format_(format) {
    buf_ = screen::header(format);
  }
  void add(const screen::PairResult &r, const char *query, const char *target) {
    screen::append_row(buf_, format_, r, query, target);
    if (buf_.size() >= (1u << 16)) flush();
  }
  void flush() {
    errno = 0;
    if (!buf_.empty() && std::fwrite(buf_.data(), 1, buf_.size(), fp_) != buf_.size()) {
      throw WriteFailed{errno != 0 ? errno : EIO};
    }
    buf_.clear();
  }

 private:
  FILE *fp_;
  screen::Format format_;
  std::string buf_;
};

}  // namespace

int main(int argc, char **argv) {
  opt_check(argc, argv, options);
  if (opt_scan("help")) opt_exit(0, print_help);
  if (opt_scan("version")) opt_exit(0, print_version);

  // Option values, each checked before any file is read.
  const std::vector<const char *> words = list_option("(all)");
  const std::vector<const char *> entries = list_option("e");
  const char *pairs_file = string_option("pairs");
  const char *output_fn = string_option("o");
  const bool quiet = opt_scan("quiet") != 0;

  screen::Format format = screen::Format::kTsv;
  if (const char *f = string_option("format")) {
    if (std::strcmp(f, "jsonl") == 0) {
      format = screen::Format::kJsonl;
    } else if (std::strcmp(f, "tsv") != 0) {
      bad_value("--format", f, "tsv or jsonl");
    }
  }
  screen::RunOptions run;
  if (const char *m = string_option("min")) {
    run.min = screen::parse_fraction(m);
    if (!run.min) bad_value("--min", m, "a number from 0 to 1");
  }
  run.top =
      static_cast<int>(integer_option("top", "--top", 1, 1000000000, "a positive whole number", 0));
  run.threads = static_cast<int>(integer_option("j", "-j", 1, 1024, "a whole number from 1 to 1024",
                                                screen::default_threads()));
  if (opt_scan("atom")) run.engine.atom_mode = 2;
  if (string_option("trick") != nullptr) {
    // Any whole number selects the extension, as in taviron.
    integer_option("trick", "--trick", INT32_MIN, INT32_MAX, "a whole number", 0);
    run.engine.exec_mode = 8;
  }
  run.engine.maxrepeat = static_cast<int>(
      integer_option("repeat", "--repeat", INT32_MIN, INT32_MAX, "a whole number", -1));
  int limit = static_cast<int>(
      integer_option("limit", "--limit", INT32_MIN, INT32_MAX, "a whole number", 0));
  // Values outside 1..10000 mean the full capacity, as in taviron.
  if (static_cast<unsigned>(limit) - 1u > 9999u) limit = CPD_MAX;
  run.engine.limit = limit;
  max_atoms = integer_option("max-atoms", "--max-atoms", 1, LONG_MAX,
                             "a whole number of at least 1", max_atoms);
  max_depth = integer_option("max-depth", "--max-depth", 1, LONG_MAX,
                             "a whole number of at least 1", max_depth);
  const char *html_fn = string_option("html");
  const int html_max = static_cast<int>(
      integer_option("html-max", "--html-max", 0, 1000000000, "a whole number from 0", 200));

  if (pairs_file != nullptr) {
    if (!words.empty()) fail("--pairs FILE replaces QUERIES and TARGETS: give one or the other");
    if (!entries.empty()) fail("-e picks queries of QUERIES and cannot be used with --pairs");
  } else if (words.size() != 2) {
    fail("expected QUERIES and TARGETS, or --pairs FILE (see --help)");
  }

  // Inputs. The query file is read first: it sets the letter that short
  // identifiers are completed with.
  Input first = read_input(pairs_file != nullptr ? pairs_file : words[0]);
  Input second;
  const bool same_input = pairs_file != nullptr || std::strcmp(words[0], words[1]) == 0;
  if (!same_input) second = read_input(words[1]);
  const Input &queries_in = first;
  const Input &targets_in = same_input ? first : second;

  std::vector<CPDMOL *> queries;
  if (entries.empty()) {
    queries = queries_in.records;
  } else {
    for (const char *id : entries) {
      const int pos = nsearch_CPDMOL(queries_in.list, const_cast<char *>(id));
      if (pos == 0) fail(std::string(id) + ": no such entry in " + shown_name(queries_in.path));
      queries.push_back(static_cast<CPDMOL *>(complist_getdata(queries_in.list, pos)));
    }
  }
  const std::vector<CPDMOL *> &targets = targets_in.records;

  // Opened only now, so that a failure above never creates or truncates it.
  FILE *out = stdout;
  if (output_fn != nullptr && (out = std::fopen(output_fn, "w")) == nullptr) {
    fail(std::string("cannot write ") + output_fn + ": " + std::strerror(errno));
  }

  // The HTML report is checked as early as the output, and written last.
  FILE *html = nullptr;
  if (html_fn != nullptr && (html = std::fopen(html_fn, "w")) == nullptr) {
    fail(std::string("cannot write ") + html_fn + ": " + std::strerror(errno));
  }
  std::vector<html_report::Row> html_rows;

  Writer writer(out, format);
  const bool show_progress = !quiet && isatty(STDERR_FILENO);
  const auto start = std::chrono::steady_clock::now();
  auto seconds = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  screen::Progress progress;
  if (show_progress) {
    progress = [&](std::int64_t done, std::int64_t total) {
      std::fprintf(stderr, "\r%s\033[K", screen::progress_text(done, total, seconds()).c_str());
      std::fflush(stderr);
    };
  }
  const std::string out_name = output_fn != nullptr ? output_fn : "standard output";
  auto write_failed = [&](int error) {
    if (show_progress) std::fprintf(stderr, "\r\033[K");
    fail("cannot write " + out_name + ": " + std::strerror(error));
  };
  screen::RunStats stats;
  try {
    stats = screen::run_screen(
        queries, targets, pairs_file != nullptr, run,
        [&](const screen::PairResult &r) {
          writer.add(r, queries[r.query]->name, targets[r.target]->name);
          if (html != nullptr) html_rows.push_back({r, queries[r.query], targets[r.target]});
        },
        progress);
    writer.flush();
  } catch (const WriteFailed &e) {
    write_failed(e.error);
  } catch (const std::bad_alloc &) {
    fail("out of memory");
  } catch (const std::exception &e) {
    fail(e.what());
  }
  const double elapsed = seconds();
  if (show_progress) std::fprintf(stderr, "\r\033[K");

  errno = 0;
  bool failed = std::fflush(out) != 0 || std::ferror(out) != 0;
  failed = std::fclose(out) != 0 || failed;
  if (failed) write_failed(errno != 0 ? errno : EIO);
  if (html != nullptr) {
    html_report::Summary summary;
    summary.inputs.assign(words.begin(), words.end());
    if (pairs_file != nullptr) summary.inputs = {pairs_file};
    summary.all_pairs = pairs_file != nullptr;
    summary.run = run;
    summary.pairs = stats.pairs;
    summary.skipped = stats.skipped;
    summary.seconds = elapsed;
    html_report::Options html_options;
    html_options.max_depictions = html_max;
    const std::string page = html_report::page(summary, html_rows, html_options);
    errno = 0;
    bool html_failed = std::fwrite(page.data(), 1, page.size(), html) != page.size();
    html_failed = std::fflush(html) != 0 || std::ferror(html) != 0 || html_failed;
    html_failed = std::fclose(html) != 0 || html_failed;
    if (html_failed) {
      fail(std::string("cannot write ") + html_fn + ": " + std::strerror(errno != 0 ? errno : EIO));
    }
  }
  if (!quiet) {
    std::fprintf(stderr,
                 "%s: %lld pairs, %lld skipped by the bound, %lld rows, %.2f s, %.0f pairs/s\n",
                 program(), static_cast<long long>(stats.pairs),
                 static_cast<long long>(stats.skipped), static_cast<long long>(stats.kept), elapsed,
                 elapsed > 0.0 ? static_cast<double>(stats.pairs) / elapsed : 0.0);
  }
  return 0;
}
