// Molecule conversion: environment types of known groups, the record layout,
// reproduction of the bundled example records from their SD and SMILES
// sources, the in-memory reader, and bad input.
#include "convert/molconvert.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cpdio.h"
#include "exe1.h"
#include "convert/limits.h"

namespace {

std::string slurp(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

const std::string kExamples = TAVIRON_EXAMPLES_DIR;
const std::string kData = TAVIRON_CONVERT_DATA_DIR;

// Record texts of a QTR file, each ending with "///\n".
std::vector<std::string> split_records(const std::string &text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t end; (end = text.find("///\n", start)) != std::string::npos; start = end + 4) {
    out.push_back(text.substr(start, end + 4 - start));
  }
  return out;
}

struct Atom {
  std::string type, element, x, y;
};
struct Bond {
  int a, b, order;
};
struct Record {
  std::string id, first_name, formula;
  std::vector<Atom> atoms;
  std::vector<Bond> bonds;
};

// The fields of a record as written; names beyond the first are not kept.
Record parse(const std::string &text) {
  Record r;
  std::istringstream in(text);
  std::string line, section;
  while (std::getline(in, line)) {
    if (line[0] != ' ') section = line.substr(0, line.find(' '));
    std::istringstream words(line[0] == ' ' || line.size() < 12 ? line : line.substr(12));
    if (line.starts_with("ENTRY")) {
      words >> r.id;
    } else if (line.starts_with("NAME")) {
      r.first_name = line.substr(
          12, line.find(';') == std::string::npos ? std::string::npos : line.find(';') - 12);
    } else if (line.starts_with("FORMULA")) {
      words >> r.formula;
    } else if (line[0] == ' ' && section == "ATOM") {
      Atom a;
      std::string number;
      words >> number >> a.type >> a.element >> a.x >> a.y;
      r.atoms.push_back(a);
    } else if (line[0] == ' ' && section == "BOND") {
      Bond b{};
      int number = 0;
      words >> number >> b.a >> b.b >> b.order;
      r.bonds.push_back(b);
    }
  }
  return r;
}

std::string record_of(const std::string &smiles, bool keep_h = false,
                      const std::string &name = "") {
  MolConvertOptions opt;
  opt.keep_h = keep_h;
  std::string record, error;
  EXPECT_TRUE(smiles_to_QTR(smiles, name, "C00001", opt, &record, &error)) << smiles << error;
  return record;
}

// The environment types of a molecule, in atom order.
std::vector<std::string> types(const std::string &smiles, bool keep_h = false) {
  std::vector<std::string> out;
  for (const Atom &a : parse(record_of(smiles, keep_h)).atoms) out.push_back(a.type);
  return out;
}

using V = std::vector<std::string>;

// Types as the README's examples table gives them; the state comes from the
// Kekulé bond orders and the degree counts non-hydrogen neighbours.
TEST(ConvertTypes, RingsAndSubstituents) {
  EXPECT_EQ(types("c1ccccc1"), V(6, "C.ar.2"));
  EXPECT_EQ(types("Cc1ccccc1"),
            (V{"C.sp3.1", "C.ar.3", "C.ar.2", "C.ar.2", "C.ar.2", "C.ar.2", "C.ar.2"}));
  EXPECT_EQ(types("Oc1ccccc1")[0], "O.sp3.1");
  EXPECT_EQ(types("n1ccccc1")[0], "N.ar.2");
  EXPECT_EQ(types("c1ccsc1")[3], "S.ar.2");
  EXPECT_EQ(types("Clc1ccccc1")[0], "Cl.sp3.1");
  EXPECT_EQ(types("Nc1ccccc1")[0], "N.sp3.1");  // aniline N: single bonds only
  EXPECT_EQ(types("CC(C)(C)C")[1], "C.sp3.4");
  EXPECT_EQ(types("CB(C)C")[1], "B.sp3.3");
}

TEST(ConvertTypes, CarbonylsAndMultipleBonds) {
  EXPECT_EQ(types("CC(=O)O"), (V{"C.sp3.1", "C.sp2.3.o", "O.sp2.1", "O.sp3.1"}));
  EXPECT_EQ(types("CC=O"), (V{"C.sp3.1", "C.sp2.2.o", "O.sp2.1"}));
  EXPECT_EQ(types("CC(=O)OC")[3], "O.sp3.2");  // ester O
  EXPECT_EQ(types("CC(=O)N")[3], "N.sp3.1");   // amide N
  EXPECT_EQ(types("CC#N"), (V{"C.sp3.1", "C.sp.2", "N.sp.1"}));
  EXPECT_EQ(types("C=C=C")[1], "C.sp.2");         // allene: two double bonds
  EXPECT_EQ(types("CN=[N+]=[N-]")[2], "N.sp.2");  // azide middle N
  EXPECT_EQ(types("C[N+](=O)[O-]"), (V{"C.sp3.1", "N.sp2.3.o", "O.sp2.1", "O.sp3.1"}));
  EXPECT_EQ(types("CN=O")[1], "N.sp2.2.o");  // nitroso
  EXPECT_EQ(types("NC(N)=S"), (V{"N.sp3.1", "C.sp2.3", "N.sp3.1", "S.sp2.1"}));
  EXPECT_EQ(types("C=C")[0], "C.sp2.1");
}

// Expanded valence: bond orders plus hydrogens above the lowest valence plus
// the size of the charge.
TEST(ConvertTypes, ExpandedValence) {
  EXPECT_EQ(types("CS(=O)(=O)N")[1], "S.hv.4");      // sulfonamide: 6 > 2
  EXPECT_EQ(types("CS(C)=O")[1], "S.hv.3");          // sulfoxide: 4 > 2
  EXPECT_EQ(types("OP(=O)(O)O")[1], "P.hv.4");       // phosphate: 5 > 3
  EXPECT_EQ(types("CP(=O)(O)O")[1], "P.hv.4");       // phosphonate
  EXPECT_EQ(types("O=I(=O)c1ccccc1")[1], "I.hv.3");  // 5 > 1
  // RDKit's sanitization writes perchlorate as [Cl+3] with four single
  // bonds: 4 = 1 + |+3|.
  EXPECT_EQ(types("[O-]Cl(=O)(=O)=O")[1], "Cl.sp3.4");
  EXPECT_EQ(types("CSC")[1], "S.sp3.2");
  EXPECT_EQ(types("C[S+](C)C")[1], "S.sp3.3");  // 3 = 2 + |+1|: not expanded
  EXPECT_EQ(types("CP(C)C")[1], "P.sp3.3");
}

TEST(ConvertTypes, ChargesAndIons) {
  EXPECT_EQ(types("CC(=O)[O-]"), types("CC(=O)O"));
  EXPECT_EQ(types("C[NH3+]"), types("CN"));
  EXPECT_EQ(types("[Cl-]"), V{"Cl.sp3.0"});
  EXPECT_EQ(types("[Na+].[Cl-]"), (V{"Na.sp3.0", "Cl.sp3.0"}));
}

// Attachment points count as heavy neighbours; labelled dummies are R,
// unlabelled ones wildcards.
TEST(ConvertTypes, AttachmentPointsAndWildcards) {
  EXPECT_EQ(types("[*:1]C(=O)O"), (V{"R", "C.sp2.3.o", "O.sp2.1", "O.sp3.1"}));
  EXPECT_EQ(types("[1*]CO")[0], "R");
  EXPECT_EQ(types("*OCC*"), (V{"*", "O.sp3.2", "C.sp3.2", "C.sp3.2", "*"}));
  const Record r = parse(record_of("[*:1]C(=O)O"));
  EXPECT_EQ(r.formula, "CHO2R");
  EXPECT_EQ(r.atoms[0].element, "R");
  EXPECT_EQ(parse(record_of("*OCC*")).formula, "C2H4O");  // wildcards are not counted
  EXPECT_EQ(parse(record_of("*OCC*")).atoms[4].element, "*");
}

// Written hydrogens come after the heavy atoms and change no other type.
TEST(ConvertTypes, KeptHydrogens) {
  EXPECT_EQ(types("CCO", true), (V{"C.sp3.1", "C.sp3.2", "O.sp3.1", "H", "H", "H", "H", "H", "H"}));
  EXPECT_EQ(types("[H]OC([H])([H])[H]"), (V{"O.sp3.1", "C.sp3.1"}));
  // Hydrogens without a heavy neighbour stay: the molecule keeps its atoms.
  EXPECT_EQ(types("[H][H]"), (V{"H", "H"}));
}

// The hydrogens kept for pictures are the molecule's, one count per atom
// line, and asking for them leaves the record as it was.
TEST(ConvertTypes, HydrogenCountsBesideTheRecord) {
  const struct {
    const char *smiles;
    bool keep_h;
    std::vector<int> hydrogens;
  } cases[] = {
      {"OCC(N)c1cc[nH]c1", false, {1, 2, 1, 2, 0, 1, 1, 1, 1}},  // OH, NH2, aromatic NH
      {"C[N+](C)(C)C", false, {3, 0, 3, 3, 3}},                  // no H on the ammonium N
      {"[H]OC([H])([H])[H]", false, {1, 3}},                     // written H made implicit
      {"CS", true, {0, 0, 0, 0, 0, 0}},                          // --keep-h: all are atoms
      {"O=C=O", false, {0, 0, 0}},
  };
  for (const auto &c : cases) {
    MolConvertOptions opt;
    opt.keep_h = c.keep_h;
    std::string plain, record, error;
    std::vector<int> hydrogens;
    ASSERT_TRUE(smiles_to_QTR(c.smiles, "", "C00001", opt, &plain, &error)) << error;
    ASSERT_TRUE(smiles_to_QTR(c.smiles, "", "C00001", opt, &record, &error, &hydrogens));
    EXPECT_EQ(hydrogens, c.hydrogens) << c.smiles;
    EXPECT_EQ(record, plain) << c.smiles;
  }
  // A molblock's counts come through the same way.
  std::string record, error;
  std::vector<int> hydrogens;
  const std::string molblock =
      "water\n\n\n  1  0  0  0  0  0  0  0  0  0999 V2000\n"
      "    0.0000    0.0000    0.0000 O   0  0  0  0  0  0  0  0  0  0  0  0\nM  END\n";
  ASSERT_TRUE(molblock_to_QTR(molblock, "C00001", {}, &record, &error, &hydrogens)) << error;
  EXPECT_EQ(hydrogens, std::vector<int>{2});
}

// Alanine as small.qtr holds it, with its first name only.
TEST(ConvertLayout, ColumnsAndSections) {
  const std::string expected =
      "ENTRY       C00001                      Compound\n"
      "NAME        L-Alanine\n"
      "FORMULA     C3H7NO2\n"
      "ATOM        6\n"
      "            1   C.sp3.1    C      1.5000     1.2990\n"
      "            2   C.sp3.3    C      0.7500     0.0000\n"
      "            3   N.sp3.1    N      1.5000    -1.2990\n"
      "            4   C.sp2.3.o  C     -0.7500     0.0000\n"
      "            5   O.sp2.1    O     -1.5000    -1.2990\n"
      "            6   O.sp3.1    O     -1.5000     1.2990\n"
      "BOND        5\n"
      "            1     1   2 1\n"
      "            2     2   3 1\n"
      "            3     2   4 1\n"
      "            4     4   5 2\n"
      "            5     4   6 1\n"
      "///\n";
  EXPECT_EQ(record_of("C[C@H](N)C(=O)O", false, "L-Alanine"), expected);
}

TEST(ConvertLayout, NamesIonsAndEmptyMolecules) {
  // ";" separates names, one per line; a missing name leaves out NAME.
  EXPECT_EQ(record_of("[Na+].[Cl-]", false, " Sodium chloride ;Salt; "),
            "ENTRY       C00001                      Compound\n"
            "NAME        Sodium chloride;\n"
            "            Salt\n"
            "FORMULA     ClNa\n"
            "ATOM        2\n"
            "            1   Na.sp3.0   Na     0.0000     0.0000\n"
            "            2   Cl.sp3.0   Cl     1.0000     0.0000\n"
            "///\n");
  EXPECT_EQ(record_of(""),
            "ENTRY       C00001                      Compound\n"
            "ATOM        0\n"
            "///\n");
  EXPECT_EQ(parse(record_of("C[N+](C)(C)C.[Br-]")).formula, "C4H12BrN");
  EXPECT_EQ(parse(record_of("C[N+](C)(C)C")).formula, "C4H12N+");
  EXPECT_EQ(parse(record_of("OP(O)(F)=O")).formula, "H2FO3P");  // RDKit: H first without C
}

// ------------------------------------------------------------ conversion runs

struct Conversion {
  std::vector<std::string> records;
  std::string warnings;
  long seen, written, failed, filtered;
  bool ok;
};

Conversion convert_text(const std::string &text, MolFormat format, MolConvertOptions opt = {}) {
  Conversion run{};
  char *buf = nullptr;
  size_t size = 0;
  FILE *warn = open_memstream(&buf, &size);
  FILE *in = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
  {
    MolConverter conv(opt, "conv", warn);
    if (in != nullptr) {
      run.ok =
          conv.convert(in, "in", format, [&](const std::string &r) { run.records.push_back(r); });
      std::fclose(in);
    }
    run.seen = conv.seen();
    run.written = conv.written();
    run.failed = conv.failed();
    run.filtered = conv.filtered();
  }
  std::fclose(warn);
  run.warnings.assign(buf, size);
  std::free(buf);
  return run;
}

Conversion convert_file(const std::string &path, MolFormat format, MolConvertOptions opt = {}) {
  return convert_text(slurp(path), format, opt);
}

// Records of compounds.qtr that list their hydrogens.
bool keeps_hydrogens(const std::string &id) {
  const int n = std::atoi(id.c_str() + 1);
  return n % 50 == 0 && n <= 1000;
}

// The SD file holds the molecules of compounds.qtr in the same atom order. It
// cannot tell a wildcard from an attachment point (both come back as R), nor
// the second names and comments, nor the direction of a bond; all else
// matches, the coordinates too when the depiction comes from the RDKit release
// that drew the example records.
TEST(ConvertReproduction, CompoundsFromSdFile) {
  MolConvertOptions opt;
  opt.name_field = "NAME";
  const Conversion plain = convert_file(kData + "/compounds.sdf", MolFormat::kSdf, opt);
  opt.keep_h = true;
  const Conversion with_h = convert_file(kData + "/compounds.sdf", MolFormat::kSdf, opt);
  const std::vector<std::string> ref = split_records(slurp(kExamples + "/nci.qtr"));
  ASSERT_EQ(ref.size(), 1020u);
  ASSERT_EQ(plain.records.size(), ref.size());
  ASSERT_EQ(with_h.records.size(), ref.size());
  EXPECT_EQ(plain.warnings, "");
  const bool same_rdkit = std::string(molconvert_rdkit_version()).starts_with("2022.09");

  std::set<std::string> differing;
  for (size_t i = 0; i < ref.size(); ++i) {
    const Record want = parse(ref[i]);
    const std::string &text = keeps_hydrogens(want.id) ? with_h.records[i] : plain.records[i];
    if (text != ref[i]) differing.insert(want.id);
    const Record got = parse(text);
    SCOPED_TRACE(want.id);
    EXPECT_EQ(got.id, want.id);
    EXPECT_EQ(got.first_name, want.first_name);
    ASSERT_EQ(got.atoms.size(), want.atoms.size());
    int wildcards = 0;
    for (size_t k = 0; k < want.atoms.size(); ++k) {
      const bool wildcard = want.atoms[k].type == "*";
      wildcards += wildcard;
      EXPECT_EQ(got.atoms[k].type, wildcard ? "R" : want.atoms[k].type) << "atom " << k + 1;
      EXPECT_EQ(got.atoms[k].element, wildcard ? "R" : want.atoms[k].element);
      if (same_rdkit) {
        EXPECT_EQ(got.atoms[k].x, want.atoms[k].x) << "atom " << k + 1;
        EXPECT_EQ(got.atoms[k].y, want.atoms[k].y) << "atom " << k + 1;
      }
    }
    ASSERT_EQ(got.bonds.size(), want.bonds.size());
    for (size_t k = 0; k < want.bonds.size(); ++k) {
      const Bond &g = got.bonds[k], &w = want.bonds[k];
      EXPECT_TRUE((g.a == w.a && g.b == w.b) || (g.a == w.b && g.b == w.a)) << "bond " << k + 1;
      EXPECT_EQ(g.order, w.order) << "bond " << k + 1;
    }
    // Wildcards read back as attachment points, which the formula counts.
    const std::string extra = wildcards == 0 ? "" : wildcards == 1 ? "R" : "R2";
    EXPECT_EQ(got.formula, want.formula + extra);
  }
  // Byte for byte the same, but for the 20 analogue records (second names,
  // comments, wildcards).
  std::set<std::string> analogues;
  for (int n = 1001; n <= 1020; ++n) analogues.insert("C0" + std::to_string(n));
  if (same_rdkit) {
    EXPECT_EQ(differing, analogues);
  }
}

// small.smi holds the SMILES of small.qtr C00001 ... C00018 with their first
// names; ethanol and water are the records that list their hydrogens.
TEST(ConvertReproduction, SmallFromSmiles) {
  std::istringstream lines(slurp(kData + "/small.smi"));
  const std::vector<std::string> ref = split_records(slurp(kExamples + "/compounds.qtr"));
  ASSERT_EQ(ref.size(), 19u);
  std::string line;
  int n = 0;
  while (std::getline(lines, line)) {
    ++n;
    const size_t tab = line.find('\t');
    char id[16];
    std::snprintf(id, sizeof id, "C%05d", n);
    MolConvertOptions opt;
    opt.keep_h = n == 13 || n == 14;
    std::string got, error;
    ASSERT_TRUE(smiles_to_QTR(line.substr(0, tab), line.substr(tab + 1), id, opt, &got, &error));
    // The reference with its names cut down to the first one.
    std::string want = ref[n - 1];
    const size_t name = want.find("NAME        ");
    const size_t formula = want.find("FORMULA");
    const Record r = parse(want);
    want.replace(name, formula - name, "NAME        " + r.first_name + "\n");
    EXPECT_EQ(got, want);
  }
  EXPECT_EQ(n, 18);
}

// ------------------------------------------------------------ in-memory input

// Lists handed out by the readers live until exit; holding them here (in an
// object never destroyed) keeps the leak checker from reporting them.
std::vector<CompList *> &keep = *new std::vector<CompList *>;

CompList *kept(CompList *list) {
  keep.push_back(list);
  return list;
}

CompList *read_text(const std::string &text, MolFormat format, MolConverter &conv) {
  FILE *in = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
  CompList *list = kept(read_molecules_as_CPDMOL(in, "mem", format, conv));
  std::fclose(in);
  return list;
}

CPDMOL *at(CompList *list, int pos) {
  return static_cast<CPDMOL *>(complist_getdata(list, pos));
}

std::vector<std::string> lines_of(CompList *lines) {
  std::vector<std::string> out;
  for (int k = 1; k <= complist_numberof(lines); ++k) {
    out.emplace_back(static_cast<const char *>(complist_getdata(lines, k)));
  }
  return out;
}

// Converted molecules are the records the QTR reader makes of small.qtr.
TEST(ConvertInMemory, SameRecordsAsTheReader) {
  MolConvertOptions opt;
  opt.start = 9;
  MolConverter conv(opt, "conv", nullptr);
  CompList *got = read_text("Oc1ccccc1 Phenol\nN[C@@H](Cc1ccc(O)cc1)C(=O)O L-Tyrosine\n",
                            MolFormat::kSmiles, conv);
  FILE *fp = std::fopen((kExamples + "/compounds.qtr").c_str(), "r");
  ASSERT_NE(fp, nullptr);
  CompList *ref = kept(read_CPDMOL_list_QTR(fp));
  std::fclose(fp);
  ASSERT_EQ(complist_numberof(got), 2);
  for (int k = 1; k <= 2; ++k) {
    CPDMOL *g = at(got, k), *w = at(ref, k + 8);
    EXPECT_STREQ(g->name, w->name);
    EXPECT_STREQ(g->definition, w->definition);
    EXPECT_EQ(g->nodenum, w->nodenum);
    EXPECT_EQ(lines_of(g->node), lines_of(w->node));
    EXPECT_EQ(lines_of(g->connect), lines_of(w->connect));
  }

  // The same comparison report, score and coefficient alike.
  auto report = [](CPDMOL *a, CPDMOL *b) {
    char *buf = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&buf, &size);
    init_exe1(1, 1, 4, -1, CPD_MAX);
    compute_similarity(a, b);
    output_similarity(out);
    std::fclose(out);
    std::string text(buf, size);
    std::free(buf);
    return text;
  };
  const std::string expected = report(at(ref, 9), at(ref, 10));
  EXPECT_NE(expected, "");
  EXPECT_EQ(report(at(got, 1), at(got, 2)), expected);
}

