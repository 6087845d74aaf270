// taviron-convert: SD/MOL files and SMILES lines to QTR compound records.
//
// Every input is checked for readability first, so that a wrong file name
// ends the run before anything is written. Molecules are then converted input
// by input and written as they come; unreadable ones are reported and skipped.
// A file named by -o is written aside and replaced only by a run that wrote
// records, so that a failed, interrupted or empty run leaves it as it was.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "atomic_file.h"
#include "convert/molconvert.h"
#include "gzinput.h"
#include "vembo.h"

namespace {

enum ExitStatus {
  kExitWritten = 0,  // at least one record written (or help, version)
  kExitNothing = 1,  // the inputs held no molecule that could be written
  kExitFailure = 9,  // option error, unreadable input, unwritable output, out of memory
};

// Option rows; opt_check() rewrites the array in place (element 0 becomes the
// program's base name), so the rows are writable storage.
char row_prog[] = "(prog)";
char row_inputs[] = "(all)       str,list";
char row_output[] = "o,output    str";
char row_in[] = "in          str";
char row_prefix[] = "prefix      str C";
char row_start[] = "start       str 1";
char row_keep_h[] = "keep-h      flag";
char row_min_heavy[] = "min-heavy   str 0";
char row_max_heavy[] = "max-heavy   str -1";
char row_name_field[] = "name-field  str";
char row_smiles_column[] = "smiles-column str";
char row_name_column[] = "name-column str";
char row_max_atoms[] = "max-atoms   str 10000";
char row_max_depth[] = "max-depth   str 10000";
char row_quiet[] = "q,quiet     flag";
char row_help[] = "h,help      flag";
char row_version[] = "version     flag";

char *options[] = {row_prog,          row_inputs,      row_output,    row_in,        row_prefix,
                   row_start,         row_keep_h,      row_min_heavy, row_max_heavy, row_name_field,
                   row_max_atoms,     row_max_depth,   row_quiet,     row_help,      row_version,
                   row_smiles_column, row_name_column, nullptr};

void print_help() {
  printf("Summary : convert SD/MOL files and SMILES to QTR compound records\n");
  printf("Usage  : %s <input> ... [option ...]\n", options[0]);
  printf("Options\n");
  printf("\t<input>             .sdf/.sd/.mol (SD), .smi/.smiles/.txt (SMILES), .csv/.tsv\n");
  printf("\t                    (a header line names the columns); .gz after any of\n");
  printf("\t                    them: gzip-compressed; - is stdin\n");
  printf("\t-o/--output <file>  write the records to this file (- or none: stdout);\n");
  printf("\t                    replaced only when records were written\n");
  printf("\t--in <format>       read every input in this format: sdf, smi, csv or tsv\n");
  printf("\t                    (from the extension; stdin: smi)\n");
  printf("\t--prefix <text>     identifier prefix (C)\n");
  printf("\t--start <number>    number of the first identifier (1)\n");
  printf("\t--keep-h            write every hydrogen as an atom of type H\n");
  printf("\t--min-heavy <n>     leave out molecules with fewer heavy atoms (0)\n");
  printf("\t--max-heavy <n>     leave out molecules with more heavy atoms (no limit)\n");
  printf("\t--name-field <name> take the name from this SD data field (title line)\n");
  printf("\t--smiles-column <name>  CSV/TSV column of the SMILES (smiles)\n");
  printf("\t--name-column <name>    CSV/TSV column of the names (name, if there is one)\n");
  printf("\t--max-atoms <n>     skip molecules with more atoms, hydrogens too (10000)\n");
  printf("\t--max-depth <n>     skip SMILES with branches nested deeper (10000)\n");
  printf("\t-q/--quiet          no summary line\n");
  printf("\n");
  printf("\t-h/--help           print help\n");
  printf("\t--version           print version\n");
}

void print_version() {
  printf("%s: %s ver %s (RDKit %s)\n", options[0], "TAVIRON", "1.0.7.p",
         molconvert_rdkit_version());
}

[[noreturn]] void usage_error(const std::string &message) {
  fprintf(stderr, "%s: %s\n", options[0], message.c_str());
  exit(kExitFailure);
}

// "cannot read NAME: reason" (or write) from errno, then the failure status.
[[noreturn]] void file_error(const char *verb, const std::string &name) {
  usage_error(std::string("cannot ") + verb + ' ' + name + ": " +
              strerror(errno != 0 ? errno : EIO));
}

// A whole number from an option value, at least `least`.
long number_option(const char *name, const char *text, long least) {
  errno = 0;
  char *end = nullptr;
  const long v = text != nullptr ? strtol(text, &end, 10) : 0;
  if (text == nullptr || end == text || *end != '\0' || errno != 0 || v < least) {
    usage_error(std::string("--") + name + " needs a whole number" +
                (least >= 0 ? " of at least " + std::to_string(least) : std::string()) + ", not '" +
                (text != nullptr ? text : "") + "'");
  }
  return v;
}

struct Input {
  std::string name;  // as given; "-" is the standard input
  FILE *fp;
  MolFormat format;
};

// The conversion options of the command line, each checked.
MolConvertOptions conversion_options() {
  MolConvertOptions conv;
  char *text = nullptr;
  opt_scan("prefix", &text);
  conv.prefix = text != nullptr ? text : "";
  // The identifier is one token of the ENTRY line and must start with the
  // prefix for short identifiers to be completed.
  if (conv.prefix.empty() || conv.prefix.find_first_of(" \t;") != std::string::npos) {
    usage_error("--prefix needs one or more characters other than blanks and ';'");
  }
  opt_scan("start", &text);
  conv.start = number_option("start", text, 0);
  opt_scan("min-heavy", &text);
  conv.min_heavy = number_option("min-heavy", text, 0);
  opt_scan("max-heavy", &text);
  conv.max_heavy = number_option("max-heavy", text, -1);
  opt_scan("max-atoms", &text);
  conv.max_atoms = number_option("max-atoms", text, 1);
  opt_scan("max-depth", &text);
  conv.max_depth = number_option("max-depth", text, 1);
  conv.keep_h = opt_scan("keep-h") != 0;
  text = nullptr;
  opt_scan("name-field", &text);
  if (text != nullptr) conv.name_field = text;
  text = nullptr;
  opt_scan("smiles-column", &text);
  if (text != nullptr) conv.smiles_column = text;
  text = nullptr;
  opt_scan("name-column", &text);
  if (text != nullptr) conv.name_column = text;
  if (conv.smiles_column.empty()) usage_error("--smiles-column needs a column name");
  return conv;
}

// The format --in names for every input; kNone without the option.
MolFormat forced_format() {
  char *text = nullptr;
  if (!opt_scan("in", &text)) return MolFormat::kNone;
  const MolFormat forced = molformat_from_word(text != nullptr ? text : "");
  if (forced == MolFormat::kNone) usage_error("--in takes sdf, smi, csv or tsv");
  return forced;
}

// Every input is opened before anything is converted; one that cannot be
// ends the run.
std::vector<Input> open_inputs(MolFormat forced) {
  char **words = nullptr;
  const int nwords = opt_scan("(all)", &words);
  if (nwords == 0) usage_error("no input given (- reads the standard input; see --help)");
  std::vector<Input> inputs;
  for (int i = 0; i < nwords; ++i) {
    Input in{words[i], nullptr, forced};
    const bool is_stdin = in.name == "-";
    if (in.format == MolFormat::kNone) {
      in.format = is_stdin ? MolFormat::kSmiles : molformat_from_name(in.name);
    }
    if (in.format == MolFormat::kNone) {
      usage_error("cannot tell the format of " + in.name +
                  " from its name; use --in sdf|smi|csv|tsv");
    }
    // A directory is refused here; a .gz file is decompressed here.
    std::string error;
    in.fp = is_stdin ? stdin : open_input_file(words[i], &error);
    if (in.fp == nullptr) usage_error("cannot read " + in.name + ": " + error);
    inputs.push_back(in);
  }
  free(words);
  return inputs;
}

// Whether `output` names the file an input stream reads (same device and
// inode). Only regular files count: reading and writing /dev/null, a terminal
// or a pipe loses nothing.
bool reads_file(FILE *in, const char *output) {
  struct stat si {
  }, so{};
  return fstat(fileno(in), &si) == 0 && stat(output, &so) == 0 && S_ISREG(so.st_mode) &&
         si.st_dev == so.st_dev && si.st_ino == so.st_ino;
}

// Refused before anything is opened for writing: replacing an input would
// lose it, and reading what is being written would mix the two.
void refuse_input_as_output(const std::vector<Input> &inputs, const char *output_fn) {
  for (const Input &in : inputs) {
    if (reads_file(in.fp, output_fn)) usage_error(std::string(output_fn) + ": is an input file");
  }
}

// Converts every input into `out`; a read or write failure ends the run (a
// full disk or the file size limit at once, not after the rest is converted).
void convert_all(MolConverter &converter, const std::vector<Input> &inputs, FILE *out,
                 const std::string &output_name) {
  const auto sink = [out, &output_name](const std::string &record) {
    errno = 0;
    if (fwrite(record.data(), 1, record.size(), out) != record.size()) {
      file_error("write", output_name);
    }
  };
  for (const Input &in : inputs) {
    const std::string source = in.name == "-" ? "stdin" : in.name;
    const bool ok = converter.convert(in.fp, source, in.format, sink);
    if (!ok && !converter.input_error().empty()) usage_error(converter.input_error());
    if (!ok) file_error("read", source);
    if (in.fp != stdin) fclose(in.fp);
  }
}

int run(int argc, char **argv) {
  opt_setMessagePrefix(argc > 0 && argv[0] != nullptr ? argv[0] : "taviron-convert");
  opt_check(argc, argv, options);
  if (opt_scan("help")) opt_exit(kExitWritten, print_help);
  if (opt_scan("version")) opt_exit(kExitWritten, print_version);

  const MolConvertOptions conv = conversion_options();
  const bool quiet = opt_scan("quiet") != 0;
  const MolFormat forced = forced_format();
  char *output_fn = nullptr;
  opt_scan("o", &output_fn);
  if (output_fn != nullptr && strcmp(output_fn, "-") == 0) output_fn = nullptr;  // stdout
  const std::vector<Input> inputs = open_inputs(forced);

  AtomicFile file;
  FILE *out = stdout;
  if (output_fn != nullptr) {
    refuse_input_as_output(inputs, output_fn);
    errno = 0;
    if (!file.open(output_fn)) file_error("write", output_fn);
    out = file.stream();
  }

  MolConverter converter(conv, options[0], stderr);
  convert_all(converter, inputs, out, output_fn != nullptr ? output_fn : "stdout");
  const bool written = converter.written() > 0;
  if (output_fn != nullptr) {
    // Nothing converted is no result to replace the file with.
    if (!written) {
      file.abandon();
    } else if (!file.commit()) {
      file_error("write", output_fn);
    }
  } else {
    errno = 0;
    bool write_failed = fflush(out) != 0 || ferror(out) != 0;
    write_failed = fclose(out) != 0 || write_failed;
    if (write_failed) file_error("write", "stdout");
  }
  if (!quiet) {
    fprintf(stderr, "%s: %s\n", options[0], converter.summary().c_str());
    if (!written && output_fn != nullptr) {
      fprintf(stderr, "%s: %s not written\n", options[0], output_fn);
    }
  }
  return written ? kExitWritten : kExitNothing;
}

// The program's name in messages, also before the options are read.
const char *program() {
  return options[0] != row_prog ? options[0] : "taviron-convert";
}

}  // namespace

int main(int argc, char **argv) {
  // A write past the file size limit is reported; a signal removes the
  // temporary and leaves the output as it was.
  guard_file_writes();
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc &) {
    fprintf(stderr, "%s: out of memory\n", program());
    return kExitFailure;
  }
}
