// Molecule input: SD/MOL files and SMILES lines turned into QTR records.
//
// Molecules are read, sanitized, depicted and kekulized by RDKit; this module
// assigns the environment types and writes the record text. Converted input
// reaches the engine as the same CPDMOL records that read_CPDMOL_QTR makes
// from a written file. RDKit stays behind this header: nothing here needs its
// headers, so modules that include it compile without them.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cpdcommon.h"
#include "convert/substructure.h"

enum class MolFormat {
  kNone,    // not a molecule file (or not known)
  kSdf,     // SD file or MOL file
  kSmiles,  // one SMILES per line, optionally followed by a name
  kCsv,     // comma-separated values with a header line naming the columns
  kTsv,     // tab-separated values with a header line naming the columns
};

// Format told by a file name's extension (.sdf, .sd, .mol: SD; .smi, .smiles,
// .txt: SMILES; .csv, .tsv; case ignored), a final ".gz" set aside; kNone for
// any other name.
MolFormat molformat_from_name(std::string_view path);
// Format named by a word ("sdf", "mol", "smi", "smiles", "csv", "tsv"; case
// ignored); kNone for any other word.
MolFormat molformat_from_word(std::string_view word);

struct MolConvertOptions {
  std::string prefix = "C";  // identifiers are the prefix and a 5-digit number
  long start = 1;            // number of the first record written
  bool keep_h = false;       // write every hydrogen as an atom of type H
  long min_heavy = 0;        // molecules with fewer heavy atoms are left out
  long max_heavy = -1;       // molecules with more are left out (negative: no limit)
  std::string name_field;    // SD data field holding the name (empty: the title line)
  long max_atoms = 10000;    // molecules with more atoms as written (H too) are skipped
  long max_depth = 10000;    // SMILES with branches nested deeper are skipped unparsed
  long layout_limit = 300;   // larger molecules: no stereo perception, piecewise depiction
  // CSV/TSV columns, found by their header name (exactly, else ignoring case).
  std::string smiles_column = "smiles";
  std::string name_column;    // empty: a column "name" if there is one, else no names
  bool atom_origins = false;  // keep where each record atom came from (last_atoms())
};

// Converts molecules input by input, numbering the molecules it meets across
// all inputs: the N-th molecule is numbered start + N - 1 whether or not the
// ones before it were written, so a skipped molecule leaves a gap. Unreadable
// molecules are reported on the warning stream, one line each with their
// place in the input and the identifier they would have had, and skipped. While a converter
// exists RDKit's own log output is silenced, so that the warning stream only
// carries this module's lines.
class MolConverter {
 public:
  explicit MolConverter(MolConvertOptions options, std::string program = "taviron-convert",
                        FILE *warnings = stderr);
  ~MolConverter();
  MolConverter(const MolConverter &) = delete;
  MolConverter &operator=(const MolConverter &) = delete;

  // Reads every molecule of the stream in order and hands the text of each
  // record written to `sink`. `source` names the input in warnings; `format`
  // is kSdf, kSmiles, kCsv or kTsv (kNone reads SMILES). Returns false when
  // the stream failed while being read (the molecules before the failure have
  // been handed over), or when a table's header lacks a column it needs
  // (input_error() then tells which).
  bool convert(FILE *in, const std::string &source, MolFormat format,
               const std::function<void(const std::string &record)> &sink);

  long seen() const { return seen_; }            // molecules met in the inputs
  long written() const { return written_; }      // records handed to a sink
  long failed() const { return failed_; }        // molecules that could not be read
  long filtered() const { return filtered_; }    // left out by the heavy-atom range
  long too_large() const { return too_large_; }  // skipped for max_atoms or max_depth
  // "N of M molecules written (F unreadable, K outside the heavy-atom range)",
  // followed by ", L over the size limit" when there were such molecules.
  std::string summary() const;
  // The name of the molecule whose record was handed to a sink last, as read
  // (title line, data field or name column), before the record's NAME line
  // splits it at ";" and blanks its control characters.
  const std::string &last_name() const { return last_name_; }
  // Where the atoms of that record came from (with the atom_origins option;
  // empty without it).
  const MoleculeAtoms &last_atoms() const { return last_atoms_; }

  const MolConvertOptions &options() const { return options_; }
  // Why the last convert() refused its input (empty when it did not).
  const std::string &input_error() const { return input_error_; }
  // When the last convert() met an SD input whose last record ends without
  // its "$$$$" line, or a MOL/SD input that ends before "M  END": the
  // warning that says so, naming the record, without the program's name
  // (empty otherwise). It is also printed on the warning stream.
  const std::string &cut_record() const { return cut_record_; }