TEST(ConvertInMemory, FilesByNameAndFormat) {
  MolConverter conv({}, "conv", nullptr);
  CompList *list =
      kept(read_molecule_file_as_CPDMOL((kData + "/small.smi").c_str(), MolFormat::kNone, conv));
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(complist_numberof(list), 18);
  EXPECT_STREQ(at(list, 18)->name, "C00018");
  EXPECT_STREQ(at(list, 18)->definition, "Sodium chloride");

  errno = 0;
  EXPECT_EQ(read_molecule_file_as_CPDMOL("/nonexistent/x.smi", MolFormat::kNone, conv), nullptr);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(read_molecule_file_as_CPDMOL("x.qtr", MolFormat::kNone, conv), nullptr);
  EXPECT_EQ(errno, 0);
  EXPECT_EQ(read_molecule_file_as_CPDMOL(kData.c_str(), MolFormat::kSmiles, conv), nullptr);
  EXPECT_EQ(errno, EISDIR);

  EXPECT_EQ(molformat_from_name("a/b.SDF"), MolFormat::kSdf);
  EXPECT_EQ(molformat_from_name("b.mol"), MolFormat::kSdf);
  EXPECT_EQ(molformat_from_name("b.smiles"), MolFormat::kSmiles);
  EXPECT_EQ(molformat_from_name("b.txt"), MolFormat::kSmiles);
  EXPECT_EQ(molformat_from_name("dir.smi/b"), MolFormat::kNone);
  EXPECT_EQ(molformat_from_name("b.qtr"), MolFormat::kNone);
  EXPECT_EQ(molformat_from_word("SMI"), MolFormat::kSmiles);
  EXPECT_EQ(molformat_from_word("pdb"), MolFormat::kNone);
}

