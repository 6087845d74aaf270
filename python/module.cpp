// taviron._taviron: the Python face of the engine. Translation only: records,
// comparisons and screens are pyengine's; this file turns them into Python
// objects and errors, and lets go of the interpreter lock while the engine
// works.
#include <pybind11/functional.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "depict/depict.h"
#include "cpddock.h"
#include "depict/png.h"
#include "gzinput.h"
#include "pyengine.h"
#ifdef TAVIRON_HAVE_MOLCONVERT
#include "convert/molconvert.h"
#endif
#include "convert/substructure.h"  // MoleculeAtoms alone needs no RDKit

namespace py = pybind11;

namespace {

// Record text is bytes; names that are not UTF-8 are shown with U+FFFD
// rather than refused.
py::str text(const char *s) {
  if (s == nullptr) return py::str("");
  PyObject *o = PyUnicode_DecodeUTF8(s, static_cast<Py_ssize_t>(std::strlen(s)), "replace");
  if (o == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(o);
}
py::str text(const std::string &s) {
  return text(s.c_str());
}

// Named tuple types made at import; held for the life of the process.
struct Types {
  py::handle atom, bond, aligned, row;
};
Types types;

// A compound as Python sees it: a prepared record and the arena it lives in.
struct Compound {
  pyengine::Record record;
  std::vector<int> hydrogens;  // per atom, from the molecule of from_smiles etc.; else empty
  std::shared_ptr<const MoleculeAtoms> origins;  // of a converted molecule; else null

  CPDMOL *mol() const { return record.mol; }
  std::string id() const { return mol()->name != nullptr ? mol()->name : ""; }
};

std::vector<Compound> compounds(std::vector<pyengine::Record> records) {
  std::vector<Compound> out;
  out.reserve(records.size());
  for (auto &r : records) out.push_back({std::move(r), {}, nullptr});
  return out;
}

py::list atoms_list(const Compound &c) {
  py::list out;
  for (const pyengine::Atom &a : pyengine::atoms_of(*c.mol())) {
    out.append(types.atom(a.number, text(a.type), text(a.element), a.x, a.y));
  }
  return out;
}

py::list bonds_list(const Compound &c) {
  py::list out;
  for (const pyengine::Bond &b : pyengine::bonds_of(*c.mol())) {
    out.append(types.bond(b.a, b.b, b.order));
  }
  return out;
}

std::string compound_repr(const Compound &c) {
  const CPDMOL *m = c.mol();
  std::string out = "<Compound " + std::string(py::repr(text(c.id())));
  if (m->definition != nullptr) out += " " + std::string(py::repr(text(m->definition)));
  return out + ", " + std::to_string(m->nodenum) + " atoms>";
}

// The outcome of compare(): the numbers at once, the report and the
// alignment on request, by running the same pair again.
struct Result {
  Compound a, b;
  pyengine::Options options;
  screen::PairResult pair;
  std::optional<std::vector<pyengine::AlignedPair>> aligned;  // once asked for

  const std::vector<pyengine::AlignedPair> &alignment() {
    if (!aligned) {
      std::vector<pyengine::AlignedPair> pairs;
      {
        py::gil_scoped_release release;
        pairs = pyengine::alignment(a.mol(), b.mol(), options);
      }
      aligned = std::move(pairs);
    }
    return *aligned;
  }
};

// The common substructure in the molecules' own atom indices.
CommonSubstructure common_part(Result &r) {
  std::vector<std::pair<int, int>> aligned;
  for (const pyengine::AlignedPair &p : r.alignment()) aligned.emplace_back(p.a, p.b);
#ifdef TAVIRON_HAVE_MOLCONVERT
  return common_substructure(*r.a.mol(), r.a.origins.get(), *r.b.mol(), r.b.origins.get(), aligned);
#else
  CommonSubstructure out;  // records read from QTR text: positions of their atom lines
  for (const auto &[a, b] : aligned) out.atom_pairs.emplace_back(a - 1, b - 1);
  return out;
#endif
}

py::list atom_pairs_list(Result &r) {
  py::list out;
  for (const auto &[a, b] : common_part(r).atom_pairs) out.append(py::make_tuple(a, b));
  return out;
}

// The matched part of compound a (first) or b as SMILES; None for a record
// read from QTR text.
py::object matched_part(Result &r, bool first) {
  if ((first ? r.a : r.b).origins == nullptr) return py::none();
  const CommonSubstructure common = common_part(r);
  return text(first ? common.smiles_a : common.smiles_b);
}

py::list alignment_list(Result &r) {
  py::list out;
  for (const pyengine::AlignedPair &p : r.alignment()) out.append(types.aligned(p.a, p.b, p.piece));
  return out;
}

std::string report(Result &r, const std::string &form) {
  pyengine::ReportForm f;
  if (form == "score") {
    f = pyengine::ReportForm::kScore;
  } else if (form == "align") {
    f = pyengine::ReportForm::kAlign;
  } else if (form == "qtr") {
    f = pyengine::ReportForm::kQtr;
  } else {
    throw py::value_error("bad value for form: '" + form + "' (expected score, align or qtr)");
  }
  py::gil_scoped_release release;
  return pyengine::report(r.a.mol(), r.b.mol(), r.options, f);
}

py::dict as_dict(Result &r) {
  py::dict d;
  d["a"] = text(r.a.id());
  d["b"] = text(r.b.id());
  d["atoms_a"] = r.pair.query_atoms;
  d["atoms_b"] = r.pair.target_atoms;
  d["score"] = r.pair.score;
  d["coefficient"] = r.pair.coefficient;
  d["status"] = pyengine::status_word(r.pair);
  d["proven"] = r.pair.proven;
  py::list pairs;
  for (const pyengine::AlignedPair &p : r.alignment())
    pairs.append(py::make_tuple(p.a, p.b, p.piece));
  d["alignment"] = pairs;
  d["atom_pairs"] = atom_pairs_list(r);
  d["smiles_a"] = matched_part(r, true);
  d["smiles_b"] = matched_part(r, false);
  return d;
}

// Notebooks show objects with _repr_svg_ as pictures.
std::string compound_svg(const Compound &c) {
  py::gil_scoped_release release;
  return depict::compound_svg(*c.mol(), {}, c.hydrogens);
}

std::string result_svg(const Result &r) {
  py::gil_scoped_release release;
  return pyengine::depiction(r.a.mol(), r.b.mol(), r.options, r.a.hydrogens, r.b.hydrogens);
}

// The picture as PNG bytes, rendered by librsvg.
py::bytes png_of(const std::string &svg, double scale) {
  if (!(scale >= 0.1 && scale <= 10)) {
    throw py::value_error("bad value for scale: " + std::string(py::repr(py::float_(scale))) +
                          " (expected a number from 0.1 to 10)");
  }
  std::string png;
  {
    py::gil_scoped_release release;
    png = depict::svg_to_png(svg, scale);  // PngError is a RuntimeError
  }
  return py::bytes(png);
}

std::string result_repr(const Result &r) {
  char coefficient[32];
  std::snprintf(coefficient, sizeof coefficient, "%f", r.pair.coefficient);
  return "<Result " + std::string(py::repr(text(r.a.id()))) + " " +
         std::string(py::repr(text(r.b.id()))) + ": score " + std::to_string(r.pair.score) +
         ", coefficient " + coefficient + ", " + pyengine::status_word(r.pair) + ">";
}

pyengine::Options options(bool atom, bool trick, long long repeat, long long limit) {
  try {
    return pyengine::make_options(atom, trick, repeat, limit);
  } catch (const std::invalid_argument &e) {
    throw py::value_error(e.what());
  }
}

[[noreturn]] void raise_os_error(int error, const py::object &path) {
  errno = error;
  PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path.ptr());
  throw py::error_already_set();
}

// An input read as far as it goes, but not in silence: a UserWarning that
// names the cut record (an error when warnings are turned into errors).
void warn_cut_record(const std::string &message) {
  if (message.empty()) return;
  if (PyErr_WarnEx(PyExc_UserWarning, message.c_str(), 1) != 0) throw py::error_already_set();
}

void warn_cut_qtr(const std::string &source, const std::string &id) {
  if (!id.empty())
    warn_cut_record(source + ": the last record, " + id + ", ends without its /// line");
}

std::vector<Compound> read_qtr(const py::object &path) {
  // str, bytes or a path object, as open() takes them.
  const py::object os = py::module_::import("os");
  const py::object name = os.attr("fspath")(path);
  const std::string file = py::cast<std::string>(py::bytes(os.attr("fsencode")(name)));
  FILE *fp = open_input_file(file.c_str());  // a .gz file decompressed
  if (fp == nullptr) raise_os_error(errno, name);
  struct Close {
    FILE *fp;
    ~Close() { std::fclose(fp); }
  } close{fp};
  try {
    std::vector<Compound> out = compounds(pyengine::read_records(fp, file));
    warn_cut_qtr(py::cast<std::string>(os.attr("fsdecode")(name)),
                 pyengine::cut_record(fileno(fp)));
    return out;
  } catch (const std::system_error &e) {
    raise_os_error(e.code().value(), name);
  } catch (const pyengine::NoRecords &e) {
    throw py::value_error(e.what());
  }
}

std::vector<Compound> parse_qtr(const py::object &source) {
  std::string data;
  if (py::isinstance<py::bytes>(source)) {
    data = py::cast<std::string>(source);
  } else if (py::isinstance<py::str>(source)) {
    // Text read with errors="surrogateescape" comes back byte for byte; a
    // lone surrogate is a UnicodeEncodeError naming it.
    data = py::cast<std::string>(py::bytes(source.attr("encode")("utf-8", "surrogateescape")));
  } else {
    throw py::type_error("parse_qtr() expects str or bytes");
  }
  try {
    std::vector<Compound> out = compounds(pyengine::parse_records(data, "<string>"));
    warn_cut_qtr("<string>", pyengine::cut_record_of_text(data));
    return out;
  } catch (const pyengine::NoRecords &e) {
    throw py::value_error(e.what());
  }
}

// Seconds of clique search per pair: None for no limit.
double checked_time_limit(std::optional<double> seconds) {
  if (!seconds) return 0;
  if (!(*seconds > 0 && *seconds <= 1e6)) {
    throw py::value_error("bad value for time_limit: " + std::to_string(*seconds) +
                          " (expected seconds above 0, up to 1000000, or None)");
  }
  return *seconds;
}

Result compare(const Compound &a, const Compound &b, bool atom, bool trick, long long repeat,
               long long limit, std::optional<double> time_limit) {
  Result r{a, b, options(atom, trick, repeat, limit), {}, std::nullopt};
  r.options.time_limit = checked_time_limit(time_limit);
  py::gil_scoped_release release;
  r.pair = pyengine::compare(a.mol(), b.mol(), r.options);
  return r;
}

std::vector<CPDMOL *> records_of(const py::handle &seq, const char *what,
                                 std::vector<Compound> &keep) {
  std::vector<CPDMOL *> out;
  for (const py::handle item : py::iter(seq)) {
    if (!py::isinstance<Compound>(item)) {
      throw py::type_error(std::string(what) + " must hold taviron.Compound objects, not " +
                           std::string(py::str(py::type::of(item).attr("__name__"))));
    }
    const Compound &c = item.cast<const Compound &>();
    keep.push_back(c);
    out.push_back(c.mol());
  }
  return out;
}

std::optional<double> checked_min(std::optional<double> min) {
  if (min && !(*min >= 0.0 && *min <= 1.0)) {
    throw py::value_error("bad value for min: " + std::string(py::repr(py::float_(*min))) +
                          " (expected a number from 0 to 1)");
  }
  return min;
}

int checked_top(std::optional<long long> top) {
  if (!top) return 0;
  if (*top < 1 || *top > 1000000000) {
    throw py::value_error("bad value for top: " + std::to_string(*top) +
                          " (expected a positive whole number)");
  }
  return static_cast<int>(*top);
}

int checked_jobs(std::optional<long long> jobs) {
  if (!jobs) return pyengine::processors();
  if (*jobs < 1 || *jobs > 1024) {
    throw py::value_error("bad value for jobs: " + std::to_string(*jobs) +
                          " (expected a whole number from 1 to 1024)");
  }
  return static_cast<int>(*jobs);
}

// The screen on the engine's threads, without the interpreter lock. The
// caller's progress callable runs on this thread with the lock taken again,
// and so does a chance for Ctrl-C to stop the screen; what either raises
// ends the screen and is raised here.
std::vector<screen::PairResult> run_without_lock(const std::vector<CPDMOL *> &q,
                                                 const std::vector<CPDMOL *> &t, bool triangle,
                                                 const pyengine::ScreenOptions &so,
                                                 const py::object &progress,
                                                 pyengine::ScreenCounts *counts = nullptr) {
  std::optional<py::error_already_set> raised;
  const pyengine::Progress tick = [&](std::int64_t done, std::int64_t total) {
    py::gil_scoped_acquire acquire;
    try {
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
      if (!progress.is_none()) progress(done, total);
    } catch (py::error_already_set &e) {
      raised.emplace(std::move(e));
      return false;
    }
    return true;
  };
  try {
    py::gil_scoped_release release;
    if (counts != nullptr) return pyengine::run_counted(q, t, triangle, so, tick, *counts);
    return pyengine::run(q, t, triangle, so, tick);
  } catch (const pyengine::ScreenStopped &) {
    throw std::move(*raised);
  }
}

pyengine::ScreenOptions screen_options(std::optional<double> min, std::optional<long long> top,
                                       std::optional<long long> jobs, bool atom, bool trick,
                                       long long repeat, long long limit,
                                       std::optional<double> time_limit,
                                       const py::object &progress) {
  pyengine::ScreenOptions so;
  so.engine = options(atom, trick, repeat, limit);
  so.engine.time_limit = checked_time_limit(time_limit);
  so.min = checked_min(min);
  so.top = checked_top(top);
  so.threads = checked_jobs(jobs);
  if (!progress.is_none() && !PyCallable_Check(progress.ptr())) {
    throw py::type_error("progress must be callable");
  }
  return so;
}

py::list rows_list(const std::vector<screen::PairResult> &rows, const std::vector<CPDMOL *> &q,
                   const std::vector<CPDMOL *> &t) {
  py::list out;
  for (const screen::PairResult &r : rows) {
    const CPDMOL &a = *q[r.query];
    const CPDMOL &b = *t[r.target];
    out.append(types.row(text(a.name), text(b.name), r.query_atoms, r.target_atoms, r.score,
                         r.coefficient, pyengine::status_word(r), r.proven, text(a.definition),
                         text(b.definition)));
  }
  return out;
}

// The rows of a screen of the queries against the targets (every pair of
// the queries when targets is None); with `counts`, computed with both bounds
// of taviron-search, and the screen's counts.
py::list screen_rows(const py::object &queries, const py::object &targets,
                     const pyengine::ScreenOptions &so, const py::object &progress,
                     pyengine::ScreenCounts *counts) {
  std::vector<Compound> keep;  // the records stay alive whatever Python does meanwhile
  const std::vector<CPDMOL *> q = records_of(queries, "queries", keep);
  const bool triangle = targets.is_none();
  const std::vector<CPDMOL *> t = triangle ? q : records_of(targets, "targets", keep);
  return rows_list(run_without_lock(q, t, triangle, so, progress, counts), q, t);
}

py::list screen_pairs(const py::object &queries, const py::object &targets,
                      std::optional<double> min, std::optional<long long> top,
                      std::optional<long long> jobs, bool atom, bool trick, long long repeat,
                      long long limit, std::optional<double> time_limit,
                      const py::object &progress) {
  const pyengine::ScreenOptions so =
      screen_options(min, top, jobs, atom, trick, repeat, limit, time_limit, progress);
  return screen_rows(queries, targets, so, progress, nullptr);
}

// The rows of screen_pairs, computed with both bounds of taviron-search, and
// the screen's counts.
py::tuple screen_stats(const py::object &queries, const py::object &targets,
                       std::optional<double> min, std::optional<long long> top,
                       std::optional<long long> jobs, bool atom, bool trick, long long repeat,
                       long long limit, std::optional<double> time_limit,
                       const py::object &progress) {
  const pyengine::ScreenOptions so =
      screen_options(min, top, jobs, atom, trick, repeat, limit, time_limit, progress);
  pyengine::ScreenCounts counts;
  py::list rows = screen_rows(queries, targets, so, progress, &counts);
  py::dict stats;
  stats["pairs"] = counts.pairs;
  stats["skipped_atom_count"] = counts.skipped_atoms;
  stats["skipped_clique"] = counts.skipped_clique;
  stats["matched"] = counts.matched;
  stats["rows"] = py::len(rows);
  return py::make_tuple(rows, stats);
}

// Seconds the engine alone takes for `n` comparisons of the pair on this
// thread: the baseline the cost of a compare() call is measured against.
double engine_seconds(const Compound &a, const Compound &b, long long n, bool atom, bool trick) {
  const pyengine::Options o = options(atom, trick, -1, 0);
  py::gil_scoped_release release;
  const auto start = std::chrono::steady_clock::now();
  for (long long k = 0; k < n; k++) pyengine::compare(a.mol(), b.mol(), o);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

#ifdef TAVIRON_HAVE_MOLCONVERT
// Identifiers become the ENTRY field: one word of printable characters.
void check_identifier(const std::string &id) {
  bool ok = !id.empty();
  for (unsigned char c : id) ok = ok && c > ' ' && c != 0x7f;
  if (!ok)
    throw py::value_error("bad identifier: " + std::string(py::repr(text(id))) +
                          " (expected one word without blanks)");
  // The identifier must fit the first 8191 bytes of its ENTRY line, after
  // the 12 columns of the keyword, or the reader would cut it.
  constexpr std::size_t kMaxIdentifier = 8191 - 12;
  if (id.size() > kMaxIdentifier) {
    throw py::value_error("bad identifier: " + std::to_string(id.size()) + " characters (at most " +
                          std::to_string(kMaxIdentifier) + ")");
  }
}

// Text handed to RDKit ends at a NUL byte: the rest would be lost in silence.
void check_no_nul(const std::string &text, const char *what) {
  if (text.find('\0') != std::string::npos) {
    throw py::value_error(std::string(what) + " holds a NUL character");
  }
}

Compound record_compound(const std::string &record, std::vector<int> hydrogens,
                         MoleculeAtoms origins) {
  std::vector<pyengine::Record> r = pyengine::parse_records(record, "<molecule>");
  return {std::move(r.front()), std::move(hydrogens),
          std::make_shared<const MoleculeAtoms>(std::move(origins))};
}

Compound from_smiles(const std::string &smiles, const std::string &name, const std::string &id) {
  check_identifier(id);
  check_no_nul(smiles, "the SMILES");
  check_no_nul(name, "the name");
  std::string record, error;
  std::vector<int> hydrogens;
  MoleculeAtoms origins;
  if (!smiles_to_QTR(smiles, name, id, MolConvertOptions{}, &record, &error, &hydrogens,
                     &origins)) {
    throw py::value_error(error);
  }
  return record_compound(record, std::move(hydrogens), std::move(origins));
}

Compound from_molblock(const std::string &molblock, const std::string &id) {
  check_identifier(id);
  check_no_nul(molblock, "the MOL block");
  std::string record, error;
  std::vector<int> hydrogens;
  MoleculeAtoms origins;
  if (!molblock_to_QTR(molblock, id, MolConvertOptions{}, &record, &error, &hydrogens, &origins)) {
    throw py::value_error(error);
  }
  return record_compound(record, std::move(hydrogens), std::move(origins));
}

// Every molecule of an SD/MOL, SMILES, CSV or TSV file (also .gz), converted
// and numbered as taviron-convert numbers them; skipped ones leave gaps.
std::vector<Compound> read_molecules(const py::object &path, const std::string &name_field,
                                     const std::string &smiles_column,
                                     const std::string &name_column) {
  const py::object os = py::module_::import("os");
  const py::object name = os.attr("fspath")(path);
  const std::string file = py::cast<std::string>(py::bytes(os.attr("fsencode")(name)));
  MolConvertOptions options;
  options.name_field = name_field;
  options.smiles_column = smiles_column;
  options.name_column = name_column;
  options.atom_origins = true;
  MolConverter converter(options, "taviron", nullptr);
  const MolFormat format = molformat_from_name(file);
  if (format == MolFormat::kNone) throw py::value_error("not a molecule file: " + file);
  std::string error;
  FILE *fp = open_input_file(file.c_str(), &error);
  if (fp == nullptr) raise_os_error(errno, name);
  std::vector<Compound> out;
  const bool ok = converter.convert(fp, file, format, [&](const std::string &record) {
    out.push_back(record_compound(record, {}, converter.last_atoms()));
  });
  const int read_error = errno;
  std::fclose(fp);
  if (!converter.input_error().empty()) throw py::value_error(converter.input_error());
  if (!ok) raise_os_error(read_error != 0 ? read_error : EIO, name);
  warn_cut_record(converter.cut_record());
  return out;
}
#endif

}  // namespace

namespace {

// The named tuples of the module: Atom, Bond, AlignedPair, Row.
void define_types(py::module_ &m) {
  const py::object namedtuple = py::module_::import("collections").attr("namedtuple");
  auto make = [&](const char *name, std::vector<const char *> fields) {
    py::object type = namedtuple(name, fields);
    type.attr("__module__") = "taviron";
    m.attr(name) = type;
    return type.release();
  };
  types.atom = make("Atom", {"number", "type", "element", "x", "y"});
  types.bond = make("Bond", {"a", "b", "order"});
  types.aligned = make("AlignedPair", {"a", "b", "piece"});
  types.row = make("Row", {"query", "target", "query_atoms", "target_atoms", "score", "coefficient",
                           "status", "proven", "query_name", "target_name"});
}

void define_compound(py::module_ &m) {
  py::class_<Compound>(m, "Compound", "One compound record, as read from QTR text.")
      .def_property_readonly(
          "id", [](const Compound &c) { return text(c.id()); }, "Entry identifier.")
      .def_property_readonly(
          "name", [](const Compound &c) { return text(c.mol()->definition); },
          "First name of the NAME section ('' when there is none).")
      .def_property_readonly("atoms", &atoms_list,
                             "Atoms as Atom(number, type, element, x, y), numbered from 1.")
      .def_property_readonly("bonds", &bonds_list,
                             "Bonds between two of the atoms, as Bond(a, b, order).")
      .def("_repr_svg_", &compound_svg, "The compound drawn as SVG.")
      .def(
          "to_png", [](const Compound &c, double scale) { return png_of(compound_svg(c), scale); },
          py::kw_only(), py::arg("scale") = 2.0,
          "The drawing of _repr_svg_ as PNG bytes, scale pixels per SVG pixel.")
      .def("__repr__", &compound_repr);
}

void define_result(py::module_ &m) {
  py::class_<Result>(m, "Result", "The similarity of one pair, as taviron computes it.")
      .def_property_readonly(
          "score", [](const Result &r) { return r.pair.score; }, "Number of aligned atom pairs.")
      .def_property_readonly(
          "coefficient", [](const Result &r) { return r.pair.coefficient; },
          "score / (atoms_a + atoms_b - score); 0.0 when not computed.")
      .def_property_readonly(
          "status", [](const Result &r) { return pyengine::status_word(r.pair); },
          "ok, no-atoms, no-match, too-large:N or cut:N, as taviron-search writes it.")
      .def_property_readonly(
          "proven", [](const Result &r) { return r.pair.proven; },
          "True when the score is the largest there is: the clique search finished within its "
          "budget (repeat=0 has none), or nothing was searched.")
      .def_property_readonly(
          "atoms_a", [](const Result &r) { return r.pair.query_atoms; },
          "Matchable atoms (other than H and *) of the first compound.")
      .def_property_readonly(
          "atoms_b", [](const Result &r) { return r.pair.target_atoms; },
          "Matchable atoms of the second compound.")
      .def_property_readonly("alignment", &alignment_list,
                             "Aligned atoms as AlignedPair(a, b, piece), as --align lists them.")
      .def_property_readonly(
          "atom_pairs", &atom_pairs_list,
          "Aligned atoms as (a, b): 0-based indices of the atoms of the molecules given (in their "
          "order as written, hydrogens written as atoms included; for QTR records the atom "
          "lines), in the order of alignment.")
      .def_property_readonly(
          "smiles_a", [](Result &r) { return matched_part(r, true); },
          "The matched part of the first molecule as SMILES: its aligned atoms and the bonds "
          "that join aligned atoms in both (None for a QTR record).")
      .def_property_readonly(
          "smiles_b", [](Result &r) { return matched_part(r, false); },
          "The matched part of the second molecule as SMILES (None for a QTR record).")
      .def("as_dict", &as_dict, "The result as a dict of plain values.")
      .def("report", &report, py::arg("form") = "score",
           "Exactly the text taviron prints for this pair: form 'score', 'align' or 'qtr'.")
      .def("_repr_svg_", &result_svg,
           "The pair drawn as SVG, aligned atoms coloured by piece, as taviron-depict draws it.")
      .def(
          "to_png", [](const Result &r, double scale) { return png_of(result_svg(r), scale); },
          py::kw_only(), py::arg("scale") = 2.0,
          "The drawing of _repr_svg_ as PNG bytes, as taviron-depict --png renders it.")
      .def("__repr__", &result_repr);
}

void define_functions(py::module_ &m) {
  m.def("read_qtr", &read_qtr, py::arg("path"), "Every compound record of a QTR file.");
  m.def("parse_qtr", &parse_qtr, py::arg("text"), "Every compound record of a QTR text.");
  m.def("compare", &compare, py::arg("a"), py::arg("b"), py::kw_only(), py::arg("atom") = false,
        py::arg("trick") = false, py::arg("repeat") = -1, py::arg("limit") = 10000,
        py::arg("time_limit") = py::none(),
        "The similarity of two compounds, as taviron computes it.");
  m.def("screen", &screen_pairs, py::arg("queries"), py::arg("targets") = py::none(), py::kw_only(),
        py::arg("min") = py::none(), py::arg("top") = py::none(), py::arg("jobs") = py::none(),
        py::arg("atom") = false, py::arg("trick") = false, py::arg("repeat") = -1,
        py::arg("limit") = 10000, py::arg("time_limit") = py::none(),
        py::arg("progress") = py::none(),
        "The rows of taviron-search for queries against targets (all pairs within queries "
        "when targets is None).");
  m.def("screen_stats", &screen_stats, py::arg("queries"), py::arg("targets") = py::none(),
        py::kw_only(), py::arg("min") = py::none(), py::arg("top") = py::none(),
        py::arg("jobs") = py::none(), py::arg("atom") = false, py::arg("trick") = false,
        py::arg("repeat") = -1, py::arg("limit") = 10000, py::arg("time_limit") = py::none(),
        py::arg("progress") = py::none(),
        "The rows of screen() and the counts of the screen: pairs, skipped_atom_count and "
        "skipped_clique (pairs each bound of min ruled out), matched (rows at or above min "
        "before top) and rows.");
  m.def("_engine_seconds", &engine_seconds, py::arg("a"), py::arg("b"), py::arg("n"),
        py::arg("atom") = false, py::arg("trick") = false);
}

// Molecules through RDKit, when the module is built with it.
void define_molecules(py::module_ &m) {
#ifdef TAVIRON_HAVE_MOLCONVERT
  m.attr("HAVE_RDKIT") = true;
  m.attr("RDKIT_VERSION") = molconvert_rdkit_version();
  m.def("from_smiles", &from_smiles, py::arg("smiles"), py::arg("name") = "", py::kw_only(),
        py::arg("id") = "C00001", "A compound from SMILES, typed as taviron-convert types it.");
  m.def("from_molblock", &from_molblock, py::arg("molblock"), py::kw_only(),
        py::arg("id") = "C00001",
        "A compound from a molfile block, typed as taviron-convert types it.");
  m.def("_read_molecules", &read_molecules, py::arg("path"), py::arg("name_field") = "",
        py::arg("smiles_column") = "smiles", py::arg("name_column") = "",
        "Every molecule of a molecule file, as taviron-convert converts it.");
#else
  m.attr("HAVE_RDKIT") = false;
#endif
}

}  // namespace

PYBIND11_MODULE(_taviron, m) {
  m.doc() = "The taviron similarity engine (use the taviron package).";
  // An oversized docking graph is the result's status here, not a line on
  // the interpreter's standard error.
  dock_overflow_message(false);
  m.attr("HAVE_PNG") = depict::png_available();
  m.attr("__version__") = "1.0.7.p";  // as the programs' --version prints it
  define_types(m);
  define_compound(m);
  define_result(m);
  define_functions(m);
  define_molecules(m);
}
