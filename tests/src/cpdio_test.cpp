#include "cpdio.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

// Lists handed out by the reader live until exit; holding them here (in an
// object never destroyed) keeps the leak checker from reporting them.
std::vector<CompList *> &keep = *new std::vector<CompList *>;

FILE *open_text(const std::string &text) {
  FILE *fp = std::tmpfile();
  std::fwrite(text.data(), 1, text.size(), fp);
  std::rewind(fp);
  return fp;
}

CompList *read_all(const std::string &text) {
  FILE *fp = open_text(text);
  CompList *list = read_CPDMOL_list_QTR(fp);
  std::fclose(fp);
  keep.push_back(list);
  return list;
}

CPDMOL *at(CompList *list, int pos) {
  return static_cast<CPDMOL *>(complist_getdata(list, pos));
}
std::string line(CompList *lines, int pos) {
  return static_cast<const char *>(complist_getdata(lines, pos));
}

// Result of complete_EntryName as a string, releasing a new allocation.
std::string completed(const char *name) {
  char buf[64];
  std::strcpy(buf, name);
  char *out = complete_EntryName(buf);
  std::string s = out;
  if (out != buf) std::free(out);
  EXPECT_STREQ(buf, name);  // the caller's text is never changed
  return s;
}

const std::string kAlanine =
    "ENTRY       C00001                      Compound\n"
    "NAME        L-Alanine;\n"
    "            2-Aminopropanoic acid\n"
    "FORMULA     C3H7NO2\n"
    "ATOM        3\n"
    "            1   C.sp3.1    C      1.5000     1.2990\n"
    "            2   C.sp3.3    C      0.7500     0.0000\n"
    "            3   N.sp3.1    N      1.5000    -1.2990\n"
    "BOND        2\n"
    "            1     1   2 1\n"
    "            2     2   3 1\n"
    "///\n";

// Record with the given atom lines (type, element) and bond lines (two atom
// numbers), its environments and matrix built.
CPDMOL *molecule(const std::vector<std::string> &atoms, const std::vector<std::string> &bonds) {
  std::string text = "ENTRY       X00001\nATOM\n";
  for (size_t i = 0; i < atoms.size(); ++i)
    text += "    " + std::to_string(i + 1) + " " + atoms[i] + "\n";
  text += "BOND\n";
  for (const auto &b : bonds) text += "    1 " + b + "\n";
  text += "///\n";
  CPDMOL *mol = at(read_all(text), 1);
  return matrix_CPDMOL(cnode_CPDMOL(mol));
}

char cell(const CPDMOL *mol, int p, int q) {
  return mol->matrix[static_cast<size_t>(p - 1) * mol->nodenum + (q - 1)];
}

class CpdioTest : public ::testing::Test {
 protected:
  void SetUp() override { _global_first_ = 0; }
};

TEST_F(CpdioTest, ReadsRecordFieldsAndLinesVerbatim) {
  CompList *list = read_all(kAlanine + kAlanine);
  ASSERT_EQ(complist_numberof(list), 2);
  CPDMOL *mol = at(list, 1);
  EXPECT_STREQ(mol->name, "C00001");
  EXPECT_STREQ(mol->definition, "L-Alanine");
  EXPECT_EQ(mol->nodenum, 3);
  EXPECT_EQ(mol->nodenum_sub, 3);
  EXPECT_EQ(line(mol->node, 2), "            2   C.sp3.3    C      0.7500     0.0000\n");
  EXPECT_EQ(complist_numberof(mol->connect), 2);
  EXPECT_EQ(line(mol->connect, 2), "            2     2   3 1\n");
  EXPECT_EQ(mol->cnode, nullptr);
  EXPECT_EQ(mol->matrix, nullptr);
  EXPECT_EQ(_global_first_, 'C');
}

TEST_F(CpdioTest, ReadingStopsWhereNoRecordBegins) {
  EXPECT_EQ(complist_numberof(read_all("")), 0);
  EXPECT_EQ(complist_numberof(read_all("\n" + kAlanine)), 0);
  EXPECT_EQ(complist_numberof(read_all(kAlanine + "\n" + kAlanine)), 1);
  EXPECT_EQ(complist_numberof(read_all(kAlanine + "\r\n" + kAlanine)), 1);
  EXPECT_EQ(complist_numberof(read_all("\x01\xff\0junk\n"s + kAlanine)), 0);
  // One call reads one record and leaves the stream after its "///".
  FILE *fp = open_text(kAlanine + "NEXT\n");
  EXPECT_NE(read_CPDMOL_QTR(fp), nullptr);
  char buf[16];
  EXPECT_STREQ(std::fgets(buf, sizeof buf, fp), "NEXT\n");
  std::fclose(fp);
  EXPECT_EQ(read_CPDMOL_QTR(nullptr), nullptr);
}

