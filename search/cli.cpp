#include "search/cli.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <string_view>
#include <system_error>
#include <tuple>
#include <unordered_map>

#include "cpddock.h"
#include "cpdio.h"
#include "depict/depict.h"
#include "exe1.h"
#include "gzinput.h"
#include "search/report_html.h"
#ifdef TAVIRON_HAVE_MOLCONVERT
#include "convert/molconvert.h"
#endif
#include "convert/substructure.h"  // MoleculeAtoms alone needs no RDKit
#include "vembo.h"

namespace screen_cli {

namespace {

// Option rows; opt_check() rewrites the table in place, so every row is a
// buffer of its own that lives as long as the process.
const char *const kRows[] = {"(prog)",
                             "(all)        str,list",
                             "pairs        str",
                             "e,entry      str,list",
                             "o,output     str",
                             "format       str",
                             "min          str",
                             "top          str",
                             "j,jobs       str",
                             "atom,a       flag",
                             "trick        str",
                             "repeat       str",
                             "limit        str",
                             "time-limit   str",
                             "max-atoms    str",
                             "max-depth    str",
                             "quiet,q      flag",
                             "resume       flag",
                             "shard        str",
                             "merge        flag",
                             "block        str",
                             "help,h       flag",
                             "version      flag",
                             "html         str",
                             "html-max     str",
                             "names        flag",
                             "substructure flag",
                             "no-self      flag",
                             "name-field   str",
                             "in           str",
                             "smiles-column str",
                             "name-column  str"};

std::vector<std::vector<char>> &row_buffers() {
  static std::vector<std::vector<char>> rows;
  return rows;
}

std::vector<char *> &option_table() {
  static std::vector<char *> table;
  return table;
}

const ProgramText *program_text = nullptr;

std::function<void(const std::string &)> &failure_handler() {
  static std::function<void(const std::string &)> handler;
  return handler;
}

// Molecules of SD, MOL and SMILES files above these sizes are skipped, as
// taviron-convert's --max-atoms and --max-depth skip them.
long long max_atoms = 10000;
long long max_depth = 10000;
const char *name_field = nullptr;
// CSV/TSV columns by header name, and the format of standard input (--in).
const char *smiles_column = nullptr;
const char *name_column = nullptr;
const char *stdin_format = nullptr;

// The names of the compounds of molecule files as read (title line, data
// field or name column); compounds of QTR files are named by their NAME line.
std::unordered_map<const CPDMOL *, std::string> &molecule_names() {
  static std::unordered_map<const CPDMOL *, std::string> names;
  return names;
}

// Where the atoms of the compounds of molecule files came from, with
// --substructure.
std::unordered_map<const CPDMOL *, MoleculeAtoms> &molecule_atoms() {
  static std::unordered_map<const CPDMOL *, MoleculeAtoms> atoms;
  return atoms;
}
bool substructure_wanted = false;

std::string_view name_of(const CPDMOL &mol) {
  const auto &names = molecule_names();
  if (const auto it = names.find(&mol); it != names.end()) return it->second;
  return mol.definition != nullptr ? mol.definition : "";
}

void print_help() {
  const char *name = program();
  printf("Summary : %s\n", program_text->summary);
  printf("Usage   : %s [option ...] QUERIES TARGETS\n", name);
  printf("          %s [option ...] --pairs FILE\n", name);
  printf("          %s --merge [--top k] [--min c] [-o FILE] PART ...\n", name);
  printf("input (QTR, SD/MOL, SMILES, CSV or TSV files, by their extension: .sdf, .sd,\n");
  printf(".mol, .smi, .smiles, .txt, .csv, .tsv, any other QTR; .gz after any of them:\n");
  printf("gzip-compressed; - reads standard input, QTR unless --in):\n");
  printf("\tQUERIES TARGETS     compare every query record with every target record\n");
  printf("\t--pairs <file>      compare every record with every later record\n");
  printf("\t-e/--entry <entry>  query entry of QUERIES, repeatable (all records); also a\n");
  printf("\t                    compound name of an SD/MOL or SMILES file\n");
  printf("\t--name-field <name> name SD compounds by this data field (title line)\n");
  printf("\t--smiles-column <name>  CSV/TSV column of the SMILES (smiles)\n");
  printf("\t--name-column <name>    CSV/TSV column of the names (name, if there is one)\n");
  printf("\t--in <format>       format of standard input: qtr, sdf, smi, csv or tsv (qtr)\n");
  printf("\t--max-atoms <n>     skip molecules of SD/SMILES files with more atoms (10000)\n");
  printf("\t--max-depth <n>     skip SMILES with branches nested deeper (10000)\n");
  printf("\n");
  printf("output:\n");
  printf("\t-o/--output <file>  output file (stdout)\n");
  printf("\t--format <format>   tsv or jsonl (tsv)\n");
  printf("\t--names             add the compounds' names: query_name, target_name\n");
  printf("\t--substructure      add the common substructure: atom_pairs (aligned atoms,\n");
  printf("\t                    0-based indices of the input molecules), query_match and\n");
  printf("\t                    target_match (the matched parts as SMILES)\n");
  printf("\t--min <c>           keep pairs with a coefficient of at least c, 0 to 1\n");
  printf("\t--top <k>           keep the best k targets of each query, best first\n");
  printf("\t                    (higher coefficient; on ties, target order)\n");
  printf("\t--no-self           leave out each query's own record (QUERIES and TARGETS\n");
  printf("\t                    the same file)\n");
  printf("\t-q/--quiet          no progress and no summary on standard error\n");
  printf("\t--html <file>       also an HTML report with depictions of the first rows\n");
  printf("\t--html-max <n>      rows drawn in the HTML report (200)\n");
  printf("\t--resume            continue the interrupted screen that wrote -o FILE\n");
  printf("\n");
  printf("parts of a screen:\n");
  printf("\t--shard <K/N>       compute part K of N (balanced by the atoms of the pairs)\n");
  printf("\t--merge             join the outputs of the parts (checked against their\n");
  printf("\t                    FILE.shard records, put in part order)\n");
  printf("\n");
  printf("computation (as taviron):\n");
  printf("\t-a/--atom           docking by atom strictly, scoring by env\n");
  printf("\t--trick <mode>      extend the best alignment along bonds\n");
  printf("\t--repeat <integer>  step budget of the clique search (15000; 0 none)\n");
  printf("\t--limit <number>    largest docking graph searched, 1 to 10000 (10000)\n");
  printf("\t--time-limit <s>    seconds of clique search per pair; a pair stopped by it\n");
  printf("\t                    is not proven (none: results never depend on the clock)\n");
  printf("\t-j/--jobs <n>       threads (one per processor)\n");
  printf("\t--block <n>         targets read at a time, at most as many queries per pass (1024)\n");
  for (const std::string &line : program_text->extra_help) printf("%s\n", line.c_str());
  printf("\n");
  printf("\t-h/--help           print help\n");
  printf("\t--version           print version\n");
}

void print_version() {
  printf("%s: %s ver %s\n", program(), "TAVIRON", "1.0.7.p");
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

std::string shown_name(const char *path) {
  return std::strcmp(path, "-") == 0 ? "standard input" : path;
}

// SD, MOL, SMILES, CSV and TSV files, told by their extension (case ignored;
// a final .gz set aside); standard input by --in.
bool is_molecule_file(const char *path) {
  if (std::strcmp(path, "-") == 0) {
    return stdin_format != nullptr && strcasecmp(stdin_format, "qtr") != 0;
  }
  const std::string name(without_gz(path));
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || name.find('/', dot) != std::string::npos) return false;
  for (const char *ext : {".sdf", ".sd", ".mol", ".smi", ".smiles", ".txt", ".csv", ".tsv"}) {
    if (strcasecmp(name.c_str() + dot, ext) == 0) return true;
  }
  return false;
}

// Molecule files are converted in memory as taviron-convert would write them.
// One converter serves every input, so identifiers run on across files and
// never collide. Standard input is read from `standard_input` when given.
CompList *read_molecule_input(const char *path, std::vector<std::string> &names,
                              std::vector<MoleculeAtoms> *atoms, FILE *standard_input) {
#ifdef TAVIRON_HAVE_MOLCONVERT
  static MolConverter converter(
      [] {
        MolConvertOptions options;
        options.max_atoms = static_cast<long>(max_atoms);
        options.max_depth = static_cast<long>(max_depth);
        if (name_field != nullptr) options.name_field = name_field;
        if (smiles_column != nullptr) options.smiles_column = smiles_column;
        if (name_column != nullptr) options.name_column = name_column;
        options.atom_origins = substructure_wanted;
        return options;
      }(),
      program());
  errno = 0;
  std::string error;
  CompList *list = nullptr;
  if (std::strcmp(path, "-") == 0) {
    FILE *in = standard_input != nullptr ? standard_input : stdin;
    list = read_molecules_as_CPDMOL(in, "stdin", molformat_from_word(stdin_format), converter,
                                    &names, atoms);
    if (std::ferror(in)) error = std::strerror(errno != 0 ? errno : EIO);
    if (!converter.input_error().empty()) error = converter.input_error();
    if (!error.empty()) list = nullptr;
  } else {
    list = read_molecule_file_as_CPDMOL(path, MolFormat::kNone, converter, &names, &error, atoms);
  }
  if (list == nullptr) {
    if (error.empty()) error = std::strerror(errno != 0 ? errno : EIO);
    fail("cannot read " + shown_name(path) + ": " + error);
  }
  return list;
#else
  (void)names;
  (void)atoms;
  (void)standard_input;
  fail(shown_name(path) +
       ": molecule files need taviron-search built with RDKit (apt-get install librdkit-dev "
       "libboost-dev)");
#endif
}

[[noreturn]] void cannot_read(const char *path, int error) {
  fail("cannot read " + shown_name(path) + ": " + std::strerror(error != 0 ? error : EIO));
}

// What an interrupted run must share with its resumption: every option that
// changes the output, and the name, size and modification time of each input.
std::string fingerprint_of(const std::vector<std::pair<std::string, std::string>> &items) {
  std::string out;
  for (const auto &[key, value] : items) out += key + " " + value + "\n";
  return out;
}

// A regular output file (or none yet) is written through a temporary file;
// anything else (a device, a pipe) is written directly.
bool regular_output(const char *path) {
  struct stat st {};
  return stat(path, &st) != 0 ? errno == ENOENT : S_ISREG(st.st_mode);
}

// The file that a rename must replace: the target of a symbolic link.
std::string output_target(const char *path) {
  struct stat st {};
  if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char *real = realpath(path, nullptr)) {
      std::string out = real;
      std::free(real);
      return out;
    }
  }
  return path;
}

