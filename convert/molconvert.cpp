#include "convert/molconvert.h"

#include <GraphMol/Depictor/RDDepictor.h>
#include <GraphMol/Descriptors/MolDescriptors.h>
#include <GraphMol/FileParsers/FileParsers.h>
#include <GraphMol/GraphMol.h>
#include <GraphMol/MolOps.h>
#include <GraphMol/PeriodicTable.h>
#include <GraphMol/SmilesParse/SmilesParse.h>
#include <GraphMol/SmilesParse/SmilesWrite.h>
#include <RDGeneral/RDLog.h>
#include <RDGeneral/versions.h>

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <sstream>
#include <vector>

#include "cpdio.h"
#include "gzinput.h"
#include "convert/layout.h"
#include "convert/limits.h"

namespace {

using RDKit::Atom;
using RDKit::Bond;
using RDKit::ROMol;
using RDKit::RWMol;

// ---------------------------------------------------------------- text input

// Reads a stream line by line, whatever the line length, without the line end
// (LF, or CR LF). Counts lines from 1 and notices NUL bytes, which no text
// molecule file contains.
class LineInput {
 public:
  explicit LineInput(FILE *fp) : fp_(fp) {}
  ~LineInput() { std::free(buf_); }
  LineInput(const LineInput &) = delete;
  LineInput &operator=(const LineInput &) = delete;

  bool next() {
    const ssize_t n = getline(&buf_, &cap_, fp_);
    if (n < 0) return false;
    size_t len = static_cast<size_t>(n);
    binary_ = std::memchr(buf_, '\0', len) != nullptr;
    if (len > 0 && buf_[len - 1] == '\n') --len;
    if (len > 0 && buf_[len - 1] == '\r') --len;
    line_ = std::string_view(buf_, len);
    ++number_;
    return true;
  }
  std::string_view line() const { return line_; }
  long number() const { return number_; }
  bool binary() const { return binary_; }
  bool failed() const { return std::ferror(fp_) != 0; }

 private:
  FILE *fp_;
  char *buf_ = nullptr;
  size_t cap_ = 0;
  std::string_view line_;
  long number_ = 0;
  bool binary_ = false;
};

constexpr std::string_view kBlanks = " \t";

std::string_view trim(std::string_view s) {
  const size_t first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const size_t last = s.find_last_not_of(kBlanks);
  return s.substr(first, last - first + 1);
}

bool is_blank(std::string_view s) {
  return trim(s).empty();
}

// One line of text for a warning: RDKit messages may span lines and repeat
// blanks.
std::string one_line(std::string_view text) {
  std::string out;
  bool blank = false;
  for (const char c : text) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      blank = !out.empty();
      continue;
    }
    if (blank) out += ' ';
    blank = false;
    out += c;
  }
  return out;
}

// A piece of input quoted in a warning, cut short when long; bytes that are
// not printable ASCII show as "?".
std::string in_quotes(std::string_view text) {
  constexpr size_t kMax = 60;
  std::string out = "\"";
  for (const char c : text.substr(0, kMax)) {
    const auto u = static_cast<unsigned char>(c);
    out += u >= 0x20 && u < 0x7f ? c : '?';
  }
  if (text.size() > kMax) out += "...";
  out += '"';
  return out;
}

// ------------------------------------------------------------ atom types

// Bond order as written in a record: the Kekulé order for single, double and
// triple bonds; every other kind (dative, zero-order, ...) counts as single.
int bond_order(const Bond &bond) {
  switch (bond.getBondType()) {
    case Bond::DOUBLE:
      return 2;
    case Bond::TRIPLE:
      return 3;
    default:
      return 1;
  }
}

bool is_hydrogen(const Atom &atom) {
  return atom.getAtomicNum() == 1;
}

// A dummy atom is an attachment point (R) when it carries a label: an atom map
// number or isotope in SMILES ([*:1], [1*]), an R-group symbol in a molfile (R,
// R#, R1); any other dummy or query atom is a wildcard (*).
bool is_attachment_point(const Atom &atom) {
  if (atom.getAtomMapNum() > 0 || atom.getIsotope() > 0) return true;
  if (atom.hasProp(RDKit::common_properties::_MolFileRLabel)) return true;
  std::string label;
  return atom.getPropIfPresent(RDKit::common_properties::dummyLabel, label) && !label.empty() &&
         label[0] == 'R';
}

// Elements whose bond orders may exceed their lowest valence.
bool may_expand_valence(int z) {
  switch (z) {
    case 15:  // P
    case 33:  // As
    case 51:  // Sb
    case 16:  // S
    case 34:  // Se
    case 52:  // Te
    case 17:  // Cl
    case 35:  // Br
    case 53:  // I
      return true;
    default:
      return false;
  }
}

