// taviron-depict: two compounds drawn side by side as SVG (or PNG), the atoms
// that taviron aligns highlighted piece by piece.
//
// Takes taviron's input and computation options, runs the same computation
// and writes one picture instead of the report. A file named by -o is written
// aside and replaced only once the whole picture is written, so that a failed
// or interrupted run leaves it as it was.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "atomic_file.h"
#include "cpdio.h"
#include "depict/depict.h"
#include "depict/png.h"
#include "exe1.h"
#include "molfile.h"
#include "vembo.h"

namespace {

constexpr int kExitFailure = 9;

// Option rows; opt_check() rewrites the array in place.
char row_prog[] = "(prog)";
char row_input[] = "i,input,(head)  str,one";
char row_output[] = "o,output        str";
char row_entry[] = "e,entry    str";
char row_entry2[] = "f,entry2   str";
char row_atom[] = "atom,a   flag";
char row_trick[] = "trick    int";
char row_repeat[] = "repeat     int -1";
char row_limit[] = "limit      int 0";
char row_png[] = "png      flag";
char row_scale[] = "scale    str";
char row_help[] = "h,help   flag";
char row_version[] = "version  flag";

char *options[] = {row_prog,   row_input, row_output, row_entry, row_entry2, row_atom,    row_trick,
                   row_repeat, row_limit, row_png,    row_scale, row_help,   row_version, nullptr};

// The program's name in messages, also before the options are read.
const char *program() {
  return options[0] != row_prog ? options[0] : "taviron-depict";
}

[[noreturn]] void fail(const std::string &message) {
  std::fprintf(stderr, "%s: %s\n", program(), message.c_str());
  std::exit(kExitFailure);
}

void print_help() {
  printf("Summary : draw two compounds as SVG with their alignment highlighted\n");
  printf("Usage   : %s [-i] <file> -e <entry> -f <entry> [option ...]\n", options[0]);
  printf("\t-i/--input  <file>  QTR records (stdin), or an SD/MOL/SMILES file (.sdf .sd .mol\n");
  printf("\t                    .smi .smiles)\n");
  printf("\t-o/--output <file>  picture file (stdout)\n");
  printf("\t-e/--entry  <entry> entry id 1 (or, in a molecule file, a unique name)\n");
  printf("\t-f/--entry2 <entry> entry id 2 (likewise)\n");
  printf("\t--png               write PNG instead of SVG (%s)\n",
         depict::png_available() ? "rendered by librsvg" : "not built: needs librsvg2-dev");
  printf("\t--scale <factor>    PNG pixels per SVG pixel, 0.1 to 10 (2)\n");
  printf("\n");
  printf("computation (as taviron):\n");
  printf("\t-a/--atom           docking by atom strictly, scoring by env\n");
  printf("\t--trick <mode>      extend the best alignment along bonds\n");
  printf("\t--repeat <integer>  step budget of the clique search (15000; 0 none)\n");
  printf("\t--limit <number>    largest docking graph searched, 1 to 10000 (10000)\n");
  printf("\n");
  printf("\t-h/--help           print help\n");
  printf("\t--version           print version\n");
}

void print_version() {
  printf("%s: %s ver %s\n", options[0], "TAVIRON", "1.0.7.p");
}

// The records of the input: QTR text, or the records a molecule file
// converts to (with the entries typed as names turned into identifiers).
CompList *read_records(const char *input_fn, const std::string &input_name,
                       std::string (&wanted)[2]) {
  if (is_molecule_file(input_fn)) {
    if (access(input_fn, R_OK) != 0)
      fail("cannot read " + input_name + ": " + std::strerror(errno));
    MoleculeText text;
    std::string error;
    if (!read_molecule_file(input_fn, text, error)) {
      if (!error.empty()) fail(error);
      std::exit(kExitFailure);
    }
    for (std::string &w : wanted) w = entry_for(text, w.c_str());
    text.qtr += '\n';  // a stream of no records is still a stream
    FILE *records = fmemopen(text.qtr.data(), text.qtr.size(), "r");
    if (records == nullptr) fail("cannot read " + input_name + ": " + std::strerror(errno));
    CompList *list = read_CPDMOL_list_QTR(records);
    std::fclose(records);
    return list;
  }
  FILE *in = input_fn != nullptr ? std::fopen(input_fn, "r") : stdin;
  if (in == nullptr) fail("cannot read " + input_name + ": " + std::strerror(errno));
  errno = 0;
  CompList *list = read_CPDMOL_list_QTR(in);
  // A stream that fails while being read would otherwise look like one
  // without the entries.
  if (std::ferror(in)) {
    fail("cannot read " + input_name + ": " + std::strerror(errno != 0 ? errno : EIO));
  }
  std::fclose(in);
  return list;
}

// The two records named by -e and -f, read from the input.
std::pair<CPDMOL *, CPDMOL *> read_pair(const char *input_fn, char *entry, char *entry2) {
  const std::string input_name = input_fn != nullptr ? input_fn : "standard input";
  std::string wanted[2] = {entry, entry2};
  CompList *list = read_records(input_fn, input_name, wanted);
  const int e1 = nsearch_CPDMOL(list, wanted[0].data());
  if (e1 == 0) fail(std::string(entry) + ": no such entry in " + input_name);
  const int e2 = nsearch_CPDMOL(list, wanted[1].data());
  if (e2 == 0) fail(std::string(entry2) + ": no such entry in " + input_name);
  return {static_cast<CPDMOL *>(complist_getdata(list, e1)),
          static_cast<CPDMOL *>(complist_getdata(list, e2))};
}

// The --scale factor, 2 when not given.
double scale_option() {
  char *text = nullptr;
  if (!opt_scan("scale", &text) || text == nullptr) return 2.0;
  char *end = nullptr;
  const double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(v >= 0.1 && v <= 10)) {
    fail(std::string("bad value for --scale: '") + text + "' (expected a number from 0.1 to 10)");
  }
  return v;
}