// What the HTML page says about the run.
struct HtmlRun {
  const std::vector<const char *> &words;
  const char *pairs_file;
  bool no_self;
  const screen::RunOptions &run;
  const screen::RunStats &stats;
  double seconds;
  int max_depictions;
  const Options &options;  // the rest of the options line
};

// Writes the HTML report of the kept rows, in the order of the output: query
// by query, in target order (with --top, ranked). Their records are read once
// more (the screen has released its blocks), into an arena that lives while
// the page is made.
void write_html(AtomicFile &html, const char *html_fn, std::vector<screen::PairResult> results,
                screen::RecordSource &queries, screen::RecordSource &targets, const HtmlRun &r) {
  const bool top = r.run.top > 0;
  std::sort(results.begin(), results.end(), [top](const auto &a, const auto &b) {
    if (a.query != b.query) return a.query < b.query;
    return top ? screen::ranked_before(a, b) : a.target < b.target;
  });
  RecordArena arena;
  std::vector<html_report::Row> rows;
  {
    RecordArena::Scope scope(arena);
    std::map<int, CPDMOL *> qcache, tcache;
    auto record = [](std::map<int, CPDMOL *> &cache, screen::RecordSource &src, int i) {
      auto [it, fresh] = cache.try_emplace(i, nullptr);
      if (fresh) it->second = src.load(i, i + 1).at(0);
      return it->second;
    };
    for (const screen::PairResult &p : results) {
      rows.push_back({p, record(qcache, queries, p.query), record(tcache, targets, p.target)});
    }
  }
  html_report::Summary summary;
  summary.inputs.assign(r.words.begin(), r.words.end());
  if (r.pairs_file != nullptr) summary.inputs = {r.pairs_file};
  summary.all_pairs = r.pairs_file != nullptr;
  summary.no_self = r.no_self;
  summary.run = r.run;
  summary.pairs = r.stats.pairs;
  summary.skipped = r.stats.skipped;
  summary.seconds = r.seconds;
  summary.entries.assign(r.options.entries.begin(), r.options.entries.end());
  summary.format = r.options.format;
  summary.names = r.options.names;
  if (name_field != nullptr) summary.name_field = name_field;
  summary.max_atoms = max_atoms;
  summary.max_depth = max_depth;
  summary.block = r.options.block;
  if (r.options.shard) {
    summary.shard =
        std::to_string(r.options.shard->part) + "/" + std::to_string(r.options.shard->parts);
  }
  summary.html_max = r.max_depictions;
  html_report::Options html_options;
  html_options.max_depictions = r.max_depictions;
  const std::string page = html_report::page(summary, rows, html_options);
  errno = 0;
  if (std::fwrite(page.data(), 1, page.size(), html.stream()) != page.size()) {
    const int error = errno != 0 ? errno : EIO;
    html.abandon();
    errno = error;
  } else if (html.commit()) {
    return;
  }
  fail(std::string("cannot write ") + html_fn + ": " + std::strerror(errno));
}