// ------------------------------------------------------------ input handling

TEST(ConvertInput, UnparsableSmilesInTheMiddle) {
  const Conversion run = convert_text(
      "CCO ethanol\nC(C broken\n\n# note\nc1cccc1 ring\nCC ethane\n", MolFormat::kSmiles);
  ASSERT_EQ(run.records.size(), 2u);
  // Each molecule keeps the number of its place: the skipped ones leave gaps.
  EXPECT_EQ(parse(run.records[0]).id, "C00001");
  EXPECT_EQ(parse(run.records[1]).id, "C00004");
  EXPECT_EQ(parse(run.records[1]).first_name, "ethane");
  EXPECT_EQ(run.warnings,
            "conv: in:2: molecule 2 (C00002) skipped: cannot parse SMILES \"C(C\"\n"
            "conv: in:5: molecule 3 (C00003) skipped: Can't kekulize mol. Unkekulized atoms: 0 1 "
            "2 3 4\n");
  EXPECT_EQ(run.seen, 4);
  EXPECT_EQ(run.failed, 2);
  EXPECT_TRUE(run.ok);
}

TEST(ConvertInput, BadRecordInSdFile) {
  std::string sdf = slurp(kData + "/compounds.sdf");
  sdf.resize(sdf.find("C00004\n"));  // C00001 ... C00003: 117 lines
  const size_t second = sdf.find("C00002\n");
  const size_t counts = sdf.find('\n', sdf.find('\n', sdf.find('\n', second) + 1) + 1) + 1;
  sdf.replace(counts, 3, " xx");  // counts line of the record on lines 28 ...
  const Conversion run = convert_text(sdf, MolFormat::kSdf);
  ASSERT_EQ(run.records.size(), 2u);
  EXPECT_EQ(run.warnings,
            "conv: in:28: molecule 2 (C00002) skipped: Cannot convert ' xx' to unsigned int on "
            "line 31\n");
  EXPECT_EQ(parse(run.records[1]).first_name, "C00003");  // the title line
  EXPECT_EQ(parse(run.records[1]).id, "C00003");          // and its place
}