// Environment type of one atom of a kekulized molecule; `aromatic` is the
// atom's flag from before kekulization.
std::string environment_type(const ROMol &mol, const Atom &atom, bool aromatic) {
  if (is_hydrogen(atom)) return "H";
  if (atom.getAtomicNum() == 0) return is_attachment_point(atom) ? "R" : "*";

  int heavy = 0, valence = 0, doubles = 0, triples = 0;
  bool double_to_oxygen = false;
  for (const Bond *bond : mol.atomBonds(&atom)) {
    const Atom *other = bond->getOtherAtom(&atom);
    if (is_hydrogen(*other)) continue;
    ++heavy;
    const int order = bond_order(*bond);
    valence += order;
    if (order == 2) {
      ++doubles;
      if (other->getAtomicNum() == 8) double_to_oxygen = true;
    } else if (order == 3) {
      ++triples;
    }
  }
  valence += static_cast<int>(atom.getTotalNumHs(true));

  const char *state = "sp3";
  const int z = atom.getAtomicNum();
  if (aromatic) {
    state = "ar";
  } else if (may_expand_valence(z) &&
             valence > RDKit::PeriodicTable::getTable()->getDefaultValence(z) +
                           std::abs(atom.getFormalCharge())) {
    state = "hv";
  } else if (triples > 0 || doubles >= 2) {
    state = "sp";
  } else if (doubles == 1) {
    state = "sp2";
  }
  std::string type = atom.getSymbol() + "." + state + "." + std::to_string(heavy);
  if (std::strcmp(state, "sp2") == 0 && z != 8 && double_to_oxygen) type += ".o";
  return type;
}

// Symbol in the element column and the formula: the element, R or *.
std::string element_symbol(const Atom &atom) {
  if (atom.getAtomicNum() == 0) return is_attachment_point(atom) ? "R" : "*";
  return RDKit::PeriodicTable::getTable()->getElementSymbol(atom.getAtomicNum());
}

// Charge as a formula ends with it: "+", "-", "+2", ...
std::string charge_suffix(long charge) {
  if (charge == 0) return {};
  std::string out(1, charge > 0 ? '+' : '-');
  if (std::labs(charge) > 1) out += std::to_string(std::labs(charge));
  return out;
}

// RDKit's molecular formula of the real atoms, with the attachment points
// counted as R after the elements and before the charge; wildcards are left
// out.
std::string formula(const ROMol &mol) {
  RWMol copy(mol);
  long attachments = 0;
  std::vector<unsigned> dummies;
  for (const Atom *atom : copy.atoms()) {
    if (atom->getAtomicNum() != 0) continue;
    if (is_attachment_point(*atom)) ++attachments;
    dummies.push_back(atom->getIdx());
  }
  if (!dummies.empty()) {
    // The hydrogens of the dummies' neighbours are fixed first, so that
    // removing the dummies leaves them as they are.
    for (Atom *atom : copy.atoms()) {
      atom->setNumExplicitHs(atom->getTotalNumHs());
      atom->setNoImplicit(true);
    }
    copy.beginBatchEdit();
    for (const unsigned idx : dummies) copy.removeAtom(idx);
    copy.commitBatchEdit();
    copy.updatePropertyCache(false);
  }
  std::string out = RDKit::Descriptors::calcMolFormula(copy);
  if (attachments > 0) {
    long charge = 0;
    for (const Atom *atom : copy.atoms()) charge += atom->getFormalCharge();
    const std::string suffix = charge_suffix(charge);
    if (out.size() >= suffix.size() && out.ends_with(suffix))
      out.resize(out.size() - suffix.size());
    out += "R";
    if (attachments > 1) out += std::to_string(attachments);
    out += suffix;
  }
  return out;
}

// ------------------------------------------------------------ record text

// Appends `text` in a field of `width` characters, always keeping at least one
// blank between it and the previous field.
void field(std::string &out, std::string_view text, size_t width, bool left) {
  const size_t pad = text.size() < width ? width - text.size() : 0;
  const bool joined = !out.empty() && out.back() != ' ' && out.back() != '\n';
  if (left) {
    if (joined) out += ' ';
    out += text;
    out.append(pad, ' ');
  } else {
    out.append(pad > 0 ? pad : joined ? 1 : 0, ' ');
    out += text;
  }
}

std::string coordinate(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.4f", v);
  // A value that rounds to zero is written without its sign.
  if (std::strcmp(buf, "-0.0000") == 0) return "0.0000";
  return buf;
}

// Keyword line: the keyword in columns 1-12, the value from column 13.
void keyword_line(std::string &out, std::string_view keyword, std::string_view value) {
  field(out, keyword, 12, true);
  out += value;
  out += '\n';
}

// The names of a molecule: its name split at ";", each trimmed, with control
// characters (tabs among them) turned into blanks.
std::vector<std::string> split_names(std::string_view name) {
  std::string clean(name);
  for (char &c : clean) {
    if (std::iscntrl(static_cast<unsigned char>(c))) c = ' ';
  }
  std::vector<std::string> names;
  std::string_view rest = clean;
  for (;;) {
    const size_t semi = rest.find(';');
    const std::string_view part = trim(rest.substr(0, semi));
    if (!part.empty()) names.emplace_back(part);
    if (semi == std::string_view::npos) break;
    rest.remove_prefix(semi + 1);
  }
  return names;
}