[[noreturn]] void write_failed(const Output &output, int error) {
  if (output.show_progress) std::fprintf(stderr, "\r\033[K");
  fail("cannot write " + output.name + ": " + std::strerror(error));
}

}  // namespace

// One input: its records by position, and the list of a molecule file (which
// is held in memory whole) for looking up entries.
struct Screen::Input {
  const char *path = nullptr;
  std::unique_ptr<screen::RecordSource> source;
  CompList *list = nullptr;
  std::vector<CPDMOL *> records;  // those of a molecule file
};

Screen::Screen() = default;
Screen::~Screen() = default;
Screen::Screen(Screen &&) noexcept = default;
Screen &Screen::operator=(Screen &&) noexcept = default;

namespace {

// The query of a molecule file that `entry` names: its identifier, or else
// the one compound of that name.
CPDMOL *find_molecule_entry(const Screen::Input &in, const char *entry) {
  const int pos = nsearch_CPDMOL(in.list, const_cast<char *>(entry));
  if (pos > 0) return static_cast<CPDMOL *>(complist_getdata(in.list, pos));
  CPDMOL *found = nullptr;
  int count = 0;
  for (CPDMOL *mol : in.records) {
    if (name_of(*mol) == entry) {
      found = mol;
      count++;
    }
  }
  if (count > 1) {
    fail(std::string(entry) + ": " + std::to_string(count) + " compounds of that name in " +
         shown_name(in.path) + " (give its identifier)");
  }
  if (found == nullptr) {
    fail(std::string(entry) + ": no such entry or name in " + shown_name(in.path));
  }
  return found;
}

// Opens an input. QTR text is indexed and read again block by block later;
// what cannot be read twice (standard input, a pipe) is copied to a
// temporary file first, unless `standard_input` already is that copy. A scan
// with `lookup` also finds query entries.
std::unique_ptr<Screen::Input> open_input(const char *path, screen::EntryLookup *lookup,
                                          FILE *standard_input) {
  auto in = std::make_unique<Screen::Input>();
  in->path = path;
  const bool from_stdin = std::strcmp(path, "-") == 0;
  try {
    if (is_molecule_file(path)) {
      std::vector<std::string> names;
      std::vector<MoleculeAtoms> atoms;
      in->list =
          read_molecule_input(path, names, substructure_wanted ? &atoms : nullptr, standard_input);
      std::vector<CPDMOL *> records;
      const int n = in->list != nullptr ? complist_numberof(in->list) : 0;
      for (int k = 1; k <= n; k++) {
        auto *mol = static_cast<CPDMOL *>(complist_getdata(in->list, k));
        if (mol == nullptr) continue;
        records.push_back(mol);
        // One name per record of the list, in its order.
        if (static_cast<std::size_t>(k) <= names.size()) {
          molecule_names()[mol] = std::move(names[static_cast<std::size_t>(k) - 1]);
        }
        if (static_cast<std::size_t>(k) <= atoms.size()) {
          molecule_atoms()[mol] = std::move(atoms[static_cast<std::size_t>(k) - 1]);
        }
      }
      in->records = records;
      in->source = screen::RecordSource::held(std::move(records));
    } else if (from_stdin && standard_input != nullptr) {
      in->source = screen::RecordSource::index_qtr(standard_input, lookup);
    } else if (!from_stdin && gz_name(path)) {
      std::string error;
      FILE *fp = open_input_file(path, &error);  // decompressed: a temporary file
      if (fp == nullptr) fail("cannot read " + shown_name(path) + ": " + error);
      in->source = screen::RecordSource::index_qtr(fp, lookup);
    } else {
      FILE *fp = from_stdin ? stdin : std::fopen(path, "r");
      if (fp == nullptr) cannot_read(path, errno);
      struct stat st {};
      if (from_stdin || fstat(fileno(fp), &st) != 0 || !S_ISREG(st.st_mode)) {
        FILE *copy = screen::spool(fp);
        if (!from_stdin) std::fclose(fp);
        fp = copy;
      }
      in->source = screen::RecordSource::index_qtr(fp, lookup);
    }
  } catch (const std::system_error &e) {
    cannot_read(path, e.code().value());
  }
  if (in->source->size() == 0) fail(shown_name(path) + ": no compound records");
  // Read as far as it goes, like any record, but not in silence.
  if (const std::string cut = in->source->cut_record(); !cut.empty()) {
    std::fprintf(stderr, "%s: warning: %s: the last record, %s, ends without its /// line\n",
                 program(), shown_name(path).c_str(), cut.c_str());
  }
  return in;
}

// The position of the i-th -e query's record `mol` in the input it was found in.
std::int64_t entry_position(const Screen::Input &in, const screen::EntryLookup *lookup,
                            std::size_t i, const CPDMOL *mol) {
  if (lookup != nullptr) return lookup->position(i);
  const auto at = std::find(in.records.begin(), in.records.end(), mol);
  return at != in.records.end() ? at - in.records.begin() : -1;
}

// For --no-self, QUERIES and TARGETS being one input: the target that is query
// q's own record, q itself or, for the -e queries, the records they named.
std::function<std::int64_t(std::int64_t)> own_records(std::vector<std::int64_t> entries,
                                                      bool selected) {
  if (!selected) return [](std::int64_t q) { return q; };
  return [entries = std::move(entries)](std::int64_t q) {
    return entries[static_cast<std::size_t>(q)];
  };
}

}  // namespace

