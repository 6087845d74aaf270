// The drawing module: the alignment it highlights is the one the --align
// report prints, text is made safe for XML, and drawings stay in bounds.
#include "depict/depict.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <numbers>
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

CPDMOL *parse_record(const std::string &text) {
  std::string copy = text;
  FILE *fp = fmemopen(copy.data(), copy.size(), "r");
  CPDMOL *mol = read_CPDMOL_QTR(fp);
  std::fclose(fp);
  return mol;
}

// A record of the given atoms (type, element, x, y) and single bonds.
struct AtomLine {
  const char *type, *element;
  double x, y;
};
CPDMOL *make_record(const std::vector<AtomLine> &atoms,
                    const std::vector<std::pair<int, int>> &bonds) {
  std::string text = "ENTRY       C00001                      Compound\nATOM        " +
                     std::to_string(atoms.size()) + "\n";
  for (std::size_t k = 0; k < atoms.size(); k++) {
    char line[128];
    std::snprintf(line, sizeof line, "            %zu   %-10s %-2s %11.4f %11.4f\n", k + 1,
                  atoms[k].type, atoms[k].element, atoms[k].x, atoms[k].y);
    text += line;
  }
  text += "BOND        " + std::to_string(bonds.size()) + "\n";
  for (std::size_t k = 0; k < bonds.size(); k++) {
    text += "            " + std::to_string(k + 1) + " " + std::to_string(bonds[k].first) + " " +
            std::to_string(bonds[k].second) + " 1\n";
  }
  return parse_record(text + "///\n");
}

// Page positions of the labelled atoms of one compound of a drawing.
std::map<int, std::pair<double, double>> label_positions(const std::string &svg, int compound) {
  const std::string mark = "data-compound=\"" + std::to_string(compound) + '"';
  const std::size_t from = svg.find(mark);
  const std::size_t to = svg.find("class=\"mol\"", from);
  const std::string part =
      svg.substr(from, to == std::string::npos ? std::string::npos : to - from);
  std::smatch shift;
  std::regex_search(part, shift, std::regex(R"re(translate\(([-0-9.]+),([-0-9.]+)\))re"));
  const std::regex label(
      R"re(<g data-atom="(\d+)"[^>]*><title>[^<]*</title>(?:<circle[^>]*/>)?<text x="([-0-9.]+)" y="([-0-9.]+)")re");
  std::map<int, std::pair<double, double>> out;
  for (std::sregex_iterator m(part.begin(), part.end(), label), end; m != end; ++m) {
    out[std::stoi((*m)[1])] = {std::stod(shift[1]) + std::stod((*m)[2]),
                               std::stod(shift[2]) + std::stod((*m)[3])};
  }
  return out;
}

// The second compound is the first turned by a known angle, mirrored or not,
// and every atom aligned with its copy: the drawing turns it back, so that
// each atom sits at its copy's place, shifted by one offset for the panel.
TEST(Depict, SecondCompoundTurnedOntoTheFirst) {
  // No symmetry: a mirror image cannot be turned onto the original.
  const std::vector<AtomLine> shape = {{"N.a", "N", 0.0, 0.0},  {"N.a", "N", 1.5, 0.0},
                                       {"N.a", "N", 2.25, 1.3}, {"N.a", "N", 3.75, 1.3},
                                       {"N.a", "N", 4.5, 2.6},  {"N.a", "N", 1.5, -1.5}};
  const std::vector<std::pair<int, int>> bonds = {{1, 2}, {2, 3}, {3, 4}, {4, 5}, {2, 6}};
  CPDMOL *a = make_record(shape, bonds);
  depict::PairInfo info;
  for (int k = 1; k <= 6; k++) info.aligned.push_back({k, k, 1});
  const struct {
    double degrees;
    bool mirrored;
  } cases[] = {{0, false},   {30, false}, {90, false}, {180, false}, {251, false},
               {-45, false}, {0, true},   {60, true},  {180, true},  {-100, true}};
  for (const auto &c : cases) {
    const double t = c.degrees * std::numbers::pi / 180;
    std::vector<AtomLine> turned = shape;
    for (AtomLine &p : turned) {
      const double y = c.mirrored ? -p.y : p.y;
      p = {p.type, p.element, 7 + std::cos(t) * p.x - std::sin(t) * y,
           -3 + std::sin(t) * p.x + std::cos(t) * y};
    }
    const std::string svg = depict::pair_svg(*a, *make_record(turned, bonds), info);
    const auto first = label_positions(svg, 1), second = label_positions(svg, 2);
    ASSERT_EQ(first.size(), 6u);
    ASSERT_EQ(second.size(), 6u);
    const double dx = second.at(1).first - first.at(1).first;
    const double dy = second.at(1).second - first.at(1).second;
    EXPECT_NEAR(dy, 0, 0.15);  // the panels sit side by side
    for (int k = 1; k <= 6; k++) {
      EXPECT_NEAR(second.at(k).first - first.at(k).first, dx, 0.15) << c.degrees << " " << k;
      EXPECT_NEAR(second.at(k).second - first.at(k).second, dy, 0.15) << c.degrees << " " << k;
    }
  }
}