void write_names(std::string &out, std::string_view name) {
  const std::vector<std::string> names = split_names(name);
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string value = names[i] + (i + 1 < names.size() ? ";" : "");
    keyword_line(out, i == 0 ? "NAME" : "", value);
  }
}

// Every hydrogen bonded to a heavy atom (or a dummy) becomes implicit; those
// without one (H2, a proton or hydride ion) stay, so that such a molecule is
// not left without atoms. The molecule is sanitized afterwards; one read
// without sanitizing only needs its valences first.
void remove_hydrogens(RWMol &mol, bool sanitized) {
  if (!sanitized) mol.updatePropertyCache(false);
  RDKit::MolOps::RemoveHsParameters ps;
  ps.removeHigherDegrees = true;
  ps.removeIsotopes = true;
  ps.removeDummyNeighbors = true;
  ps.removeDefiningBondStereo = true;
  ps.removeWithWedgedBond = true;
  ps.removeWithQuery = true;
  ps.removeMapped = true;
  ps.removeInSGroups = true;
  ps.showWarnings = false;
  ps.removeHydrides = true;
  ps.removeNontetrahedralNeighbors = true;
  RDKit::MolOps::removeHs(mol, ps);
}

int heavy_atoms(const ROMol &mol) {
  int n = 0;
  for (const Atom *atom : mol.atoms()) n += atom->getAtomicNum() > 1 ? 1 : 0;
  return n;
}

// 2D coordinates: RDKit's depiction of the whole molecule up to the layout
// limit, above it piece by piece, whose time grows linearly with the size.
void draw_2d(RWMol &mol, long layout_limit) {
  if (static_cast<long>(mol.getNumAtoms()) > layout_limit) {
    piecewise_2d_coords(mol);
  } else {
    RDDepict::compute2DCoords(mol, nullptr, true);
  }
}

// Hydrogens made implicit (unless `remove_h` is false: already done) or, with
// keep_h, all made explicit after the heavy atoms; 2D coordinates drawn, bonds
// kekulized. Returns the aromatic flags of the atoms from before
// kekulization.
std::vector<bool> prepare(RWMol &mol, const MolConvertOptions &options, bool remove_h,
                          bool sanitized) {
  if (remove_h) remove_hydrogens(mol, sanitized);
  if (options.keep_h) RDKit::MolOps::addHs(mol);
  draw_2d(mol, options.layout_limit);
  std::vector<bool> aromatic;
  aromatic.reserve(mol.getNumAtoms());
  for (const Atom *atom : mol.atoms()) aromatic.push_back(atom->getIsAromatic());
  RDKit::MolOps::Kekulize(mol);
  return aromatic;
}

// Record text of a prepared molecule.
std::string record_text(const RWMol &mol, const std::vector<bool> &aromatic,
                        const std::string &identifier, std::string_view name) {
  std::string out;
  field(out, "ENTRY", 12, true);
  // The identifier column is 28 wide; a longer identifier keeps one blank.
  field(out, identifier, 28, true);
  if (identifier.size() >= 28) out += ' ';
  out += "Compound\n";
  write_names(out, name);
  const unsigned n = mol.getNumAtoms();
  if (n > 0) keyword_line(out, "FORMULA", formula(mol));
  keyword_line(out, "ATOM", std::to_string(n));
  const RDKit::Conformer *conf = n > 0 ? &mol.getConformer() : nullptr;
  for (const Atom *atom : mol.atoms()) {
    const unsigned i = atom->getIdx();
    const RDGeom::Point3D &p = conf->getAtomPos(i);
    std::string line(12, ' ');
    field(line, std::to_string(i + 1), 4, true);
    field(line, environment_type(mol, *atom, aromatic[i]), 11, true);
    field(line, element_symbol(*atom), 2, true);
    field(line, coordinate(p.x), 11, false);
    field(line, coordinate(p.y), 11, false);
    out += line;
    out += '\n';
  }
  if (mol.getNumBonds() > 0) {
    keyword_line(out, "BOND", std::to_string(mol.getNumBonds()));
    for (const Bond *bond : mol.bonds()) {
      std::string line(12, ' ');
      field(line, std::to_string(bond->getIdx() + 1), 4, true);
      field(line, std::to_string(bond->getBeginAtomIdx() + 1), 3, false);
      field(line, std::to_string(bond->getEndAtomIdx() + 1), 4, false);
      field(line, std::to_string(bond_order(*bond)), 2, false);
      out += line;
      out += '\n';
    }
  }
  out += "///\n";
  return out;
}

// Each atom's index in the molecule as read, before hydrogens go or come.
constexpr const char *kInputIndex = "taviron_input_index";

void tag_input_indices(RWMol &mol) {
  for (Atom *atom : mol.atoms()) atom->setProp<int>(kInputIndex, static_cast<int>(atom->getIdx()));
}