TEST(ConvertInput, EmptyAndBinary) {
  const Conversion empty = convert_text("", MolFormat::kSmiles);
  EXPECT_EQ(empty.seen, 0);
  EXPECT_EQ(empty.warnings, "");
  EXPECT_EQ(convert_text("\n\n", MolFormat::kSdf).seen, 0);

  const std::string binary(
      "\x7f"
      "ELF\x02\x01\x01\0\0\0\nCCO\n",
      14);
  for (MolFormat f : {MolFormat::kSmiles, MolFormat::kSdf}) {
    const Conversion run = convert_text(binary, f);
    EXPECT_EQ(run.written, 0);
    EXPECT_EQ(run.failed, 1);
    EXPECT_EQ(run.warnings,
              "conv: in:1: molecule 1 (C00001) skipped: binary data; rest of the input ignored\n");
  }
}

// CR LF line ends convert as LF ones do: blank CR LF lines are no molecules
// and a SMILES without a name gets no NAME line, in SMILES and SD input alike.
TEST(ConvertInput, CrLfLinesReadAsLfLines) {
  const auto crlf = [](std::string text) {
    for (size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2) {
      text.insert(at, 1, '\r');
    }
    return text;
  };
  const std::string smiles = "CCO\n\nCC\n \t\n# note\nC methane\n";
  const Conversion lf = convert_text(smiles, MolFormat::kSmiles);
  const Conversion cr = convert_text(crlf(smiles), MolFormat::kSmiles);
  EXPECT_EQ(cr.warnings, "");
  EXPECT_EQ(cr.seen, 3);
  ASSERT_EQ(cr.records.size(), 3u);
  EXPECT_EQ(cr.records, lf.records);
  EXPECT_EQ(cr.records[0].find("NAME"), std::string::npos);
  EXPECT_EQ(parse(cr.records[2]).first_name, "methane");

  std::string sdf = slurp(kData + "/compounds.sdf");
  sdf.resize(sdf.find("C00004\n"));
  const Conversion sd = convert_text(crlf(sdf), MolFormat::kSdf);
  EXPECT_EQ(sd.warnings, "");
  ASSERT_EQ(sd.records.size(), 3u);
  EXPECT_EQ(sd.records, convert_text(sdf, MolFormat::kSdf).records);
}