TEST_F(CpdioTest, NameLineGivesFirstNameFromColumn13) {
  auto def = [](const std::string &second) {
    return at(read_all("ENTRY       C00001\n" + second + "///\n"), 1)->definition;
  };
  EXPECT_STREQ(def("NAME          Two words ;x\n"), "  Two words ");  // leading blanks kept
  EXPECT_STREQ(def("NAME        First\tSecond\n"), "First");
  EXPECT_STREQ(def("NAME        NoSemicolon\r\n"), "NoSemicolon");
  EXPECT_STREQ(def("NAME        ;After\n"), "After");
  EXPECT_EQ(def("NAME        ;\n"), nullptr);
  EXPECT_EQ(def("NAME  short\n"), nullptr);  // nothing at column 13
  EXPECT_EQ(def("NAME\n"), nullptr);
  EXPECT_EQ(def("FORMULA     X\nNAME        Late\n"), nullptr);
}

TEST_F(CpdioTest, SectionsAndCountsAreSkipped) {
  CPDMOL *mol = at(read_all("ENTRY       C00001\n"
                            "ATOM        99\n"
                            "    1 A A\n"
                            "\tc2 B B\n"
                            "\n"
                            "\r\n"
                            "EXTRA       x\n"
                            "  not an atom\n"
                            "BOND        99\n"
                            "    1 1 2\n"
                            "COMMENT     x\n"
                            "    1 2 3\n"
                            "///\n"),
                   1);
  // Tab-led, empty and CR LF lines are continuation lines, hence atoms.
  EXPECT_EQ(mol->nodenum, 4);
  EXPECT_EQ(line(mol->node, 3), "\n");
  EXPECT_EQ(line(mol->node, 4), "\r\n");
  EXPECT_EQ(complist_numberof(mol->connect), 1);

  mol = at(read_all("ENTRY       C00001\n///\n"), 1);
  EXPECT_EQ(mol->nodenum, 0);
  EXPECT_EQ(complist_numberof(mol->node), 0);
  EXPECT_EQ(complist_numberof(mol->connect), 0);
  EXPECT_EQ(mol->definition, nullptr);
}

TEST_F(CpdioTest, RecordsCutOffByEndOfInput) {
  EXPECT_EQ(complist_numberof(read_all("ENTRY       C00001\n")), 0);  // dropped
  EXPECT_EQ(at(read_all("ENTRY       C00001\nNAME        N\n"), 1)->nodenum, 0);
  CPDMOL *mol = at(read_all("ENTRY       C00001\nATOM\n 1 A A\n 2 B B"), 1);
  EXPECT_EQ(mol->nodenum, 2);
  EXPECT_EQ(mol->nodenum_sub, 2);
  EXPECT_EQ(line(mol->node, 2), " 2 B B");
  mol = at(read_all("ENTRY       C00001\nATOM\n 1 A A\nBOND\n 1 1 1\n"), 1);
  EXPECT_EQ(complist_numberof(mol->connect), 1);
  // Without its "///" a record runs on and swallows the next one.
  CompList *list = read_all("ENTRY       C00001\nATOM\n 1 A A\nBOND\n 1 1 1\n" + kAlanine);
  EXPECT_EQ(complist_numberof(list), 1);
}

TEST_F(CpdioTest, LinesReadThroughAnEightKilobyteBuffer) {
  // 8191 characters and a LF come back as two lines: the text, then an empty
  // line, which inside ATOM is one more atom.
  const std::string atom = " 1 A A" + std::string(8185, 'x');
  CPDMOL *mol = at(read_all("ENTRY       C00001\nATOM\n" + atom + "\n///\n"), 1);
  EXPECT_EQ(mol->nodenum, 2);
  EXPECT_EQ(line(mol->node, 1), atom);
  EXPECT_EQ(line(mol->node, 2), "\n");
}