// Where the atoms of a prepared (kekulized) molecule came from, and the
// molecule as SMILES numbered by record atom.
MoleculeAtoms input_atoms(const RWMol &mol) {
  MoleculeAtoms out;
  RWMol numbered(mol);
  for (Atom *atom : numbered.atoms()) {
    int index = -1;
    atom->getPropIfPresent<int>(kInputIndex, index);
    out.input.push_back(index);
    atom->setAtomMapNum(static_cast<int>(atom->getIdx()) + 1);
  }
  RDKit::SmilesWriteParams ps;
  ps.doKekule = true;
  ps.canonical = false;
  try {  // the indices stand without it: matched parts are then left empty
    numbered.updatePropertyCache(false);
    if (!numbered.getRingInfo()->isInitialized()) RDKit::MolOps::fastFindRings(numbered);
    out.smiles = RDKit::MolToSmiles(numbered, ps);
  } catch (const std::exception &) {
    out.smiles.clear();
  }
  return out;
}

// Hydrogens of each atom of a prepared molecule that its record does not
// write as atoms (all of them, unless keep_h made them atoms).
std::vector<int> implicit_hydrogens(const RWMol &mol) {
  std::vector<int> out;
  out.reserve(mol.getNumAtoms());
  for (const Atom *atom : mol.atoms()) out.push_back(static_cast<int>(atom->getTotalNumHs(false)));
  return out;
}

std::string identifier_for(const std::string &prefix, long number) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%05ld", number);
  return prefix + digits;
}

// Runs `step`, turning what RDKit throws into a reason; false on failure.
// Exhausted memory is no fault of the molecule: it ends the conversion.
template <class Step>
bool guarded(Step step, std::string *reason) {
  try {
    step();
    return true;
  } catch (const std::bad_alloc &) {
    throw;
  } catch (const std::exception &e) {
    *reason = one_line(e.what());
  } catch (...) {
    *reason = "unexpected error";
  }
  if (reason->empty()) *reason = "invalid structure";
  return false;
}

// Why a molecule of this size is not read, or empty when it may be. The
// limits keep the parser and everything after it to sizes the tool handles.
std::string size_refusal(long atoms, long depth, const MolConvertOptions &options) {
  if (options.max_depth >= 0 && depth > options.max_depth) {
    return "branches nested " + std::to_string(depth) + " deep, more than the limit of " +
           std::to_string(options.max_depth) + " (--max-depth)";
  }
  if (options.max_atoms >= 0 && atoms > options.max_atoms) {
    return std::to_string(atoms) + " atoms, more than the limit of " +
           std::to_string(options.max_atoms) + " (--max-atoms)";
  }
  return {};
}

// A large molecule is read without RDKit's sanitization step, which perceives
// stereochemistry at a cost that grows steeply with the number of atoms (a
// chain of 10,000 atoms takes minutes); it is sanitized once its hydrogens are
// removed. Stereo only shapes the drawing of double bonds, which no field of a
// record depends on otherwise.
std::unique_ptr<RWMol> parse_smiles(const std::string &smiles, bool sanitize, std::string *reason) {
  std::unique_ptr<RWMol> mol;
  const bool ok = guarded(
      [&] {
        RDKit::SmilesParserParams params;
        params.parseName = false;
        params.removeHs = false;
        params.sanitize = sanitize;
        mol.reset(RDKit::SmilesToMol(smiles, params));
      },
      reason);
  if (ok && !mol) *reason = "cannot parse SMILES " + in_quotes(smiles);
  if (!ok) mol.reset();
  return mol;
}

// The SMILES of a line (with a following CXSMILES extension |...|, if any)
// and the name: the rest of the line.
void split_smiles_line(std::string_view line, std::string *smiles, std::string *name) {
  line = trim(line);
  size_t end = line.find_first_of(kBlanks);
  if (end != std::string_view::npos) {
    const size_t ext = line.find_first_not_of(kBlanks, end);
    if (line[ext] == '|') {
      const size_t close = line.find('|', ext + 1);
      if (close != std::string_view::npos) end = close + 1;
    }
  }
  *smiles = std::string(line.substr(0, end));
  *name = end == std::string_view::npos ? std::string() : std::string(trim(line.substr(end)));
}

// Value of a data field in the lines of an SD record after its molfile part.
bool sd_field(const std::vector<std::string> &lines, size_t from, const std::string &field_name,
              std::string *value) {
  const std::string tag = "<" + field_name + ">";
  for (size_t i = from; i < lines.size(); ++i) {
    if (lines[i].empty() || lines[i][0] != '>') continue;
    if (lines[i].find(tag) == std::string::npos) continue;
    *value = i + 1 < lines.size() ? lines[i + 1] : std::string();
    return true;
  }
  return false;
}

}  // namespace

// RDKit logs parse and sanitization errors on its own; while a converter
// lives, they are reported as this module's warnings instead.
struct MolConverter::Quiet {
  RDLog::LogStateSetter off;
};