 private:
  std::string identifier() const;  // of the molecule met last
  void warn(const std::string &source, long line, long molecule, const std::string &reason);
  // Counts and reports binary data met as the molecule-th of its input, where
  // reading stops; returns `ok`, whether the input read well up to there.
  bool binary_input(const std::string &source, long line, long molecule, bool ok);
  // The last SD record of an input ended with the input, not with "$$$$".
  void check_cut_record(const std::vector<std::string> &lines, const std::string &source, long line,
                        long molecule);
  // Counts one molecule's outcome (an Outcome of the .cpp), hands a written
  // record to the sink and warns of a failed one.
  void tally(int outcome, const std::string &source, long line, long molecule,
             const std::string &name, const std::string &record, const std::string &reason,
             const std::function<void(const std::string &)> &sink);
  bool convert_sdf(FILE *in, const std::string &source,
                   const std::function<void(const std::string &)> &sink);
  bool convert_smiles(FILE *in, const std::string &source,
                      const std::function<void(const std::string &)> &sink);
  bool convert_table(FILE *in, const std::string &source, char separator,
                     const std::function<void(const std::string &)> &sink);
  // One SMILES with its name, met on `line` as the input's molecule-th.
  void convert_one_smiles(const std::string &smiles, const std::string &name,
                          const std::string &source, long line, long molecule,
                          const std::function<void(const std::string &)> &sink);

  struct Quiet;  // RDKit's log state, restored when the converter ends
  MolConvertOptions options_;
  std::string program_;
  FILE *warnings_;
  std::unique_ptr<Quiet> quiet_;
  long seen_ = 0;
  long written_ = 0;
  long failed_ = 0;
  long filtered_ = 0;
  long too_large_ = 0;
  std::string last_name_;
  MoleculeAtoms last_atoms_;
  MoleculeAtoms atoms_;  // of the molecule being converted
  std::string input_error_;
  std::string cut_record_;
};

// Reads every molecule of the stream as CPDMOL records: each record text is
// read back with read_CPDMOL_QTR, so the records are exactly those a reader of
// the converted file would get. Returns the list (possibly empty); the
// converter's counters and warnings tell what was skipped, and a failed read
// leaves ferror(fp) set. With `names`, the name of each record in the list is
// appended there (MolConverter::last_name), and with `atoms` where its atoms
// came from (MolConverter::last_atoms, with the atom_origins option).
CompList *read_molecules_as_CPDMOL(FILE *fp, const char *source, MolFormat format,
                                   MolConverter &converter,
                                   std::vector<std::string> *names = nullptr,
                                   std::vector<MoleculeAtoms> *atoms = nullptr);

// The same for a named file ("-" is the standard input; a name ending in
// ".gz" is decompressed first). With kNone the format comes from the file
// name (the standard input: SMILES). Returns null, with errno set, when the
// file cannot be opened or read (a directory, an I/O error, corrupt gzip
// data, a table header without its SMILES column), and null with errno 0 when
// its format is unknown; `error`, when given, then holds the reason.
CompList *read_molecule_file_as_CPDMOL(const char *path, MolFormat format, MolConverter &converter,
                                       std::vector<std::string> *names = nullptr,
                                       std::string *error = nullptr,
                                       std::vector<MoleculeAtoms> *atoms = nullptr);

// One molecule given as SMILES: its record text with the given identifier and
// name, the heavy-atom range not applied. Returns false, with the reason in
// *error, when RDKit cannot read it. With `hydrogens`, the hydrogens of each
// atom that the record does not write as atoms are stored there, one count
// per atom line (pictures show them; the record text is the same either way).
// With `atoms`, where the record's atoms came from.
bool smiles_to_QTR(const std::string &smiles, const std::string &name,
                   const std::string &identifier, const MolConvertOptions &options,
                   std::string *record, std::string *error, std::vector<int> *hydrogens = nullptr,
                   MoleculeAtoms *atoms = nullptr);

// One molecule given as a molfile (an SD record; data fields after "M  END"
// are ignored): its record text with the given identifier, named by the title
// line as taviron-convert names it, the heavy-atom range not applied. Returns
// false, with the reason in *error, when RDKit cannot read it or the text
// holds no molecule or more than one. `hydrogens` and `atoms` as for
// smiles_to_QTR.
bool molblock_to_QTR(const std::string &molblock, const std::string &identifier,
                     const MolConvertOptions &options, std::string *record, std::string *error,
                     std::vector<int> *hydrogens = nullptr, MoleculeAtoms *atoms = nullptr);

// Version of the RDKit library the converter was built with.
const char *molconvert_rdkit_version();