TEST_F(CpdioTest, NulBytesCutTheStoredLine) {
  const std::string text = "ENTRY       C00001\nATOM\n 1 A A\0 tail\n\0 2 B B\n///\n"s;
  CPDMOL *mol = at(read_all(text), 1);
  ASSERT_EQ(mol->nodenum, 2);
  EXPECT_EQ(line(mol->node, 1), " 1 A A");
  EXPECT_EQ(line(mol->node, 2), "");  // a line led by NUL is stored empty
  cnode_CPDMOL(mol);
  EXPECT_EQ(mol->cnode[1].HAflag, 1);
}

TEST_F(CpdioTest, CrLfBelongsToTheLineEnd) {
  CompList *list = read_all(
      "ENTRY       C00007\r\nNAME        Water\r\nATOM\r\n 1 O.x O\r\n 2 H H\r\n"
      "BOND\r\n 1 1 2\r\n///\r\nENTRY       C00008\r\n///\r\n");
  ASSERT_EQ(complist_numberof(list), 2);
  CPDMOL *mol = matrix_CPDMOL(cnode_CPDMOL(at(list, 1)));
  EXPECT_STREQ(mol->name, "C00007");
  EXPECT_STREQ(mol->definition, "Water");
  EXPECT_EQ(line(mol->node, 1), " 1 O.x O\r\n");
  EXPECT_STREQ(mol->cnode[0].aid, "O");
  EXPECT_EQ(mol->cnode[1].HAflag, 1);  // "H", not "H\r"
  EXPECT_EQ(cell(mol, 1, 2), 1);
}

TEST_F(CpdioTest, EntryWithoutIdentifierOrColumn13) {
  CompList *list = read_all("ENTRY\n///\nENTRY  X1\n///\n");
  ASSERT_EQ(complist_numberof(list), 2);
  EXPECT_STREQ(at(list, 1)->name, "");
  EXPECT_STREQ(at(list, 2)->name, "X1");
  EXPECT_EQ(_global_first_, 0);  // neither line reaches index 12
  EXPECT_EQ(nsearch_CPDMOL(list, const_cast<char *>("")), 0);
  read_all("ENTRY       \r\n///\n");  // index 12 is the line end
  EXPECT_EQ(_global_first_, 0);
}

TEST_F(CpdioTest, DefaultLetterComesFromTheFirstEntryOnly) {
  read_all("ENTRY       D00001\n///\nENTRY       G00002\n///\n");
  read_all("ENTRY       K00003\n///\n");
  EXPECT_EQ(_global_first_, 'D');
  EXPECT_EQ(completed("1"), "D00001");
  EXPECT_EQ(completed(""), "D00000");
}

TEST_F(CpdioTest, ResetStartsAfresh) {
  // After a reset the next file fixes the default letter again, and its
  // records are read as into a fresh process.
  read_all("ENTRY       D00001\nATOM\n 1 A A\n///\n");
  cpdio_reset();
  EXPECT_EQ(_global_first_, 0);
  CompList *list = read_all("ENTRY       K00003\nATOM\n 1 A A\n 2 B B\nBOND\n 1 1 2\n///\n");
  EXPECT_EQ(_global_first_, 'K');
  EXPECT_EQ(completed("3"), "K00003");
  CPDMOL *mol = matrix_CPDMOL(cnode_CPDMOL(at(list, 1)));
  EXPECT_STREQ(mol->name, "K00003");
  EXPECT_EQ(mol->nodenum, 2);
  EXPECT_EQ(cell(mol, 1, 2), 1);
}

TEST_F(CpdioTest, ArenaOwnsWhatIsReadWhileInUse) {
  // Records read and built under a Scope live in the arena; the reader's own
  // store keeps serving reads outside it, before and after the arena ends.
  CPDMOL *outside = at(read_all(kAlanine), 1);
  {
    RecordArena arena(true);
    {
      RecordArena::Scope use(arena);
      CPDMOL *inside = matrix_CPDMOL(cnode_CPDMOL(at(read_all(kAlanine), 1)));
      EXPECT_STREQ(inside->name, "C00001");
      EXPECT_STREQ(inside->cnode[2].nid, "N.sp3.1");
      EXPECT_EQ(cell(inside, 2, 3), 1);
    }
    CPDMOL *after_use = matrix_CPDMOL(cnode_CPDMOL(at(read_all(kAlanine), 1)));
    EXPECT_STREQ(after_use->cnode[0].nid, "C.sp3.1");
  }
  // Under AddressSanitizer a record left in the released arena would fail here.
  matrix_CPDMOL(cnode_CPDMOL(outside));
  EXPECT_STREQ(outside->definition, "L-Alanine");
  EXPECT_EQ(cell(outside, 1, 2), 1);
}