MolFormat molformat_from_name(std::string_view path) {
  path = without_gz(path);
  const size_t dot = path.rfind('.');
  const size_t slash = path.rfind('/');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) {
    return MolFormat::kNone;
  }
  std::string ext(path.substr(dot + 1));
  for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == "sdf" || ext == "sd" || ext == "mol") return MolFormat::kSdf;
  if (ext == "smi" || ext == "smiles" || ext == "txt") return MolFormat::kSmiles;
  if (ext == "csv") return MolFormat::kCsv;
  if (ext == "tsv") return MolFormat::kTsv;
  return MolFormat::kNone;
}

MolFormat molformat_from_word(std::string_view word) {
  std::string w(word);
  for (char &c : w) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (w == "sdf" || w == "mol") return MolFormat::kSdf;
  if (w == "smi" || w == "smiles") return MolFormat::kSmiles;
  if (w == "csv") return MolFormat::kCsv;
  if (w == "tsv") return MolFormat::kTsv;
  return MolFormat::kNone;
}

MolConverter::MolConverter(MolConvertOptions options, std::string program, FILE *warnings)
    : options_(std::move(options)),
      program_(std::move(program)),
      warnings_(warnings),
      quiet_(std::make_unique<Quiet>()) {}

MolConverter::~MolConverter() = default;

// The identifier of the molecule met last: every molecule takes the number of
// its place in the inputs, written or not, so a record keeps its identifier
// whatever happens to the molecules before it.
std::string MolConverter::identifier() const {
  return identifier_for(options_.prefix, options_.start + seen_ - 1);
}

void MolConverter::warn(const std::string &source, long line, long molecule,
                        const std::string &reason) {
  if (warnings_ == nullptr) return;
  std::fprintf(warnings_, "%s: %s:%ld: molecule %ld (%s) skipped: %s\n", program_.c_str(),
               source.c_str(), line, molecule, identifier().c_str(), reason.c_str());
}

// A MOL file holds one record and needs no "$$$$" after it; any other SD
// input ends each record with one. An input cut inside the molfile part has
// lost atoms or bonds either way.
void MolConverter::check_cut_record(const std::vector<std::string> &lines,
                                    const std::string &source, long line, long molecule) {
  const bool molfile_ends = std::any_of(
      lines.begin(), lines.end(), [](const std::string &l) { return l.substr(0, 6) == "M  END"; });
  const std::string_view name = without_gz(source);
  const bool mol_file =
      name.size() > 4 && strncasecmp(name.data() + name.size() - 4, ".mol", 4) == 0;
  if (molfile_ends && mol_file) return;
  cut_record_ = source + ":" + std::to_string(line) + ": the last record, molecule " +
                std::to_string(molecule) + " (" + identifier() + "), ends without its " +
                (molfile_ends ? "$$$$" : "M  END") + " line";
  if (warnings_ != nullptr) {
    std::fprintf(warnings_, "%s: warning: %s\n", program_.c_str(), cut_record_.c_str());
  }
}

std::string MolConverter::summary() const {
  char buf[256];
  std::snprintf(buf, sizeof buf,
                "%ld of %ld molecules written (%ld unreadable, %ld outside the heavy-atom range",
                written_, seen_, failed_, filtered_);
  std::string out = buf;
  if (too_large_ > 0) out += ", " + std::to_string(too_large_) + " over the size limit";
  return out + ")";
}

namespace {

// Outcome of converting one molecule.
enum class Outcome { kWritten, kFiltered, kFailed, kTooLarge };

}  // namespace

bool MolConverter::convert(FILE *in, const std::string &source, MolFormat format,
                           const std::function<void(const std::string &)> &sink) {
  input_error_.clear();
  cut_record_.clear();
  switch (format) {
    case MolFormat::kSdf:
      return convert_sdf(in, source, sink);
    case MolFormat::kCsv:
      return convert_table(in, source, ',', sink);
    case MolFormat::kTsv:
      return convert_table(in, source, '\t', sink);
    default:
      return convert_smiles(in, source, sink);
  }
}