// With one aligned atom there is nothing to fit: the second compound keeps
// the orientation of its record.
TEST(Depict, OneAlignedAtomLeavesTheOrientation) {
  const std::vector<AtomLine> shape = {
      {"N.a", "N", 0.0, 0.0}, {"N.a", "N", 1.5, 0.0}, {"N.a", "N", 2.25, 1.3}};
  CPDMOL *a = make_record(shape, {{1, 2}, {2, 3}});
  CPDMOL *b = make_record({{"N.a", "N", 0.0, 0.0}, {"N.a", "N", 0.0, 1.5}, {"N.a", "N", 1.3, 2.25}},
                          {{1, 2}, {2, 3}});
  depict::PairInfo none, one;
  one.aligned = {{2, 2, 1}};
  EXPECT_EQ(label_positions(depict::pair_svg(*a, *b, one), 2),
            label_positions(depict::pair_svg(*a, *b, none), 2));
}

// The label of each atom as drawn: its text elements joined ("NH2"), and
// whether the atom is folded into another's label.
std::map<int, std::string> labels(const std::string &svg) {
  std::map<int, std::string> out;
  const std::regex atom(R"re(<g data-atom="(\d+)"([^>]*)><title>[^<]*</title>(.*?)</g>)re");
  for (std::sregex_iterator m(svg.begin(), svg.end(), atom), end; m != end; ++m) {
    std::string text = std::regex_replace((*m)[3].str(), std::regex("<[^>]*>"), "");
    if ((*m)[2].str().find("data-folded") != std::string::npos) text = "(folded)";
    out[std::stoi((*m)[1])] = text;
  }
  return out;
}

