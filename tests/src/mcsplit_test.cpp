// The largest mappings found on the compounds directly, against the clique
// solver on the same docking graph: small random labelled graphs, cases
// derived by hand, and docking graphs of real pairs.
#include "mcsplit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <vector>

#include "cpdcf2.h"
#include "cpddock.h"
#include "cpdio.h"
#include "maxclique.h"

namespace {

// A compound of n atoms with the given bonds, all pairs of atoms of equal
// labels allowed.
struct Side {
  int n = 0;
  std::vector<unsigned char> bonds;
  std::vector<int> label;
  bool bonded(int a, int b) const { return bonds[static_cast<std::size_t>(a) * n + b] != 0; }
};

Side side(int n, std::vector<std::pair<int, int>> bonds, std::vector<int> label = {}) {
  Side s{n, std::vector<unsigned char>(static_cast<std::size_t>(n) * n, 0), std::move(label)};
  if (s.label.empty()) s.label.assign(n, 0);
  for (const auto &[a, b] : bonds) s.bonds[a * n + b] = s.bonds[b * n + a] = 1;
  return s;
}

mcsplit::Problem problem(const Side &a, const Side &b) {
  mcsplit::Problem p{a.n, b.n, a.bonds, b.bonds, {}};
  for (int i = 0; i < a.n; ++i)
    for (int j = 0; j < b.n; ++j)
      if (a.label[i] == b.label[j]) p.pairs.emplace_back(i, j);
  return p;
}

// The docking graph of the problem: pairs joined when they use other atoms
// and keep the bond or the non-bond.
DockBits docking(const mcsplit::Problem &p) {
  DockBits g;
  g.reset(static_cast<int>(p.pairs.size()));
  for (int x = 0; x < g.n; ++x) {
    for (int y = 0; y < g.n; ++y) {
      const auto [i, j] = p.pairs[x];
      const auto [k, l] = p.pairs[y];
      if (i == k || j == l) continue;
      if (p.bonds_left[i * p.left + k] == p.bonds_right[j * p.right + l])
        g.row(x)[y >> 6] |= std::uint64_t{1} << (y & 63);
    }
  }
  return g;
}

// Propane against propane: the identity and the reversal, 3 pairs each.
// Propane against cyclopropane: two bonded atoms onto two of the ring's
// (2 bonds times 6 ordered ring pairs = 12 mappings); the propane's two end
// atoms are not bonded, which no pair of ring atoms matches, so 3 is too many.
TEST(McSplit, CasesDerivedByHand) {
  const Side propane = side(3, {{0, 1}, {1, 2}});
  const Side ring = side(3, {{0, 1}, {1, 2}, {0, 2}});
  const auto same = mcsplit::largest(problem(propane, propane));
  ASSERT_TRUE(same);
  EXPECT_EQ(same->size, 3);
  EXPECT_EQ(same->count, 2);
  const auto other = mcsplit::largest(problem(propane, ring));
  ASSERT_TRUE(other);
  EXPECT_EQ(other->size, 2);
  EXPECT_EQ(other->count, 12);
  mcsplit::Options capped;
  capped.count_cap = 5;
  EXPECT_EQ(mcsplit::largest(problem(propane, ring), capped)->count, 5);
  // The size told, the 12 mappings listed (2 nodes each) and not counted;
  // with room for 11 only, none.
  mcsplit::Options listing;
  listing.lower_bound = 2;
  listing.size_known = true;
  listing.count_cap = 0;
  listing.list_cap = 24;
  const auto listed = mcsplit::largest(problem(propane, ring), listing);
  EXPECT_EQ(listed->count, 0);
  EXPECT_EQ(listed->nodes.size(), 24u);
  listing.list_cap = 23;
  EXPECT_TRUE(mcsplit::largest(problem(propane, ring), listing)->nodes.empty());
  // Pairs that are no label classes (atom 0 pairs with 0 and 1, atom 1 with
  // 1 only) are left to the clique solver.
  mcsplit::Problem odd = problem(propane, propane);
  odd.pairs = {{0, 0}, {0, 1}, {1, 1}};
  EXPECT_FALSE(mcsplit::largest(odd));
}

TEST(McSplit, RandomLabelledGraphsAgainstTheCliqueSolver) {
  std::mt19937 rng(1234u);
  for (int round = 0; round < 400; ++round) {
    const int labels = 1 + static_cast<int>(rng() % 3);
    const double density = (round % 7) / 6.0;
    auto random_side = [&](int n) {
      std::vector<std::pair<int, int>> bonds;
      std::vector<int> label(n);
      for (int a = 0; a < n; ++a) {
        label[a] = static_cast<int>(rng() % labels);
        for (int b = a + 1; b < n; ++b)
          if (std::uniform_real_distribution<double>(0, 1)(rng) < density) bonds.emplace_back(a, b);
      }
      return side(n, bonds, label);
    };
    const mcsplit::Problem p = problem(random_side(1 + static_cast<int>(rng() % 9)),
                                       random_side(1 + static_cast<int>(rng() % 9)));
    if (p.pairs.empty()) continue;
    maxclique::Options o;
    o.count = true;
    o.count_cap = round % 4 == 0 ? 3 : CPD_MAX;
    const maxclique::Result want = maxclique::largest_clique(docking(p), o);
    mcsplit::Options m;
    m.count_cap = o.count_cap;
    m.lower_bound = round % 2 == 0 ? want.size : 0;  // a true lower bound changes nothing
    const auto got = mcsplit::largest(p, m);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->size, want.size) << "round " << round;
    EXPECT_EQ(got->count, want.count) << "round " << round;
  }
}

// Docking graphs of real pairs in both matching modes against the ordered
// search without a budget.
TEST(McSplit, DockingGraphsOfRealPairs) {
  FILE *fp = std::fopen(TAVIRON_EXAMPLES_DIR "/nci.qtr", "r");
  ASSERT_NE(fp, nullptr);
  CompList *list = read_CPDMOL_list_QTR(fp);
  std::fclose(fp);
  const int count = complist_numberof(list);
  std::mt19937 rng(99u);
  std::vector<DNODE> nodes(CPD_MAX);
  int solved = 0;
  for (int round = 0; round < 120; ++round) {
    auto *a = static_cast<CPDMOL *>(complist_getdata(list, 1 + static_cast<int>(rng() % count)));
    auto *b =
        round % 10 == 0
            ? a
            : static_cast<CPDMOL *>(complist_getdata(list, 1 + static_cast<int>(rng() % count)));
    DockBits g;
    int n = 0;
    make_DockingGraph_bits(a, b, 1 + round % 2, &n, nodes.data(), g);
    if (n <= 0 || n > 250) continue;
    int cliques = 0, size = 0;
    cpdcf2::clifinder2_bits(g, 0, &cliques, nullptr, &size);
    const auto got = mcsplit::largest(mcsplit::problem_of(*a, *b, nodes.data(), n));
    if (!got) continue;  // atoms next to R: no label classes
    ++solved;
    EXPECT_EQ(got->size, size) << a->name << " " << b->name;
    EXPECT_EQ(got->count, cliques) << a->name << " " << b->name;
  }
  EXPECT_GT(solved, 60);
}

}  // namespace