namespace {

// Filters, prepares and writes one molecule; `reason` is set on failure.
// `sanitized` tells whether the parser sanitized it.
Outcome finish(RWMol &mol, std::string_view name, const MolConvertOptions &options,
               const std::string &identifier, bool sanitized, std::string *record,
               std::string *reason, std::vector<int> *hydrogens = nullptr,
               MoleculeAtoms *atoms = nullptr) {
  // The counts the text gave are checked before parsing; this catches any
  // input whose parsed molecule came out larger.
  *reason = size_refusal(mol.getNumAtoms(), 0, options);
  if (!reason->empty()) return Outcome::kTooLarge;
  std::vector<bool> aromatic;
  int heavy = 0;
  if (atoms != nullptr) tag_input_indices(mol);
  const bool ok = guarded(
      [&] {
        remove_hydrogens(mol, sanitized);
        heavy = heavy_atoms(mol);
      },
      reason);
  if (!ok) return Outcome::kFailed;
  if (heavy < options.min_heavy || (options.max_heavy >= 0 && heavy > options.max_heavy)) {
    return Outcome::kFiltered;
  }
  // Small molecules take the hydrogen pass a second time, as they always
  // have; large ones skip its repeated sanitization.
  if (!guarded([&] { aromatic = prepare(mol, options, sanitized, true); }, reason)) {
    return Outcome::kFailed;
  }
  if (atoms != nullptr) *atoms = input_atoms(mol);
  *record = record_text(mol, aromatic, identifier, name);
  if (hydrogens != nullptr) *hydrogens = implicit_hydrogens(mol);
  return Outcome::kWritten;
}

// The molfile part of an SD record (its lines up to "M  END") parsed by
// RDKit; null with the reason when it cannot be read. `first_line` is the
// record's line number in its input, so that RDKit's messages name lines of
// the whole input.
std::unique_ptr<RWMol> parse_molfile(const std::vector<std::string> &lines, long first_line,
                                     bool sanitize, std::string *reason) {
  size_t end = 0;
  while (end < lines.size() && lines[end].substr(0, 6) != "M  END") ++end;
  std::string block;
  for (size_t i = 0; i < lines.size() && i <= end; ++i) {
    block += lines[i];
    block += '\n';
  }
  std::unique_ptr<RWMol> mol;
  const bool parsed = guarded(
      [&] {
        std::istringstream stream(block);
        unsigned line = static_cast<unsigned>(first_line - 1);
        mol.reset(RDKit::MolDataStreamToMol(stream, line, sanitize, false));
      },
      reason);
  if (parsed && !mol) *reason = "cannot read the molfile";
  return mol;
}

// Converts one SD record (its lines before "$$$$"), named by its title line
// or the name field; *name is the name it goes by.
Outcome convert_sd_record(const std::vector<std::string> &lines, long first_line,
                          const MolConvertOptions &options, const std::string &identifier,
                          std::string *name, std::string *record, std::string *reason,
                          MoleculeAtoms *origins) {
  // The molfile part ends at "M  END"; data fields follow it.
  size_t end = 0;
  while (end < lines.size() && lines[end].substr(0, 6) != "M  END") ++end;
  *name = lines[0];
  if (!options.name_field.empty()) {
    std::string value;
    if (sd_field(lines, end, options.name_field, &value)) *name = value;
  }
  const long atoms = molfile_atom_count(lines);
  *reason = size_refusal(atoms, 0, options);
  if (!reason->empty()) return Outcome::kTooLarge;
  const std::string bad_bond = molfile_bond_problem(lines);
  if (!bad_bond.empty()) {
    *reason = bad_bond;
    return Outcome::kFailed;
  }
  const bool small = atoms <= options.layout_limit;
  std::unique_ptr<RWMol> mol = parse_molfile(lines, first_line, small, reason);
  if (!mol) return Outcome::kFailed;
  return finish(*mol, *name, options, identifier, small, record, reason, nullptr, origins);
}

// The fields of a CSV line (fields may be quoted with '"', a doubled quote
// standing for one; a quoted field does not span lines) or of a TSV line.
std::vector<std::string> split_fields(std::string_view line, char separator) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (separator == ',' && c == '"') {
      if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else {
        quoted = !quoted;
      }
    } else if (c == separator && !quoted) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

struct TableColumns {
  long smiles = -1;
  long name = -1;  // -1: no names
};

// The column of a header named `wanted`: the exact name, else the one name
// equal to it ignoring case; -1 when there is none.
long column_named(const std::vector<std::string> &header, const std::string &wanted) {
  long folded = -1;
  int folded_count = 0;
  for (size_t k = 0; k < header.size(); ++k) {
    const std::string_view h = trim(header[k]);
    if (h == wanted) return static_cast<long>(k);
    if (h.size() == wanted.size() && strncasecmp(h.data(), wanted.data(), h.size()) == 0) {
      folded = static_cast<long>(k);
      ++folded_count;
    }
  }
  return folded_count == 1 ? folded : -1;
}

TableColumns find_columns(const std::vector<std::string> &header, const MolConvertOptions &options,
                          std::string *error) {
  TableColumns c;
  c.smiles = column_named(header, options.smiles_column);
  if (c.smiles < 0) {
    *error = "no column '" + options.smiles_column + "' in the header line (--smiles-column)";
    return c;
  }
  c.name = column_named(header, options.name_column.empty() ? "name" : options.name_column);
  if (c.name < 0 && !options.name_column.empty()) {
    *error = "no column '" + options.name_column + "' in the header line (--name-column)";
  }
  return c;
}

}  // namespace

bool MolConverter::convert_smiles(FILE *in, const std::string &source,
                                  const std::function<void(const std::string &)> &sink) {
  LineInput input(in);
  long molecule = 0;
  while (input.next()) {
    if (input.binary()) {
      return binary_input(source, input.number(), ++molecule, !input.failed());
    }
    const std::string_view line = trim(input.line());
    if (line.empty() || line[0] == '#') continue;
    ++seen_;
    ++molecule;
    std::string smiles, name;
    split_smiles_line(line, &smiles, &name);
    convert_one_smiles(smiles, name, source, input.number(), molecule, sink);
  }
  return !input.failed();
}