void parse_command_line(int argc, char **argv, const ProgramText &text) {
  program_text = &text;
  // A write past the file size limit is reported, not a silent death.
  guard_file_writes();
  auto &rows = row_buffers();
  auto &table = option_table();
  std::vector<std::string> all(std::begin(kRows), std::end(kRows));
  all.insert(all.end(), text.extra.begin(), text.extra.end());
  for (const std::string &row : all) rows.emplace_back(row.c_str(), row.c_str() + row.size() + 1);
  for (auto &row : rows) table.push_back(row.data());
  table.push_back(nullptr);
  // Option errors name the program, as every other message does.
  if (argc > 0) opt_setMessagePrefix(argv[0]);
  opt_check(argc, argv, table.data());
  if (opt_scan("help")) opt_exit(0, print_help);
  if (opt_scan("version")) opt_exit(0, print_version);
}

const char *program() {
  const auto &table = option_table();
  return !table.empty() && table[0] != nullptr ? table[0] : "taviron-search";
}

bool flag_option(const char *name) {
  return opt_scan(name) != 0;
}

const char *string_option(const char *name) {
  char *value = nullptr;
  return opt_scan(name, &value) ? value : nullptr;
}

void fail(const std::string &message) {
  if (failure_handler()) failure_handler()(message);
  std::fprintf(stderr, "%s: %s\n", program(), message.c_str());
  std::exit(kExitFailure);
}

void on_failure(std::function<void(const std::string &)> handler) {
  failure_handler() = std::move(handler);
}

std::vector<const char *> Options::input_paths() const {
  if (pairs_file != nullptr) return {pairs_file};
  if (words.size() == 2 && std::strcmp(words[0], words[1]) != 0) return {words[0], words[1]};
  if (!words.empty()) return {words[0]};
  return {};
}

