// taviron: structural similarity of two compounds read from QTR records.
//
// main() parses the command line against the option table, then reads the
// input, looks up the two entries, runs the similarity engine and writes the
// report. Every path ends the process; the exit status is one of ExitStatus.
#include "taviron.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>

#include "atomic_file.h"
#include "cpdio.h"
#include "qtrscan.h"
#include "exe1.h"
#include "molfile.h"
#include "vembo.h"

namespace {

enum ExitStatus {
  kExitSuccess = 0,
  kExitFailure = 9,
};

// Option rows; opt_check() rewrites the array in place (element 0 becomes the
// program's base name), so the rows are writable storage.
char row_prog[] = "(prog)";
char row_input[] = "i,input,(head)  str,one";
char row_output[] = "o,output        str";
char row_entry[] = "e,entry    str";
char row_entry2[] = "f,entry2   str";
char row_atom[] = "atom,a   flag";
char row_trick[] = "trick    int";
char row_align[] = "align    flag";
char row_qtroutput[] = "qtroutput flag";
char row_repeat[] = "repeat     int -1";
char row_limit[] = "limit      int 0";
char row_help[] = "help     flag";
char row_version[] = "version  flag";

char *options[] = {row_prog,  row_input, row_output,  row_entry,     row_entry2,
                   row_atom,  row_trick, row_align,   row_qtroutput, row_repeat,
                   row_limit, row_help,  row_version, nullptr};

// Run configuration.
char *input_fn = nullptr;
char *output_fn = nullptr;
char *entry = nullptr;
char *entry2 = nullptr;
int atom_mode = 1;    // 2: dock atoms by element
int exec_mode = 1;    // 8: extend the best clique
int output_mode = 1;  // 4: alignment, 32: QTR-style record pair
int maxrepeat = 0;
int limit = 0;

[[noreturn]] void fail_with_errno(const char *what) {
  perror(what);
  exit(kExitFailure);
}

// The records of a molecule file as a stream to scan, with the entries
// typed as names turned into their identifiers.
int molecule_records(const char *path, std::string (&wanted)[2]) {
  MoleculeText text;
  std::string error;
  if (!read_molecule_file(path, text, error)) {
    if (!error.empty()) fprintf(stderr, "%s: %s\n", options[0], error.c_str());
    exit(kExitFailure);
  }
  for (std::string &w : wanted) w = entry_for(text, w.c_str());
  FILE *records = tmpfile();
  if (records == nullptr ||
      fwrite(text.qtr.data(), 1, text.qtr.size(), records) != text.qtr.size() ||
      fflush(records) != 0 || fseek(records, 0, SEEK_SET) != 0) {
    fail_with_errno(path);
  }
  return fileno(records);
}

// Second half of main: input, look-up, computation, report.
[[noreturn]] void run(FILE *ofp) {
  // The input is scanned for the two records only; they alone are read in
  // full. The whole input is still read, as the completion letter and the
  // first match depend on all of it.
  int fd = 0;
  if (input_fn != nullptr && (fd = open(input_fn, O_RDONLY)) < 0) fail_with_errno(input_fn);
  // A molecule file is read as the records it converts to; its entries may
  // also be named.
  std::string wanted[2] = {entry, entry2};
  if (is_molecule_file(input_fn)) {
    close(fd);
    fd = molecule_records(input_fn, wanted);
  }
  qtrscan::Scanner scanner(fd);
  qtrscan::EntryFinder finder({wanted[0].c_str(), wanted[1].c_str()});
  qtrscan::Record rec;
  const auto wants = [&](std::string_view name) { return finder.wants(name); };
  for (std::int64_t index = 0; scanner.next(rec, wants); index++) {
    if (rec.captured) finder.offer(rec, index);
  }
  // A stream that fails while being read (a directory, an I/O error) would
  // otherwise look like a file without the entry.
  if (scanner.error() != 0) {
    errno = scanner.error();
    fail_with_errno(input_fn != nullptr ? input_fn : "stdin");
  }
  close(fd);
  if (_global_first_ == 0) _global_first_ = scanner.first_letter();

  const qtrscan::EntryFinder::Match &m1 = finder.result(0, scanner.first_letter());
  if (m1.index < 0) {
    fprintf(stderr, "%s: no such entry\n", entry);
    exit(kExitFailure);
  }
  const qtrscan::EntryFinder::Match &m2 = finder.result(1, scanner.first_letter());
  if (m2.index < 0) {
    fprintf(stderr, "%s: no such entry\n", entry2);
    exit(kExitFailure);
  }
  CPDMOL *mol1 = qtrscan::read_record(m1.record.text);
  // One record named twice is one record, as with a look-up in a list.
  CPDMOL *mol2 = m2.index == m1.index ? mol1 : qtrscan::read_record(m2.record.text);
  if (mol1 == nullptr || mol2 == nullptr) {
    fprintf(stderr, "%s: can't read the record\n", mol1 == nullptr ? entry : entry2);
    exit(kExitFailure);
  }

  // Opened only now, so that an earlier failure never creates or truncates
  // it; written aside and renamed at the end, so that an interrupted or
  // failed run leaves it as it was. Writing over the input would lose it.
  AtomicFile out;
  if (output_fn != nullptr) {
    if (same_file(output_fn, input_fn)) {
      fprintf(stderr, "%s: is the input file\n", output_fn);
      exit(kExitFailure);
    }
    if (!out.open(output_fn)) fail_with_errno(output_fn);
    ofp = out.stream();
  }

  init_exe1(atom_mode, exec_mode, output_mode, maxrepeat, limit);
  // The score line needs only the size of the largest cliques; the other
  // forms show the alignment.
  dock_pair(mol1, mol2);
  compute_docked((output_mode & (4 | 32)) != 0);
  output_similarity(ofp);

  // A report that could not be written completely is a failure, not a result.
  if (output_fn != nullptr) {
    if (!out.commit()) fail_with_errno(output_fn);
    exit(kExitSuccess);
  }
  bool write_failed = fflush(ofp) != 0 || ferror(ofp) != 0;
  write_failed = fclose(ofp) != 0 || write_failed;
  if (write_failed) fail_with_errno("stdout");
  exit(kExitSuccess);
}

}  // namespace