bool MolConverter::binary_input(const std::string &source, long line, long molecule, bool ok) {
  ++seen_;
  ++failed_;
  warn(source, line, molecule, "binary data; rest of the input ignored");
  return ok;
}

void MolConverter::convert_one_smiles(const std::string &smiles, const std::string &name,
                                      const std::string &source, long line, long molecule,
                                      const std::function<void(const std::string &)> &sink) {
  std::string reason, record;
  const SmilesSize size = measure_smiles(smiles);
  reason = size_refusal(size.atoms, size.depth, options_);
  Outcome outcome = Outcome::kTooLarge;
  if (smiles.empty()) {
    outcome = Outcome::kFailed;
    reason = "no SMILES in column '" + options_.smiles_column + "'";
  } else if (reason.empty()) {
    const bool small = size.atoms <= options_.layout_limit;
    std::unique_ptr<RWMol> mol = parse_smiles(smiles, small, &reason);
    outcome = Outcome::kFailed;
    if (mol) {
      outcome = finish(*mol, name, options_, identifier(), small, &record, &reason, nullptr,
                       options_.atom_origins ? &atoms_ : nullptr);
    }
  }
  tally(static_cast<int>(outcome), source, line, molecule, name, record, reason, sink);
}

bool MolConverter::convert_table(FILE *in, const std::string &source, char separator,
                                 const std::function<void(const std::string &)> &sink) {
  LineInput input(in);
  long molecule = 0;
  std::optional<TableColumns> columns;
  while (input.next()) {
    if (input.binary()) {
      return binary_input(source, input.number(), ++molecule, !input.failed());
    }
    if (is_blank(input.line())) continue;
    const std::vector<std::string> fields = split_fields(input.line(), separator);
    if (!columns) {  // the header line names the columns
      columns = find_columns(fields, options_, &input_error_);
      if (!input_error_.empty()) {
        input_error_ = source + ":" + std::to_string(input.number()) + ": " + input_error_;
        return false;
      }
      continue;
    }
    ++seen_;
    ++molecule;
    const auto field = [&](long k) {
      return k >= 0 && static_cast<size_t>(k) < fields.size()
                 ? std::string(trim(fields[static_cast<size_t>(k)]))
                 : std::string();
    };
    convert_one_smiles(field(columns->smiles), field(columns->name), source, input.number(),
                       molecule, sink);
  }
  return !input.failed();
}

bool MolConverter::convert_sdf(FILE *in, const std::string &source,
                               const std::function<void(const std::string &)> &sink) {
  LineInput input(in);
  long molecule = 0;
  std::vector<std::string> lines;
  long first_line = 0;
  bool more = true;
  while (more) {
    more = input.next();
    if (more && input.binary()) {
      return binary_input(source, input.number(), ++molecule, !input.failed());
    }
    const bool end_of_record = !more || input.line().substr(0, 4) == "$$$$";
    if (!end_of_record) {
      if (lines.empty()) first_line = input.number();
      lines.emplace_back(input.line());
      continue;
    }
    // A record is what stands before "$$$$" (or the end of the input); blank
    // lines alone, such as after the last record, are none.
    const bool empty =
        std::all_of(lines.begin(), lines.end(), [](const std::string &l) { return is_blank(l); });
    if (empty) {
      lines.clear();
      continue;
    }
    if (!more && input.failed()) break;
    ++seen_;
    ++molecule;
    std::string name, record, reason;
    const Outcome outcome =
        convert_sd_record(lines, first_line, options_, identifier(), &name, &record, &reason,
                          options_.atom_origins ? &atoms_ : nullptr);
    tally(static_cast<int>(outcome), source, first_line, molecule, name, record, reason, sink);
    if (!more) check_cut_record(lines, source, first_line, molecule);
    lines.clear();
  }
  return !input.failed();
}

void MolConverter::tally(int outcome, const std::string &source, long line, long molecule,
                         const std::string &name, const std::string &record,
                         const std::string &reason,
                         const std::function<void(const std::string &)> &sink) {
  switch (static_cast<Outcome>(outcome)) {
    case Outcome::kWritten:
      ++written_;
      last_name_ = name;
      last_atoms_ = std::move(atoms_);
      atoms_ = {};
      sink(record);
      break;
    case Outcome::kFiltered:
      ++filtered_;
      break;
    case Outcome::kFailed:
      ++failed_;
      warn(source, line, molecule, reason);
      break;
    case Outcome::kTooLarge:
      ++too_large_;
      warn(source, line, molecule, reason);
      break;
  }
}