[[noreturn]] void cannot_write(const std::string &name) {
  fail("cannot write " + name + ": " + std::strerror(errno != 0 ? errno : EIO));
}

// Opened only now, so that an earlier failure never creates or truncates it;
// written aside and renamed over it at the end, so that it is never left
// empty or cut short.
void write_picture(const char *output_fn, const std::string &picture) {
  AtomicFile file;
  errno = 0;
  if (output_fn != nullptr && !file.open(output_fn)) cannot_write(output_fn);
  FILE *out = output_fn != nullptr ? file.stream() : stdout;
  const std::string output_name = output_fn != nullptr ? output_fn : "standard output";
  errno = 0;
  if (std::fwrite(picture.data(), 1, picture.size(), out) != picture.size()) {
    cannot_write(output_name);
  }
  if (output_fn != nullptr) {
    if (!file.commit()) cannot_write(output_name);
    return;
  }
  bool failed = std::fflush(out) != 0 || std::ferror(out) != 0;
  failed = std::fclose(out) != 0 || failed;
  if (failed) cannot_write(output_name);
}

// Writing over the input would lose it: refused before anything is computed
// or opened for writing. Only regular files count (/dev/null, a pipe or a
// terminal loses nothing); without -i the input is the standard input.
void refuse_input_as_output(const char *input_fn, const char *output_fn) {
  if (output_fn == nullptr) return;
  struct stat si {
  }, so{};
  const bool input_known =
      input_fn != nullptr ? stat(input_fn, &si) == 0 : fstat(STDIN_FILENO, &si) == 0;
  if (input_known && stat(output_fn, &so) == 0 && S_ISREG(so.st_mode) && si.st_dev == so.st_dev &&
      si.st_ino == so.st_ino) {
    fail(std::string(output_fn) + ": is the input file");
  }
}

int run(int argc, char **argv) {
  opt_setMessagePrefix(argc > 0 && argv[0] != nullptr ? argv[0] : "taviron-depict");
  opt_check(argc, argv, options);
  if (opt_scan("help")) opt_exit(0, print_help);
  if (opt_scan("version")) opt_exit(0, print_version);

  char *input_fn = nullptr, *output_fn = nullptr, *entry = nullptr, *entry2 = nullptr;
  opt_scan("i", &input_fn);
  opt_scan("o", &output_fn);
  opt_scan("e", &entry);
  opt_scan("f", &entry2);
  const int atom_mode = opt_scan("atom") ? 2 : 1;
  int trick_value = 0;  // any value selects the extension, as in taviron
  const int exec_mode = opt_scan("trick", &trick_value) ? 8 : 1;
  int repeat = -1, limit = 0;
  opt_scan("repeat", &repeat);
  opt_scan("limit", &limit);
  // Values outside 1..10000 (the default 0 among them) mean the full capacity.
  if (static_cast<unsigned>(limit) - 1u > 9999u) limit = CPD_MAX;
  const bool png = opt_scan("png") != 0;
  const double scale = scale_option();
  if (png && !depict::png_available()) {
    fail("built without PNG output (apt-get install librsvg2-dev, then build again)");
  }
  if (entry == nullptr || entry2 == nullptr) fail("specify both entries with -e and -f");
  refuse_input_as_output(input_fn, output_fn);
  const auto [a, b] = read_pair(input_fn, entry, entry2);

  init_exe1(atom_mode, exec_mode, 1, repeat, limit);
  const depict::PairInfo info = depict::compute_pair(a, b);
  std::string picture = depict::pair_svg(*a, *b, info);
  if (png) {
    try {
      picture = depict::svg_to_png(picture, scale);
    } catch (const depict::PngError &e) {
      fail(e.what());
    }
  }
  write_picture(output_fn, picture);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  // A write past the file size limit is reported; a signal removes the
  // temporary and leaves the output as it was.
  guard_file_writes();
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc &) {
    std::fprintf(stderr, "%s: out of memory\n", program());
    return kExitFailure;
  }
}
