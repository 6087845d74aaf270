// The drawing module: the alignment it highlights is the one the --align
// report prints, text is made safe for XML, and drawings stay in bounds.
#include "depict/depict.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "cpdio.h"
#include "exe1.h"

namespace {

CompList *nci() {
  static CompList *list = [] {
    FILE *fp = std::fopen(TAVIRON_EXAMPLES_DIR "/nci.qtr", "r");
    CompList *l = read_CPDMOL_list_QTR(fp);
    std::fclose(fp);
    return l;
  }();
  return list;
}

CPDMOL *record(const char *id) {
  const int pos = nsearch_CPDMOL(nci(), const_cast<char *>(id));
  return pos != 0 ? static_cast<CPDMOL *>(complist_getdata(nci(), pos)) : nullptr;
}

// (a, b, piece) of every line of the --align report.
std::vector<std::tuple<int, int, int>> report_alignment() {
  char *text = nullptr;
  std::size_t size = 0;
  FILE *fp = open_memstream(&text, &size);
  output_similarity(fp);
  std::fclose(fp);
  const std::string report(text, size);
  std::free(text);
  std::vector<std::tuple<int, int, int>> out;
  const std::regex line(R"((\d+):\[[^\]]*\]\t(\d+):\[[^\]]*\]\t#[#!] SCCS (\d+))");
  for (std::sregex_iterator m(report.begin(), report.end(), line), end; m != end; ++m) {
    out.emplace_back(std::stoi((*m)[1]), std::stoi((*m)[2]), std::stoi((*m)[3]));
  }
  return out;
}

TEST(Depict, AlignmentIsTheReportsPieceByPiece) {
  // One piece, four pieces, element docking, the extension, nothing aligned.
  const struct {
    const char *a, *b;
    int atom, exec;
  } pairs[] = {{"C00108", "C01003", 1, 1},
               {"C00020", "C00021", 1, 1},
               {"C00020", "C00021", 2, 1},
               {"C00003", "C00004", 1, 8},
               {"C00001", "C00002", 1, 1}};
  for (const auto &p : pairs) {
    init_exe1(p.atom, p.exec, 4, -1, CPD_MAX);
    const depict::PairInfo info = depict::compute_pair(record(p.a), record(p.b));
    const auto expected = report_alignment();
    std::vector<std::tuple<int, int, int>> got;
    for (const depict::AlignedAtom &x : info.aligned) got.emplace_back(x.a, x.b, x.piece);
    EXPECT_EQ(got, expected) << p.a << " " << p.b;
    EXPECT_EQ(info.score, static_cast<int>(expected.size()));
  }
}

TEST(Depict, EscapeMakesTextSafe) {
  const std::pair<std::string, std::string> cases[] = {
      {"a<b>&\"c'", "a&lt;b&gt;&amp;&quot;c&#39;"},
      {"caf\xC3\xA9", "caf\xC3\xA9"},                             // UTF-8 kept
      {"x\x01y\x7F", "x\xEF\xBF\xBDy\xEF\xBF\xBD"},               // controls
      {"\xFF\xC3", "\xEF\xBF\xBD\xEF\xBF\xBD"},                   // broken sequences
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                   // overlong
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},   // surrogate
      {"\xEF\xBF\xBE", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"}};  // U+FFFE
  for (const auto &[in, out] : cases) EXPECT_EQ(depict::escape(in), out);
}

TEST(Depict, LargeAndSpreadRecordsStayInBounds) {
  // 2000 atoms in a chain, with one atom far away: the drawing is scaled down
  // to the page limit rather than growing without bound.
  std::string text = "ENTRY       C00001                      Compound\nATOM        2000\n";
  for (int k = 1; k <= 2000; k++) {
    char line[96];
    std::snprintf(line, sizeof line, "            %d   C.sp3.2    C    %.4f 0.0000\n", k,
                  k == 2000 ? 1e9 : k * 1.5);
    text += line;
  }
  text += "BOND        1999\n";
  for (int k = 1; k < 2000; k++) {
    text += "            " + std::to_string(k) + " " + std::to_string(k) + " " +
            std::to_string(k + 1) + " 1\n";
  }
  text += "///\n";
  FILE *fp = fmemopen(text.data(), text.size(), "r");
  CPDMOL *mol = read_CPDMOL_QTR(fp);
  std::fclose(fp);
  ASSERT_NE(mol, nullptr);
  const depict::Options options;
  const std::string svg = depict::compound_svg(*mol, options);
  const std::smatch size = [&] {
    std::smatch m;
    std::regex_search(svg, m, std::regex(R"re(width="([0-9.]+)" height="([0-9.]+)")re"));
    return m;
  }();
  ASSERT_EQ(size.size(), 3u);
  EXPECT_LE(std::stod(size[1]), options.max_side + 1);
  EXPECT_LE(std::stod(size[2]), options.max_side + 100);
}

}  // namespace