TEST(ConvertInput, LinesNamesAndOptions) {
  MolConvertOptions opt;
  opt.prefix = "D";
  opt.start = 41;
  opt.min_heavy = 2;
  opt.max_heavy = 6;
  const Conversion run = convert_text(
      "C methane\r\nCC\tethane;  bis-methyl \r\nc1ccccc1 |$;;;;;$| benzene\nCCCCCCC heptane\n",
      MolFormat::kSmiles, opt);
  ASSERT_EQ(run.records.size(), 2u);
  EXPECT_EQ(run.filtered, 2);
  // methane, left out, keeps its number D00041.
  EXPECT_NE(run.records[0].find("ENTRY       D00042 "), std::string::npos);
  EXPECT_NE(run.records[0].find("NAME        ethane;\n            bis-methyl\nFORMULA"),
            std::string::npos);
  EXPECT_EQ(parse(run.records[1]).first_name, "benzene");  // after the CXSMILES extension

  // An SD record without the named data field keeps its title.
  MolConvertOptions field;
  field.name_field = "MISSING";
  std::string sdf = slurp(kData + "/compounds.sdf");
  sdf.resize(sdf.find("C00002\n"));
  EXPECT_EQ(parse(convert_text(sdf, MolFormat::kSdf, field).records.at(0)).first_name, "C00001");
}