TEST_F(CpdioTest, CompletesShortIdentifiers) {
  EXPECT_EQ(completed("1"), "C00001");  // nothing read yet
  EXPECT_EQ(completed("c12"), "C00012");
  EXPECT_EQ(completed("D1234"), "D01234");
  EXPECT_EQ(completed("G00123"), "G00123");
  EXPECT_EQ(completed(""), "C00000");
  EXPECT_EQ(completed("123456"), "C123456");  // six digits are all kept
  _global_first_ = 'C';
  EXPECT_EQ(completed("1"), "C00001");
  char longer[] = "C000001", mixed[] = "AB12", junk[] = "12x", sign[] = "-1";
  for (char *s : {longer, mixed, junk, sign}) EXPECT_EQ(complete_EntryName(s), s);
  EXPECT_EQ(complete_EntryName(nullptr), nullptr);
}

TEST_F(CpdioTest, SearchesCompletedNamesExactly) {
  CompList *list = read_all(kAlanine + "ENTRY       C00012\n///\nENTRY       C00001   dup\n///\n");
  char one[] = "1", lower[] = "c00001", twelve[] = "c12", longer[] = "C00001X";
  EXPECT_EQ(nsearch_CPDMOL(list, one), 1);  // first of two equal names
  EXPECT_EQ(nsearch_CPDMOL(list, lower), 1);
  EXPECT_EQ(nsearch_CPDMOL(list, twelve), 2);
  EXPECT_EQ(nsearch_CPDMOL(list, longer), 0);
  EXPECT_EQ(search_CPDMOL(list, twelve), at(list, 2));
  EXPECT_EQ(search_CPDMOL(list, longer), nullptr);
  EXPECT_EQ(nsearch_CPDMOL(read_all(""), one), 0);
  EXPECT_EQ(compare_CPDMOL(at(list, 1), at(list, 3)), 0);
  EXPECT_LT(compare_CPDMOL(at(list, 1), at(list, 2)), 0);
}

TEST_F(CpdioTest, EnvironmentTypesAndHydrogenFlags) {
  CPDMOL *mol = molecule({"C.x C", "H H", "* X", "R C", "h H", "HX H", "Cl Cl"}, {});
  const char expect_ha[] = {0, 1, 1, 0, 0, 0, 0};
  for (int k = 0; k < 7; ++k) EXPECT_EQ(mol->cnode[k].HAflag, expect_ha[k]) << k;
  EXPECT_STREQ(mol->cnode[0].nid, "C.x");
  EXPECT_STREQ(mol->cnode[0].aid, "C");
  EXPECT_EQ(mol->nodenum_sub, 5);
  // No bonds: the identity matrix.
  for (int p = 1; p <= 7; ++p)
    for (int q = 1; q <= 7; ++q) EXPECT_EQ(cell(mol, p, q), p == q ? 1 : 0);
}

TEST_F(CpdioTest, NeighboursOfRAndWildcardAtoms) {
  // Chain A - R - B: both ends marked, the R atom not.
  CPDMOL *mol = molecule({"A C", "R C", "B C"}, {"1 2", "3 2"});
  EXPECT_EQ(mol->cnode[0].RAneighbor, 1);
  EXPECT_EQ(mol->cnode[1].RAneighbor, 0);
  EXPECT_EQ(mol->cnode[2].RAneighbor, 1);
  mol = molecule({"R C", "R C", "A C"}, {"1 2"});
  EXPECT_EQ(mol->cnode[0].RAneighbor + mol->cnode[1].RAneighbor, 2);
  EXPECT_EQ(mol->cnode[2].RAneighbor, 0);
  mol = molecule({"A C", "* X", "B C"}, {"2 1"});
  EXPECT_EQ(mol->cnode[0].RAneighbor, 1);
  EXPECT_EQ(mol->cnode[2].RAneighbor, 0);
}

TEST_F(CpdioTest, BondMatrixIsSymmetricAndIgnoresRepeats) {
  CPDMOL *mol = molecule({"A C", "B C", "C C"}, {"3     1 2", "1 3 1", "1 2"});
  // Expected by hand: bonds 1-3 (twice, either order) and 1-2.
  const char expect[3][3] = {{1, 1, 1}, {1, 1, 0}, {1, 0, 1}};
  for (int p = 1; p <= 3; ++p)
    for (int q = 1; q <= 3; ++q) EXPECT_EQ(cell(mol, p, q), expect[p - 1][q - 1]);

  mol = molecule({}, {"1 2"});
  EXPECT_NE(mol->cnode, nullptr);
  EXPECT_NE(mol->matrix, nullptr);
  EXPECT_EQ(mol->nodenum_sub, 0);
}