// Heteroatoms show hydrogens only where the record (or the counts a converter
// kept) gives them all; a record that writes some hydrogens only shows none.
TEST(Depict, HydrogenLabelsOnlyFromWhatIsKnown) {
  // Methylamine with every hydrogen, then without one of its carbon's.
  const std::vector<AtomLine> full = {
      {"C.sp3.1", "C", 0, 0}, {"N.sp3.1", "N", 1.5, 0}, {"H", "H", -0.5, 1}, {"H", "H", -0.5, -1},
      {"H", "H", -1, 0},      {"H", "H", 2, 1},         {"H", "H", 2, -1}};
  const std::vector<std::pair<int, int>> bonds = {{1, 2}, {1, 3}, {1, 4}, {1, 5}, {2, 6}, {2, 7}};
  using L = std::map<int, std::string>;
  EXPECT_EQ(
      labels(depict::compound_svg(*make_record(full, bonds))),
      (L{{1, ""}, {2, "NH2"}, {3, "H"}, {4, "H"}, {5, "H"}, {6, "(folded)"}, {7, "(folded)"}}));
  std::vector<AtomLine> partial = full;
  partial.erase(partial.begin() + 4);
  const std::vector<std::pair<int, int>> partial_bonds = {{1, 2}, {1, 3}, {1, 4}, {2, 5}, {2, 6}};
  EXPECT_EQ(labels(depict::compound_svg(*make_record(partial, partial_bonds))),
            (L{{1, ""}, {2, "N"}, {3, "H"}, {4, "H"}, {5, "H"}, {6, "H"}}));
  // Without H atoms: the kept counts, one per atom, or nothing.
  CPDMOL *heavy = make_record({full[0], full[1]}, {{1, 2}});
  const std::vector<int> kept = {3, 2}, short_list = {3};
  EXPECT_EQ(labels(depict::compound_svg(*heavy, {}, kept)), (L{{1, ""}, {2, "NH2"}}));
  EXPECT_EQ(labels(depict::compound_svg(*heavy, {}, short_list)), (L{{1, ""}, {2, "N"}}));
  EXPECT_EQ(labels(depict::compound_svg(*heavy)), (L{{1, ""}, {2, "N"}}));
  // A folded hydrogen keeps its bond's element, without lines.
  const std::string svg = depict::compound_svg(*make_record(full, bonds));
  EXPECT_NE(svg.find("<g data-bond=\"2-6\" data-order=\"1\" data-folded=\"1\"></g>"),
            std::string::npos);
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

// Texts longer than their room are cut to its length, the last character an
// ellipsis; a text that fits exactly is kept whole. Lengths count characters,
// not bytes. Cases at one less than the room, the room, and one more, for the
// element label (4), the type in the tooltip (40) and the identifier (40).
TEST(Depict, TextsShortenedToTheirRoomExactly) {
  const std::string e_acute = "\xC3\xA9";  // two bytes, one character
  const auto repeat = [](const std::string &unit, int n) {
    std::string out;
    for (int k = 0; k < n; k++) out += unit;
    return out;
  };
  const auto fitted = [&](const std::string &unit, int n, int room) {
    return n <= room ? repeat(unit, n) : repeat(unit, room - 1) + "\xE2\x80\xA6";
  };
  for (const std::string &unit : {std::string("X"), e_acute}) {
    for (int n : {3, 4, 5}) {
      const std::string element = repeat(unit, n);
      CPDMOL *mol = make_record({{"N.a", element.c_str(), 0, 0}}, {});
      EXPECT_EQ(labels(depict::compound_svg(*mol)).at(1), fitted(unit, n, 4)) << n;
    }
    for (int n : {39, 40, 41}) {
      const std::string type = repeat(unit, n);
      CPDMOL *mol = make_record({{type.c_str(), "N", 0, 0}}, {});
      const std::string svg = depict::compound_svg(*mol);
      EXPECT_NE(svg.find("<title>1 " + fitted(unit, n, 40) + "</title>"), std::string::npos) << n;
      std::string id = repeat(unit, n);
      mol->name = id.data();
      const std::string pair = depict::pair_svg(*mol, *mol, {});
      const std::regex bold(R"re(<text [^>]*font-weight="bold">([^<]*)</text>)re");
      std::vector<std::string> headings;
      for (std::sregex_iterator m(pair.begin(), pair.end(), bold), end; m != end; ++m) {
        headings.push_back((*m)[1]);
      }
      ASSERT_EQ(headings.size(), 3u);  // the score line, then each compound's identifier
      EXPECT_EQ(headings[1], fitted(unit, n, 40)) << n;
      EXPECT_EQ(headings[2], fitted(unit, n, 40)) << n;
    }
  }
}

// Whether segments pq and rs cross at a point inside both.
bool cross(std::pair<double, double> p, std::pair<double, double> q, std::pair<double, double> r,
           std::pair<double, double> s) {
  const auto side = [](auto a, auto b, auto c) {
    const double v =
        (b.first - a.first) * (c.second - a.second) - (b.second - a.second) * (c.first - a.first);
    return v > 1e-6 ? 1 : v < -1e-6 ? -1 : 0;
  };
  return side(p, q, r) * side(p, q, s) < 0 && side(r, s, p) * side(r, s, q) < 0;
}

// Bridged ring systems without coordinates are drawn without crossing bonds
// and with every atom on a spot of its own; the atom numbering is one that
// puts crossings into a drawing of the atoms on a circle.
TEST(Depict, BridgedSystemsWithoutCoordinatesUncrossed) {
  using Bonds = std::vector<std::pair<int, int>>;
  const struct {
    const char *name;
    int atoms;
    Bonds bonds;
  } cases[] = {
      {"norbornane", 7, {{1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}, {6, 1}, {1, 7}, {7, 4}}},
      {"bicyclo[2.2.2]octane",
       8,
       {{1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}, {6, 1}, {1, 7}, {7, 8}, {8, 4}}},
      // Bridgeheads 1 to 4, each CH2 joining two of them.
      {"adamantane",
       10,
       {{1, 5},
        {5, 2},
        {1, 6},
        {6, 3},
        {1, 7},
        {7, 4},
        {2, 8},
        {8, 3},
        {2, 9},
        {9, 4},
        {3, 10},
        {10, 4}}},
      {"cubane",
       8,
       {{1, 2},
        {2, 3},
        {3, 4},
        {4, 1},
        {5, 6},
        {6, 7},
        {7, 8},
        {8, 5},
        {1, 5},
        {2, 6},
        {3, 7},
        {4, 8}}},
      {"2-ethylnorbornane",
       9,
       {{1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}, {6, 1}, {1, 7}, {7, 4}, {2, 8}, {8, 9}}},
  };
  for (const auto &c : cases) {
    const std::vector<AtomLine> atoms(c.atoms, {"N.a", "N", 0, 0});
    const std::string svg = depict::compound_svg(*make_record(atoms, c.bonds));
    const auto at = label_positions(svg, 1);
    ASSERT_EQ(at.size(), static_cast<std::size_t>(c.atoms)) << c.name;
    for (std::size_t i = 0; i < c.bonds.size(); i++) {
      for (std::size_t j = i + 1; j < c.bonds.size(); j++) {
        const auto [a, b] = c.bonds[i];
        const auto [p, q] = c.bonds[j];
        EXPECT_FALSE(cross(at.at(a), at.at(b), at.at(p), at.at(q)))
            << c.name << ": " << a << "-" << b << " crosses " << p << "-" << q;
      }
    }
    for (int u = 1; u <= c.atoms; u++) {
      for (int v = u + 1; v <= c.atoms; v++) {
        EXPECT_GT(std::hypot(at.at(u).first - at.at(v).first, at.at(u).second - at.at(v).second),
                  8.0)
            << c.name << ": atoms " << u << " and " << v;
      }
    }
  }
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