// ------------------------------------------------------------ size limits

TEST(ConvertLimits, SizesFromTheText) {
  struct Case {
    const char *smiles;
    long atoms, depth;
  };
  for (const Case &c : {Case{"CCO", 3, 0}, Case{"C(C(C(C)))", 4, 3}, Case{"[NH4+].[Cl-]", 2, 0},
                        Case{"ClC(Br)c1ccccc1", 9, 1}, Case{"C[C@H](N)C(=O)O", 6, 1},
                        Case{"*C(=O)[2H]", 4, 1}, Case{"C((C", 2, 2}, Case{"C[N", 2, 0}}) {
    const SmilesSize size = measure_smiles(c.smiles);
    EXPECT_EQ(size.atoms, c.atoms) << c.smiles;
    EXPECT_EQ(size.depth, c.depth) << c.smiles;
  }
  using L = std::vector<std::string>;
  const L v2000{"t", "", "", " 12 13  0  0  0  0  0  0  0  0999 V2000"};
  EXPECT_EQ(molfile_atom_count(v2000), 12);
  EXPECT_EQ(molfile_atom_count(L{"t", "", ""}), -1);
  EXPECT_EQ(molfile_atom_count(L{"t", "", "", " xx"}), -1);
  const L v3000{"t",
                "",
                "",
                "  0  0  0     0  0            999 V3000",
                "M  V30 BEGIN CTAB",
                "M  V30 COUNTS 20001 20000 0 0 0"};
  EXPECT_EQ(molfile_atom_count(v3000), 20001);
  EXPECT_EQ(molfile_atom_count(L{v3000.begin(), v3000.end() - 1}), -1);
  L bonds{"t", "", "", "  2  1  0  0  0  0  0  0  0  0999 V2000", "a", "b", "  1  2  1  0"};
  EXPECT_EQ(molfile_bond_problem(bonds), "");
  bonds[6] = "  1  3  1  0";
  EXPECT_EQ(molfile_bond_problem(bonds), "bond 1 names atom 3 of 2");
  bonds[6] = "  0  1  1  0";
  EXPECT_EQ(molfile_bond_problem(bonds), "bond 1 names atom 0 of 2");
}