namespace {

// The inputs and the form of the rows.
void read_input_and_row_options(Options &o) {
  o.words = list_option("(all)");
  o.entries = list_option("e");
  o.pairs_file = string_option("pairs");
  o.output_fn = string_option("o");
  o.quiet = opt_scan("quiet") != 0;
  // Quiet means quiet: the row's status tells of an oversized docking graph.
  if (o.quiet) dock_overflow_message(false);
  o.names = opt_scan("names") != 0;
  o.substructure = substructure_wanted = opt_scan("substructure") != 0;
  o.no_self = opt_scan("no-self") != 0;
  name_field = string_option("name-field");
  smiles_column = string_option("smiles-column");
  name_column = string_option("name-column");
  if (smiles_column != nullptr && *smiles_column == '\0') {
    bad_value("--smiles-column", smiles_column, "the name of a CSV/TSV column");
  }
  stdin_format = string_option("in");
  if (stdin_format != nullptr) {
    static const std::vector<std::string> kWords{"qtr",    "sdf", "mol", "smi",
                                                 "smiles", "csv", "tsv"};
    std::string word(stdin_format);
    for (char &c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (std::find(kWords.begin(), kWords.end(), word) == kWords.end()) {
      bad_value("--in", stdin_format, "qtr, sdf, smi, csv or tsv");
    }
  }
  if (name_field != nullptr && *name_field == '\0') {
    bad_value("--name-field", name_field, "the name of an SD data field");
  }

  if (const char *f = string_option("format")) {
    if (std::strcmp(f, "jsonl") == 0) {
      o.format = screen::Format::kJsonl;
    } else if (std::strcmp(f, "tsv") != 0) {
      bad_value("--format", f, "tsv or jsonl");
    }
  }
}

// Which rows are kept, and how the pairs are computed.
void read_run_options(Options &o) {
  screen::RunOptions &run = o.run;
  if (const char *m = string_option("min")) {
    run.min = screen::parse_fraction(m);
    if (!run.min) bad_value("--min", m, "a number from 0 to 1");
  }
  run.top =
      static_cast<int>(integer_option("top", "--top", 1, 1000000000, "a positive whole number", 0));
  run.threads = static_cast<int>(integer_option("j", "-j", 1, 1024, "a whole number from 1 to 1024",
                                                screen::default_threads()));
  o.block = static_cast<int>(
      integer_option("block", "--block", 1, 1000000, "a whole number from 1 to 1000000", 1024));
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
  if (const char *t = string_option("time-limit")) {
    char *end = nullptr;
    errno = 0;
    const double seconds = std::strtod(t, &end);
    if (end == t || *end != '\0' || errno != 0 || !(seconds > 0 && seconds <= 1e6)) {
      bad_value("--time-limit", t, "a number of seconds above 0, up to 1000000");
    }
    run.engine.time_limit = seconds;
  }
}

// The sizes above which molecules of SD and SMILES files are skipped.
void read_molecule_limits() {
  max_atoms = integer_option("max-atoms", "--max-atoms", 1, LONG_MAX,
                             "a whole number of at least 1", max_atoms);
  max_depth = integer_option("max-depth", "--max-depth", 1, LONG_MAX,
                             "a whole number of at least 1", max_depth);
}

// The HTML report, and which part of the screen this run computes.
void read_report_and_part_options(Options &o) {
  o.html_fn = string_option("html");
  o.html_max = static_cast<int>(
      integer_option("html-max", "--html-max", 0, 1000000000, "a whole number from 0", 200));

  o.resume = opt_scan("resume") != 0;
  const char *shard_text = string_option("shard");
  if (shard_text != nullptr && !(o.shard = screen::parse_shard(shard_text))) {
    bad_value("--shard", shard_text, "K/N with 1 <= K <= N");
  }
}

// --merge takes none of the options that choose what a part computes.
void check_merge_options(const Options &o) {
  if (o.pairs_file != nullptr || !o.entries.empty() || o.shard || o.resume) {
    fail("--merge joins finished parts: -e, --pairs, --shard and --resume do not apply");
  }
  if (o.no_self) {
    fail("--merge keeps the rows of the parts: --no-self applies to the screens of the parts");
  }
  if (stdin_format != nullptr || smiles_column != nullptr || name_column != nullptr) {
    fail(
        "--merge reads the outputs of the parts: --in, --smiles-column and --name-column do not "
        "apply");
  }
  if (o.names || name_field != nullptr) {
    fail("--merge keeps the columns of the parts: --names and --name-field do not apply");
  }
  if (o.substructure) fail("--merge keeps the columns of the parts: --substructure does not apply");
}

// A screen names its inputs one way, and resumes only a regular output file.
void check_screen_options(const Options &o) {
  if (o.pairs_file != nullptr) {
    if (!o.words.empty()) fail("--pairs FILE replaces QUERIES and TARGETS: give one or the other");
    if (!o.entries.empty()) fail("-e picks queries of QUERIES and cannot be used with --pairs");
  } else if (o.words.size() != 2) {
    fail("expected QUERIES and TARGETS, or --pairs FILE (see --help)");
  } else if (o.no_self && std::strcmp(o.words[0], o.words[1]) != 0) {
    fail(
        "--no-self leaves out a query's own record: QUERIES and TARGETS must be the same file, "
        "given by the same name");
  }
  if (o.resume && !(o.output_fn != nullptr && regular_output(o.output_fn))) {
    fail("--resume continues an interrupted screen written with -o FILE (a regular file)");
  }
}

}  // namespace

Options read_options() {
  Options o;
  // Option values, each checked before any file is read, in this order.
  read_input_and_row_options(o);
  read_run_options(o);
  read_molecule_limits();
  read_report_and_part_options(o);
  if (opt_scan("merge")) {
    check_merge_options(o);
    o.merge = true;
    return o;
  }
  check_screen_options(o);
  return o;
}

int run_merge(const Options &o) {
  const std::vector<const char *> &words = o.words;
  const char *output_fn = o.output_fn;
  const screen::MergeOptions options{o.run.min, o.run.top};
  if (words.empty()) fail("--merge needs the outputs of the parts (PART ...)");
  std::vector<std::string> parts(words.begin(), words.end());
  const std::string out_name = output_fn != nullptr ? output_fn : "standard output";
  std::unique_ptr<screen::SafeOutput> file;
  try {
    const screen::MergeLayout layout = screen::merge_layout(parts);
    parts = screen::ordered_parts(parts);
    const std::string head = screen::header(layout.format, layout.names, layout.substructure);
    if (output_fn != nullptr && regular_output(output_fn)) {
      file = std::make_unique<screen::SafeOutput>(output_target(output_fn), "", head, false, false);
      screen::merge_parts(parts, layout, options, *file);
      file->commit();
      return 0;
    }
    FILE *out = output_fn != nullptr ? std::fopen(output_fn, "w") : stdout;
    if (out == nullptr) throw screen::WriteError{errno, out_name};
    screen::StreamSink sink(out, out_name);
    sink.write(head);
    screen::merge_parts(parts, layout, options, sink);
    sink.flush();
    errno = 0;
    bool failed = std::fflush(out) != 0 || std::ferror(out) != 0;
    failed = std::fclose(out) != 0 || failed;
    if (failed) throw screen::WriteError{errno != 0 ? errno : EIO, out_name};
  } catch (const screen::OutputRefused &e) {
    fail(e.message);
  } catch (const screen::MergeError &e) {
    if (file) file->abandon();
    fail(e.message);
  } catch (const screen::WriteError &e) {
    if (file) file->abandon();
    fail("cannot write " + out_name + ": " + std::strerror(e.error));
  }
  return 0;
}

Screen open_screen(const Options &o, FILE *standard_input) {
  Screen s;
  // Inputs. The query file is read first: it sets the letter that short
  // identifiers are completed with.
  const char *first_path = o.pairs_file != nullptr ? o.pairs_file : o.words[0];
  const bool same_input = o.pairs_file != nullptr || std::strcmp(o.words[0], o.words[1]) == 0;
  std::unique_ptr<screen::EntryLookup> lookup;
  if (!o.entries.empty() && !is_molecule_file(first_path)) {
    lookup = std::make_unique<screen::EntryLookup>(o.entries);
  }
  s.inputs.push_back(open_input(first_path, lookup.get(), standard_input));
  if (!same_input) s.inputs.push_back(open_input(o.words[1], nullptr, standard_input));
  const Screen::Input &first = *s.inputs.front();
  s.targets = s.inputs.back()->source.get();

  std::vector<std::int64_t> own;  // the position of each -e query's record in QUERIES
  if (!o.entries.empty()) {
    std::vector<CPDMOL *> queries;
    for (std::size_t i = 0; i < o.entries.size(); i++) {
      CPDMOL *mol = nullptr;
      if (lookup) {
        mol = lookup->result(i);
      } else if (first.list != nullptr) {
        mol = find_molecule_entry(first, o.entries[i]);
      }
      if (mol == nullptr) {
        fail(std::string(o.entries[i]) + ": no such entry in " + shown_name(first.path));
      }
      queries.push_back(mol);
      own.push_back(entry_position(first, lookup.get(), i, mol));
    }
    s.selected = screen::RecordSource::held(std::move(queries));
  }
  // --pairs never pairs a record with itself; else QUERIES is TARGETS here.
  if (o.no_self && o.pairs_file == nullptr)
    s.own_target = own_records(std::move(own), !!s.selected);
  s.queries = s.selected ? s.selected.get() : first.source.get();
  screen::RecordSource &queries = *s.queries;
  screen::RecordSource &targets = *s.targets;

  // The merge tells queries apart by name; two neighbours of one name would
  // look like one query to its selection of the best targets.
  if (o.shard && o.run.top > 0 && queries.adjacent_duplicates()) {
    fail(
        "--top with --shard needs distinct names for neighbouring queries (the merge tells "
        "queries apart by name)");
  }
  s.triangle = o.pairs_file != nullptr;
  s.space = screen::PairSpace{queries.size(), targets.size(), s.triangle};
  s.first = 0;
  s.last = s.space.total();
  if (o.shard) {
    std::tie(s.first, s.last) = screen::shard_range(
        s.space, *o.shard, [&](std::int64_t q) { return queries.atoms(static_cast<int>(q)); },
        [&](std::int64_t t) { return targets.atoms(static_cast<int>(t)); });
  }
  return s;
}

Output open_output(const Options &o, Screen &s, const std::function<bool()> &progress_allowed) {
  Output output;
  const char *output_fn = o.output_fn;
  // Opened only now, so that a failure above never creates or truncates it.
  output.name = output_fn != nullptr ? output_fn : "standard output";

  // The HTML report is checked as early as the output, and written last.
  if (o.html_fn != nullptr) {
    output.html = std::make_unique<AtomicFile>();
    if (!output.html->open(o.html_fn)) {
      fail(std::string("cannot write ") + o.html_fn + ": " + std::strerror(errno));
    }
  }
  output.show_progress =
      !o.quiet && (isatty(STDERR_FILENO) || (progress_allowed && progress_allowed()));
  const bool safe_output = output_fn != nullptr && regular_output(output_fn);
  if (safe_output) {
    // The screen by its options and its inputs' content; a resume also
    // needs the same input paths.
    std::vector<std::pair<std::string, std::string>> items, screen_items;
    items.emplace_back("mode", o.pairs_file != nullptr ? "pairs" : "queries-targets");
    screen_items = items;
    for (const char *path : o.input_paths()) {
      if (std::strcmp(path, "-") == 0) output.resumable = false;
      const std::string content = screen::input_content(path);
      items.emplace_back("input", std::string(path) + " " + content);
      screen_items.emplace_back("input", content);
    }
    std::string ids;
    for (const char *id : o.entries) ids += std::string(ids.empty() ? "" : " ") + id;
    items.emplace_back("entries", ids);
    items.emplace_back("format", o.format == screen::Format::kTsv ? "tsv" : "jsonl");
    items.emplace_back("names", o.names ? "yes" : "no");
    items.emplace_back("name-field", name_field != nullptr ? name_field : "");
    char min_text[64] = "none";
    if (o.run.min) std::snprintf(min_text, sizeof min_text, "%.17g", *o.run.min);
    items.emplace_back("min", min_text);
    items.emplace_back("top", std::to_string(o.run.top));
    items.emplace_back("atom", std::to_string(o.run.engine.atom_mode));
    items.emplace_back("trick", std::to_string(o.run.engine.exec_mode));
    items.emplace_back("repeat", std::to_string(o.run.engine.maxrepeat));
    // Only when given, so that the screens without it keep their fingerprint.
    if (o.run.engine.time_limit > 0) {
      char seconds[64];
      std::snprintf(seconds, sizeof seconds, "%.17g", o.run.engine.time_limit);
      items.emplace_back("time-limit", seconds);
    }
    items.emplace_back("limit", std::to_string(o.run.engine.limit));
    screen_items.insert(screen_items.end(), items.begin() + static_cast<long>(screen_items.size()),
                        items.end());
    items.emplace_back(
        "shard",
        o.shard ? std::to_string(o.shard->part) + "/" + std::to_string(o.shard->parts) : "all");
    // Only when set, so that screens without it keep their fingerprint; last,
    // so that a refused resume names it either way.
    if (o.no_self) {
      items.emplace_back("no-self", "yes");
      screen_items.emplace_back("no-self", "yes");
    }
    if (o.substructure) {
      items.emplace_back("substructure", "yes");
      screen_items.emplace_back("substructure", "yes");
    }
    for (const auto &[key, value] :
         {std::pair{"smiles-column", smiles_column}, std::pair{"name-column", name_column}}) {
      if (value == nullptr) continue;
      items.emplace_back(key, value);
      screen_items.emplace_back(key, value);
    }
    output.path = output_fn;
    if (o.shard)
      output.part =
          screen::PartRecord{*o.shard, s.first, s.last, 0, 0, fingerprint_of(screen_items)};
    try {
      output.file = std::make_unique<screen::SafeOutput>(
          output_target(output_fn), fingerprint_of(items),
          screen::header(o.format, o.names, o.substructure), o.resume, output.resumable);
    } catch (const screen::ResumeRefused &e) {
      fail(e.message);
    } catch (const screen::OutputRefused &e) {
      fail(e.message);
    } catch (const screen::WriteError &e) {
      write_failed(output, e.error);
    }
    s.first = std::max(s.first, output.file->resume_point());
    screen::catch_interrupts();
  } else {
    if (output_fn != nullptr && (output.out = std::fopen(output_fn, "w")) == nullptr) {
      write_failed(output, errno);
    }
    output.stream = std::make_unique<screen::StreamSink>(output.out, output.name);
    output.stream->write(screen::header(o.format, o.names, o.substructure));
  }
  return output;
}

// The common substructure of a kept row's pair, from the alignment that
// taviron --align reports for it, computed again on the calling thread.
screen::RowSubstructure row_substructure(const screen::EngineConfig &config, CPDMOL &query,
                                         CPDMOL &target) {
  screen::init_engine(config);
  compute_similarity(&query, &target);
  std::vector<std::pair<int, int>> aligned;
  for (const depict::AlignedAtom &a : depict::engine_alignment()) aligned.emplace_back(a.a, a.b);
  screen::RowSubstructure out;
#ifdef TAVIRON_HAVE_MOLCONVERT
  const auto origins = [](const CPDMOL &mol) -> const MoleculeAtoms * {
    const auto &atoms = molecule_atoms();
    const auto it = atoms.find(&mol);
    return it != atoms.end() ? &it->second : nullptr;
  };
  const MoleculeAtoms *qa = origins(query), *ta = origins(target);
  CommonSubstructure common = common_substructure(query, qa, target, ta, aligned);
  out.atom_pairs = std::move(common.atom_pairs);
  if (qa != nullptr) out.query_match = std::move(common.smiles_a);
  if (ta != nullptr) out.target_match = std::move(common.smiles_b);
#else
  // Records read from QTR text: the positions of their atom lines.
  for (const auto &[a, b] : aligned) out.atom_pairs.emplace_back(a - 1, b - 1);
#endif
  return out;
}

screen::StreamOptions stream_options(const Options &o, const Screen &s) {
  screen::StreamOptions so;
  so.own_target = s.own_target;
  so.run = o.run;
  so.format = o.format;
  if (o.names) {
    so.query_name = name_of;
    so.target_name = name_of;
  }
  if (o.substructure) {
    so.substructure = [config = o.run.engine](CPDMOL &q, CPDMOL &t) {
      return row_substructure(config, q, t);
    };
  }
  so.target_block = o.block;
  so.max_query_block = std::min(o.block, so.max_query_block);
  so.min_query_block = std::min(o.block, so.min_query_block);
  return so;
}

screen::Progress progress_display(const Output &output, const std::function<double()> &seconds) {
  if (!output.show_progress) return {};
  return [seconds](std::int64_t done, std::int64_t total) {
    std::fprintf(stderr, "\r%s\033[K", screen::progress_text(done, total, seconds()).c_str());
    std::fflush(stderr);
  };
}

// A shard's output is followed by its record, for the merge; the record of
// an earlier shard of another screen written to the same FILE goes.
void write_part_record(Output &output) {
  const std::string where = screen::part_record_path(output.path);
  if (!output.part) {
    std::remove(where.c_str());
    return;
  }
  output.part->bytes = output.file->bytes_written();
  output.part->crc = output.file->crc_written();
  AtomicFile record;
  const std::string text = screen::part_record_text(*output.part);
  if (!record.open(where) || std::fputs(text.c_str(), record.stream()) < 0 || !record.commit()) {
    throw screen::WriteError{errno != 0 ? errno : EIO, where};
  }
}

void close_rows(Output &output, const screen::RunStats &stats) {
  if (stats.stopped) {
    output.file->keep_for_resume();
  } else if (output.file) {
    output.file->commit();
    write_part_record(output);
  } else {
    output.stream->flush();
  }
}

std::string failure_message(std::exception_ptr failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::bad_alloc &) {
    return "out of memory";
  } catch (const std::system_error &e) {
    // A thread that cannot be started (memory or process limits) says so;
    // files are read blocking and never fail this way.
    if (e.code() == std::errc::resource_unavailable_try_again) {
      return "cannot start the worker threads: " + std::string(std::strerror(EAGAIN)) +
             " (fewer with -j)";
    }
    return "cannot read the input: " + std::string(std::strerror(e.code().value()));
  } catch (const std::exception &e) {
    return e.what();
  } catch (...) {
  }
  return "unknown failure";
}