void print_help() {
  printf("Summary : compute the compound similarity score & coefficient\n");
  printf("Usage  : %s [-i] <file> [option ...]\n", options[0]);
  printf("Options\n");
  printf("file specifier:\n");
  printf("\t-i/--input  <file>  input file (stdin)\n");
  printf("\t-o/--output <file>  output all computational result (stdout)\n");
  printf("\n");
  printf("entry specifier:\n");
  printf("\t-e/--entry  <entry> entry id 1 (null)\n");
  printf("\t-f/--entry2 <entry> entry id 2 (null)\n");
  printf("\n");
  printf("constraint specifier:\n");
  printf("\t-a/--atom           docking by atom strictly, scoring by env\n");
  printf("\n");
  printf("output mode specifier: \n");
  printf("\t--trick <mode>      execute some tricks, set 0, 1 or 2\n");
  printf("\t--align             output the alignment of node\n");
  printf("\t--qtroutput         output in the QTR format\n");
  printf("\n");
  printf("specifier for experts: \n");
  printf("\t--repeat <integer>  repeat number for clifinder()\n");
  printf("\t--limit <number>    limit of docknig node (none)\n");
  printf("\n");
  printf("\t--help              print help\n");
  printf("\t--version           print version\n");
}

void print_version() {
  printf("%s: %s ver %s\n", options[0], "TAVIRON", "1.0.7.p");
}

int main(int argc, char **argv) {
  FILE *ofp = stdout;

  opt_check(argc, argv, options);
  opt_scan("i", &input_fn);
  opt_scan("o", &output_fn);
  opt_scan("e", &entry);
  opt_scan("f", &entry2);
  if (opt_scan("atom")) atom_mode = 2;
  int trick_value = 0;  // any value selects the extension
  if (opt_scan("trick", &trick_value)) exec_mode = 8;
  if (opt_scan("align")) output_mode = 4;
  if (opt_scan("qtroutput")) output_mode = 32;
  opt_scan("repeat", &maxrepeat);
  opt_scan("limit", &limit);
  // Values outside 1..10000 (the default 0 among them) mean the full capacity.
  if (static_cast<unsigned>(limit) - 1u > 9999u) limit = CPD_MAX;

  if (opt_scan("help")) opt_exit(kExitSuccess, print_help);
  if (opt_scan("version")) opt_exit(kExitSuccess, print_version);
  if (entry == nullptr || entry2 == nullptr) {
    printf("Specify entry name.\n");
    exit(kExitSuccess);
  }
  guard_file_writes();
  try {
    run(ofp);
  } catch (const std::bad_alloc &) {
    fprintf(stderr, "%s: out of memory\n", options[0]);
    exit(kExitFailure);
  }
}