TEST(ConvertLimits, LargeMoleculesSkippedWithAWarning) {
  MolConvertOptions opt;
  opt.max_atoms = 5;
  opt.max_depth = 2;
  const Conversion run =
      convert_text("CCCCCC hexane\nC(C(C(C))) deep\nCCO ethanol\n", MolFormat::kSmiles, opt);
  ASSERT_EQ(run.records.size(), 1u);
  EXPECT_EQ(parse(run.records[0]).first_name, "ethanol");
  EXPECT_EQ(
      run.warnings,
      "conv: in:1: molecule 1 (C00001) skipped: 6 atoms, more than the limit of 5 (--max-atoms)\n"
      "conv: in:2: molecule 2 (C00002) skipped: branches nested 3 deep, more than the limit of 2 "
      "(--max-depth)\n");
  MolConvertOptions ten = opt;
  ten.max_atoms = 10;
  MolConverter counts(ten, "conv", nullptr);
  std::string sdf = slurp(kData + "/compounds.sdf");
  sdf.resize(sdf.find("C00004\n"));  // molfiles of 9, 20 and 14 atoms
  FILE *in = fmemopen(sdf.data(), sdf.size(), "r");
  ASSERT_NE(in, nullptr);
  counts.convert(in, "in", MolFormat::kSdf, [](const std::string &) {});
  std::fclose(in);
  EXPECT_EQ(counts.too_large(), 2);
  EXPECT_EQ(counts.summary(),
            "1 of 3 molecules written (0 unreadable, 0 outside the heavy-atom range, 2 over the "
            "size limit)");
  std::string record, error;
  EXPECT_FALSE(smiles_to_QTR("CCCCCC", "", "C00001", opt, &record, &error));
  EXPECT_EQ(error, "6 atoms, more than the limit of 5 (--max-atoms)");
}