TEST_F(CpdioTest, BadBondLinesAreIgnored) {
  CPDMOL *mol = molecule({"A C", "B C"}, {"", "2", "x 1", "1 x", "0 1", "-1 2", "1 3",
                                          "99999999999999999999 1", "2 -99999999999999999999"});
  EXPECT_EQ(cell(mol, 1, 2), 0);
  EXPECT_EQ(cell(mol, 2, 1), 0);
  EXPECT_EQ(mol->cnode[0].RAneighbor + mol->cnode[1].RAneighbor, 0);
}

TEST_F(CpdioTest, AtomLinesMissingTypeOrElement) {
  // Two fields keep their type, with an empty element; a line without a type
  // (a number alone, empty, CR LF only, led by NUL) is left out like a
  // hydrogen and marks no neighbour.
  CPDMOL *mol = at(read_all("ENTRY       C00001\nATOM\n 1 R C\n 2 R\n 3\n\n\r\n 6 C C\n"
                            " 7 C1a\r\n 8 H\n 9 *\t\n\0 10 X X\n"
                            "BOND\n 1 1 2\n 2 2 6\n 3 9 7\n 4 8 4\n 5 3 10\n///\n"s),
                   1);
  matrix_CPDMOL(cnode_CPDMOL(mol));
  ASSERT_EQ(mol->nodenum, 10);
  struct Expect {
    const char *nid, *aid;
    char ha, ra;
  };
  const Expect expect[] = {{"R", "C", 0, 1}, {"R", "", 0, 1},  {"", "", 1, 0},    {"", "", 1, 0},
                           {"", "", 1, 0},   {"C", "C", 0, 1}, {"C1a", "", 0, 1}, {"H", "", 1, 0},
                           {"*", "", 1, 0},  {"", "", 1, 0}};
  for (int k = 0; k < 10; ++k) {
    EXPECT_STREQ(mol->cnode[k].nid, expect[k].nid) << k + 1;
    EXPECT_STREQ(mol->cnode[k].aid, expect[k].aid) << k + 1;
    EXPECT_EQ(mol->cnode[k].HAflag, expect[k].ha) << k + 1;
    EXPECT_EQ(mol->cnode[k].RAneighbor, expect[k].ra) << k + 1;
  }
  EXPECT_EQ(mol->nodenum_sub, 4);  // atoms 1, 2, 6, 7
  EXPECT_EQ(cell(mol, 2, 6), 1);
  EXPECT_EQ(cell(mol, 4, 8), 1);
}

TEST_F(CpdioTest, LargeRecordMatrix) {
  // A chain of 3000 atoms: 9 million cells, bonds only between neighbours.
  std::vector<std::string> atoms(3000, "A C"), bonds;
  for (int k = 1; k < 3000; ++k) bonds.push_back(std::to_string(k) + " " + std::to_string(k + 1));
  CPDMOL *mol = molecule(atoms, bonds);
  EXPECT_EQ(cell(mol, 3000, 2999), 1);
  EXPECT_EQ(cell(mol, 3000, 3000), 1);
  EXPECT_EQ(cell(mol, 1, 3000), 0);
  EXPECT_EQ(cell(mol, 1500, 1501), 1);
}

TEST_F(CpdioTest, ReadsTheExampleFiles) {
  FILE *fp = std::fopen(TAVIRON_EXAMPLES_DIR "/nci.qtr", "r");
  ASSERT_NE(fp, nullptr);
  CompList *list = read_CPDMOL_list_QTR(fp);
  keep.push_back(list);
  std::fclose(fp);
  ASSERT_EQ(complist_numberof(list), 1020);
  // The first record's counts, checked against the file by eye: 9 atoms, 9 bonds.
  CPDMOL *mol = at(list, 1);
  EXPECT_STREQ(mol->definition, "NCI 1");
  EXPECT_EQ(mol->nodenum, 9);
  EXPECT_EQ(complist_numberof(mol->connect), 9);
  char last[] = "1020";
  EXPECT_EQ(nsearch_CPDMOL(list, last), 1020);
}

}  // namespace