void screen_failed(Output &output) {
  if (output.file) output.file->abandon();
  try {
    throw;
  } catch (const screen::WriteError &e) {
    write_failed(output, e.error);
  } catch (...) {
    fail(failure_message(std::current_exception()));
  }
}

int finish(const Options &o, Screen &s, Output &output, const screen::RunStats &stats,
           double elapsed) {
  if (output.show_progress) std::fprintf(stderr, "\r\033[K");
  if (stats.stopped) {
    const int sig = screen::interrupt_signal();
    if (output.resumable) {
      // Every pair computed is kept: in FILE.part, or held back for its turn.
      std::fprintf(stderr,
                   "%s: interrupted after %lld of %lld pairs; %s was left as it was; the rows so "
                   "far are kept in %s: run the same command with --resume to continue\n",
                   program(), static_cast<long long>(stats.done),
                   static_cast<long long>(stats.pairs), o.output_fn,
                   output.file->partial_path().c_str());
    } else {
      std::fprintf(stderr,
                   "%s: interrupted; %s was left as it was (a screen of standard input cannot be "
                   "resumed)\n",
                   program(), o.output_fn);
    }
    return 128 + sig;
  }

  if (!output.file) {
    errno = 0;
    bool failed = std::fflush(output.out) != 0 || std::ferror(output.out) != 0;
    failed = std::fclose(output.out) != 0 || failed;
    if (failed) write_failed(output, errno != 0 ? errno : EIO);
  }
  if (output.html != nullptr) {
    if (output.file && output.file->resume_point() > 0) {
      std::fprintf(stderr,
                   "%s: warning: %s shows only the %lld pairs of this run, not those before the "
                   "resume (all rows are in %s)\n",
                   program(), o.html_fn, static_cast<long long>(stats.pairs), o.output_fn);
    }
    write_html(*output.html, o.html_fn, output.html_results, *s.queries, *s.targets,
               {o.words, o.pairs_file, o.no_self, o.run, stats, elapsed, o.html_max, o});
  }
  if (!o.quiet) {
    std::fprintf(stderr,
                 "%s: %lld pairs, %lld skipped by the atom-count bound, %lld by the clique bound, "
                 "%lld rows, %.2f s, %.0f pairs/s\n",
                 program(), static_cast<long long>(stats.pairs),
                 static_cast<long long>(stats.skipped - stats.skipped_clique),
                 static_cast<long long>(stats.skipped_clique), static_cast<long long>(stats.kept),
                 elapsed, elapsed > 0.0 ? static_cast<double>(stats.pairs) / elapsed : 0.0);
  }
  return 0;
}

}  // namespace screen_cli