// Above the layout limit a molecule is drawn piece by piece: every field but
// the coordinates is as before, and no two atoms share a place.
TEST(ConvertLimits, PiecewiseDrawingKeepsEverythingButCoordinates) {
  const std::vector<std::string> smiles = {
      "N[C@@H](Cc1ccc(O)cc1)C(=O)O", std::string(250, 'C'), "c1ccc2ccccc2c1.[Na+].[Cl-].CC/C=C/C",
      "c1ccccc1." + std::string("c1ccccc1.c1ccncc1.") + "C1CCC2(CC1)CCCCC2"};
  for (const bool keep_h : {false, true}) {
    MolConvertOptions whole, pieces;
    whole.keep_h = pieces.keep_h = keep_h;
    whole.layout_limit = 100000;
    pieces.layout_limit = 8;
    for (const std::string &s : smiles) {
      SCOPED_TRACE(s);
      std::string a, b, error;
      ASSERT_TRUE(smiles_to_QTR(s, "x", "C00001", whole, &a, &error)) << error;
      ASSERT_TRUE(smiles_to_QTR(s, "x", "C00001", pieces, &b, &error)) << error;
      const Record ra = parse(a), rb = parse(b);
      EXPECT_EQ(ra.formula, rb.formula);
      ASSERT_EQ(ra.atoms.size(), rb.atoms.size());
      ASSERT_EQ(ra.bonds.size(), rb.bonds.size());
      for (size_t k = 0; k < ra.bonds.size(); ++k) {
        EXPECT_EQ(ra.bonds[k].a, rb.bonds[k].a);
        EXPECT_EQ(ra.bonds[k].b, rb.bonds[k].b);
        EXPECT_EQ(ra.bonds[k].order, rb.bonds[k].order);
      }
      std::set<std::pair<std::string, std::string>> places;
      for (size_t k = 0; k < ra.atoms.size(); ++k) {
        EXPECT_EQ(ra.atoms[k].type, rb.atoms[k].type);
        EXPECT_EQ(ra.atoms[k].element, rb.atoms[k].element);
        places.emplace(rb.atoms[k].x, rb.atoms[k].y);
      }
      EXPECT_EQ(places.size(), rb.atoms.size());
      std::string again;
      ASSERT_TRUE(smiles_to_QTR(s, "x", "C00001", pieces, &again, &error));
      EXPECT_EQ(again, b);
    }
  }
}

}  // namespace