CompList *read_molecules_as_CPDMOL(FILE *fp, const char *source, MolFormat format,
                                   MolConverter &converter, std::vector<std::string> *names,
                                   std::vector<MoleculeAtoms> *atoms) {
  CompList *list = complist_new();
  converter.convert(fp, source != nullptr ? source : "", format, [&](const std::string &text) {
    // The reader takes the record from a stream over the text itself.
    FILE *mem = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
    if (mem == nullptr) return;
    if (CPDMOL *mol = read_CPDMOL_QTR(mem)) {
      complist_add(list, mol);
      if (names != nullptr) names->push_back(converter.last_name());
      if (atoms != nullptr) atoms->push_back(converter.last_atoms());
    }
    std::fclose(mem);
  });
  return list;
}

CompList *read_molecule_file_as_CPDMOL(const char *path, MolFormat format, MolConverter &converter,
                                       std::vector<std::string> *names, std::string *error,
                                       std::vector<MoleculeAtoms> *atoms) {
  const bool is_stdin = std::strcmp(path, "-") == 0;
  if (format == MolFormat::kNone)
    format = is_stdin ? MolFormat::kSmiles : molformat_from_name(path);
  if (format == MolFormat::kNone) {
    errno = 0;
    return nullptr;
  }
  FILE *fp = is_stdin ? stdin : open_input_file(path, error);
  if (fp == nullptr) return nullptr;
  CompList *list =
      read_molecules_as_CPDMOL(fp, is_stdin ? "stdin" : path, format, converter, names, atoms);
  int read_error = std::ferror(fp) ? (errno != 0 ? errno : EIO) : 0;
  if (read_error != 0 && error != nullptr) *error = std::strerror(read_error);
  if (!is_stdin) std::fclose(fp);
  if (read_error == 0 && !converter.input_error().empty()) {
    read_error = EINVAL;
    if (error != nullptr) *error = converter.input_error();
  }
  if (read_error != 0) {
    delete list;  // made by complist_new; its records stay with the reader
    errno = read_error;
    return nullptr;
  }
  return list;
}

bool smiles_to_QTR(const std::string &smiles, const std::string &name,
                   const std::string &identifier, const MolConvertOptions &options,
                   std::string *record, std::string *error, std::vector<int> *hydrogens,
                   MoleculeAtoms *atoms) {
  RDLog::LogStateSetter quiet;
  const SmilesSize size = measure_smiles(smiles);
  std::string reason = size_refusal(size.atoms, size.depth, options);
  const bool small = size.atoms <= options.layout_limit;
  std::unique_ptr<RWMol> mol;
  if (reason.empty()) mol = parse_smiles(smiles, small, &reason);
  if (mol) reason = size_refusal(mol->getNumAtoms(), 0, options);
  std::vector<bool> aromatic;
  if (mol && atoms != nullptr) tag_input_indices(*mol);
  if (mol && reason.empty() &&
      guarded([&] { aromatic = prepare(*mol, options, true, small); }, &reason)) {
    if (atoms != nullptr) *atoms = input_atoms(*mol);
    *record = record_text(*mol, aromatic, identifier, name);
    if (hydrogens != nullptr) *hydrogens = implicit_hydrogens(*mol);
    return true;
  }
  if (error != nullptr) *error = reason;
  return false;
}

bool molblock_to_QTR(const std::string &molblock, const std::string &identifier,
                     const MolConvertOptions &options, std::string *record, std::string *error,
                     std::vector<int> *hydrogens, MoleculeAtoms *origins) {
  auto fail = [error](const std::string &reason) {
    if (error != nullptr) *error = reason;
    return false;
  };
  if (molblock.find('\0') != std::string::npos) return fail("binary data");
  // The lines of the first SD record, as convert_sdf() reads them.
  std::vector<std::string> lines;
  std::istringstream in(molblock);
  bool more_records = false;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.substr(0, 4) == "$$$$") {
      std::string rest;
      while (std::getline(in, rest)) {
        if (!is_blank(rest) && rest != "\r") more_records = true;
      }
      break;
    }
    lines.push_back(line);
  }
  if (std::all_of(lines.begin(), lines.end(), [](const std::string &l) { return is_blank(l); })) {
    return fail("no molecule in the molblock");
  }
  if (more_records) return fail("more than one molecule in the molblock");

  RDLog::LogStateSetter quiet;
  const long atoms = molfile_atom_count(lines);
  std::string reason = size_refusal(atoms, 0, options);
  if (reason.empty()) reason = molfile_bond_problem(lines);
  if (!reason.empty()) return fail(reason);
  const bool small = atoms <= options.layout_limit;
  std::unique_ptr<RWMol> mol = parse_molfile(lines, 1, small, &reason);
  MolConvertOptions all = options;  // one molecule asked for: no heavy-atom range
  all.min_heavy = 0;
  all.max_heavy = -1;
  if (mol && finish(*mol, lines[0], all, identifier, small, record, &reason, hydrogens, origins) ==
                 Outcome::kWritten) {
    return true;
  }
  return fail(reason);
}

const char *molconvert_rdkit_version() {
  return RDKit::rdkitVersion;
}
