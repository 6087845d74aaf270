#include "cpddock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cpdcf2.h"

namespace {

constexpr char kUntouched = 'x';

using Atoms = std::vector<std::pair<std::string, std::string>>;  // (type, element) per atom

// A compound built by hand with its environments and bond matrix already in
// place, flagged the way the reader flags them: "H" and "*" are excluded, and
// neighbours of "R" and "*" atoms are marked.
class Compound {
 public:
  explicit Compound(Atoms atoms, std::vector<std::pair<int, int>> bonds = {})
      : atoms_(std::move(atoms)) {
    const int n = static_cast<int>(atoms_.size());
    bonds_.assign(static_cast<std::size_t>(n) * n, 0);
    for (int k = 0; k < n; ++k) bonds_[k * n + k] = 1;
    cnode_.resize(n);
    int excluded = 0;
    for (int k = 0; k < n; ++k) {
      CNODE &c = cnode_[k];
      c.nid = atoms_[k].first.data();
      c.aid = atoms_[k].second.data();
      c.HAflag = (atoms_[k].first == "H" || atoms_[k].first == "*") ? 1 : 0;
      excluded += c.HAflag;
    }
    for (auto [p, q] : bonds) {  // atom numbers from 1
      bonds_[(p - 1) * n + (q - 1)] = 1;
      bonds_[(q - 1) * n + (p - 1)] = 1;
      if (marks(p)) cnode_[q - 1].RAneighbor = 1;
      if (marks(q)) cnode_[p - 1].RAneighbor = 1;
    }
    mol_.nodenum = n;
    mol_.nodenum_sub = n - excluded;
    mol_.cnode = cnode_.data();
    mol_.matrix = bonds_.data();
  }
  Compound(const Compound &) = delete;
  Compound &operator=(const Compound &) = delete;

  // n atoms of one type and element, no bonds.
  static Atoms uniform(int n) { return Atoms(n, {"X", "C"}); }

  CPDMOL *get() { return &mol_; }
  // Bond-matrix cell of atoms p and q (from 0), one direction only.
  char &cell(int p, int q) { return bonds_[static_cast<std::size_t>(p) * atoms_.size() + q]; }

 private:
  bool marks(int atom) const {
    return atoms_[atom - 1].first == "R" || atoms_[atom - 1].first == "*";
  }
  Atoms atoms_;
  std::vector<char> bonds_;
  std::vector<CNODE> cnode_;
  CPDMOL mol_{};
};

// Engine-sized docking storage; matrix pages cost memory only once touched.
struct Docking {
  std::vector<DNODE> nodes = std::vector<DNODE>(CPD_MAX + 1, DNODE{-7, -7, -7.0, 9});
  LazyZeroed<std::array<char, static_cast<std::size_t>(CPD_MAX) * CPD_MAX>> mtx;
  int num = -1;
  std::string err;

  char *matrix() { return mtx->data(); }
  char at(int a, int b) { return (*mtx)[static_cast<std::size_t>(a) * DOCK_STRIDE + b]; }
  // Marks rows 0..rows-1, columns 0..cols-1 so untouched cells can be told apart.
  void mark(int rows, int cols) {
    for (int a = 0; a < rows; ++a)
      for (int b = 0; b < cols; ++b)
        (*mtx)[static_cast<std::size_t>(a) * DOCK_STRIDE + b] = kUntouched;
  }
  void dock(Compound &m1, Compound &m2, int mode = 1) {
    testing::internal::CaptureStderr();
    make_DockingGraph(m1.get(), m2.get(), mode, &num, nodes.data(), matrix());
    err = testing::internal::GetCapturedStderr();
  }
  std::vector<std::pair<int, int>> pairs() const {
    std::vector<std::pair<int, int>> out;
    for (int k = 0; k < num; ++k) out.emplace_back(nodes[k].e1, nodes[k].e2);
    return out;
  }
};

using Pairs = std::vector<std::pair<int, int>>;

TEST(DockingGraph, IdenticalCompounds) {
  // Chain A-B-A-C: pairs of equal type are (0,0) (0,2) (1,1) (2,0) (2,2) (3,3).
  Compound m1(Atoms{{"A", "C"}, {"B", "C"}, {"A", "C"}, {"C", "C"}}, {{1, 2}, {2, 3}, {3, 4}});
  Compound m2(Atoms{{"A", "C"}, {"B", "C"}, {"A", "C"}, {"C", "C"}}, {{1, 2}, {2, 3}, {3, 4}});
  Docking d;
  d.mark(7, 7);
  d.dock(m1, m2);
  EXPECT_EQ(d.err, "");
  ASSERT_EQ(d.pairs(), (Pairs{{0, 0}, {0, 2}, {1, 1}, {2, 0}, {2, 2}, {3, 3}}));
  for (int k = 0; k < d.num; ++k) {
    EXPECT_EQ(d.nodes[k].score, 1.0);
    EXPECT_EQ(d.nodes[k].ident, 1);
  }
  // Worked pair by pair: atoms x, y of the chain are bonded when |x - y| = 1.
  // E.g. (0,0)-(0,2) share atom 0 -> 0; (0,0)-(1,1) bonded in both -> 1;
  // (0,0)-(2,2) bonded in neither -> 2; (0,2)-(3,3) 0-3 free but 2-3 bonded -> 0.
  const char want[6][6] = {
      {1, 0, 1, 0, 2, 2}, {0, 1, 1, 2, 0, 0}, {1, 1, 1, 1, 1, 2},
      {0, 2, 1, 1, 0, 0}, {2, 0, 1, 0, 1, 1}, {2, 0, 2, 0, 1, 1},
  };
  for (int a = 0; a < 6; ++a)
    for (int b = 0; b < 6; ++b) EXPECT_EQ(d.at(a, b), want[a][b]) << a << "," << b;
  // Nothing outside the 6 x 6 block is written.
  for (int k = 0; k < 7; ++k) {
    EXPECT_EQ(d.at(k, 6), kUntouched);
    EXPECT_EQ(d.at(6, k), kUntouched);
  }
}

TEST(DockingGraph, HydrogenAndWildcardAtomsTakeNoPart) {
  Compound m1(Atoms{{"C1", "C"}, {"H", "H"}, {"*", "C"}, {"C1", "C"}});
  Compound m2(Atoms{{"H", "H"}, {"C1", "C"}, {"*", "C"}});
  Docking d;
  d.dock(m1, m2);
  EXPECT_EQ(d.pairs(), (Pairs{{0, 1}, {3, 1}}));
}

TEST(DockingGraph, AtomModeMatchesElements) {
  Compound m1(Atoms{{"T1", "C"}});
  Compound m2(Atoms{{"T2", "C"}, {"T1", "C"}, {"T1", "N"}});
  Docking d;
  d.dock(m1, m2, 2);
  ASSERT_EQ(d.pairs(), (Pairs{{0, 0}, {0, 1}}));
  EXPECT_EQ(d.nodes[0].score, 0.5);
  EXPECT_EQ(d.nodes[0].ident, 0);
  EXPECT_EQ(d.nodes[1].score, 1.0);
  EXPECT_EQ(d.nodes[1].ident, 1);
  // The normal mode keys on the type, which the T1/N atom shares.
  d.dock(m1, m2, 1);
  EXPECT_EQ(d.pairs(), (Pairs{{0, 1}, {0, 2}}));
}

TEST(DockingGraph, TypesComparedWholeBeyondEightCharacters) {
  // Types are compared by their first eight bytes first: these share them
  // (or one is those bytes less one) and must still match only themselves.
  const Atoms m1_atoms{
      {"ABCDEFGH", "C"}, {"ABCDEFGHIJ", "C"}, {"ABCDEFGHIK", "C"}, {"ABCDEFG", "C"}};
  const Atoms m2_atoms{
      {"ABCDEFGHIK", "C"}, {"ABCDEFG", "C"}, {"ABCDEFGH", "C"}, {"ABCDEFGHIJ", "C"}};
  Compound m1(m1_atoms);
  Compound m2(m2_atoms);
  Docking d;
  d.dock(m1, m2);
  EXPECT_EQ(d.pairs(), (Pairs{{0, 2}, {1, 3}, {2, 0}, {3, 1}}));
}

TEST(DockingGraph, NeighboursOfRAndWildcardMatchByElement) {
  // Atom 2 of the first compound hangs on an "R": its O pairs with any O.
  Compound m1(Atoms{{"R", "C"}, {"T1", "O"}}, {{1, 2}});
  Compound m2(Atoms{{"T2", "O"}, {"R", "C"}, {"T1", "O"}});
  Docking d;
  d.dock(m1, m2);
  ASSERT_EQ(d.pairs(), (Pairs{{0, 1}, {1, 0}, {1, 2}}));
  EXPECT_EQ(d.nodes[0].score, 1.0);  // R-R by type
  EXPECT_EQ(d.nodes[1].score, 0.5);  // O-O, types differ
  EXPECT_EQ(d.nodes[1].ident, 0);
  EXPECT_EQ(d.nodes[2].score, 1.0);  // O-O, types equal
  EXPECT_EQ(d.nodes[2].ident, 1);

  // The flag on the second compound's side works the same, here from "*".
  Compound m3(Atoms{{"T1", "N"}});
  Compound m4(Atoms{{"*", "C"}, {"T9", "N"}, {"T9", "N"}}, {{1, 2}});
  d.dock(m3, m4);
  ASSERT_EQ(d.pairs(), (Pairs{{0, 1}}));
  EXPECT_EQ(d.nodes[0].score, 0.5);
}

TEST(DockingGraph, NoMatchableAtoms) {
  Compound m1(Atoms{{"H", "H"}, {"H", "H"}});
  Compound m2(Atoms{{"C1", "C"}});
  Docking d;
  d.mark(2, 2);
  d.dock(m1, m2);
  EXPECT_EQ(d.num, 0);
  EXPECT_EQ(d.err, "");
  EXPECT_EQ(d.at(0, 0), kUntouched);
}

TEST(DockingGraph, TenThousandNodesFit) {
  // 100 x 100 atoms of one type and no bonds: node k = (k / 100, k % 100);
  // distinct atoms on both sides are a kept non-bond (2), a shared atom 0.
  Compound m1(Compound::uniform(100));
  Compound m2(Compound::uniform(100));
  Docking d;
  d.dock(m1, m2);
  EXPECT_EQ(d.err, "");
  ASSERT_EQ(d.num, CPD_MAX);
  EXPECT_EQ(d.nodes[9999].e1, 99);
  EXPECT_EQ(d.nodes[9999].e2, 99);
  EXPECT_EQ(d.nodes[CPD_MAX].e1, -7);
  for (int a : {0, 1, 4321, 9999}) {
    for (int b = 0; b < CPD_MAX; ++b) {
      const char want = a == b ? 1 : (a / 100 == b / 100 || a % 100 == b % 100) ? 0 : 2;
      ASSERT_EQ(d.at(a, b), want) << a << "," << b;
      ASSERT_EQ(d.at(b, a), want) << b << "," << a;
    }
  }
}

TEST(DockingGraph, OverflowCountsAllButStoresTenThousand) {
  // 73 x 137 = 10001 qualifying pairs.
  Compound m1(Compound::uniform(73));
  Compound m2(Compound::uniform(137));
  Docking d;
  d.mark(3, 200);
  d.dock(m1, m2);
  EXPECT_EQ(d.err, "make_DockingGraph: node overflow when docking\n");
  EXPECT_EQ(d.num, 10001);
  // Node 9999 = 72 * 137 + 135; the 10001st pair is not stored.
  EXPECT_EQ(d.nodes[9999].e1, 72);
  EXPECT_EQ(d.nodes[9999].e2, 135);
  EXPECT_EQ(d.nodes[CPD_MAX].e1, -7);
  EXPECT_EQ(d.nodes[CPD_MAX].ident, 9);
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 200; ++b) ASSERT_EQ(d.at(a, b), kUntouched);
}

// Random compounds whose graphs span several 64-node words, in both modes,
// with a few bond cells that are neither 0 nor 1 (they join nothing): the
// matrix and the bit rows hold exactly the entries the rule gives.
TEST(DockingGraph, RandomCompoundsFollowTheEntryRule) {
  std::srand(5);
  const std::array<std::pair<std::string, std::string>, 5> kinds{
      {{"A", "C"}, {"B", "C"}, {"C", "N"}, {"R", "C"}, {"H", "H"}}};
  for (int round = 0; round < 40; ++round) {
    auto make = [&](int n) {
      Atoms atoms;
      std::vector<std::pair<int, int>> bonds;
      for (int k = 0; k < n; ++k) atoms.push_back(kinds[std::rand() % kinds.size()]);
      for (int p = 1; p <= n; ++p)
        for (int q = p + 1; q <= n; ++q)
          if (std::rand() % 100 < 15) bonds.emplace_back(p, q);
      return std::make_unique<Compound>(atoms, bonds);
    };
    auto m1 = make(8 + std::rand() % 30);
    auto m2 = make(8 + std::rand() % 30);
    for (int k = 0; k < 3; ++k) {
      Compound &m = k == 1 ? *m2 : *m1;
      const int n = m.get()->nodenum;
      m.cell(std::rand() % n, std::rand() % n) = 3;
    }
    const int mode = 1 + round % 2;
    Docking d;
    d.dock(*m1, *m2, mode);
    DockBits g;
    std::vector<DNODE> nodes(CPD_MAX);
    int num = -1;
    make_DockingGraph_bits(m1->get(), m2->get(), mode, &num, nodes.data(), g);
    ASSERT_EQ(num, d.num);
    ASSERT_EQ(g.n, num);
    const CPDMOL &c1 = *m1->get();
    const CPDMOL &c2 = *m2->get();
    for (int a = 0; a < num; ++a) {
      ASSERT_EQ(nodes[a].e1, d.nodes[a].e1);
      ASSERT_EQ(nodes[a].e2, d.nodes[a].e2);
      for (int b = 0; b < num; ++b) {
        const DNODE &u = d.nodes[a];
        const DNODE &w = d.nodes[b];
        const char b1 = c1.matrix[u.e1 * c1.nodenum + w.e1];
        const char b2 = c2.matrix[u.e2 * c2.nodenum + w.e2];
        char want = 0;
        if (a == b) {
          want = 1;
        } else if (u.e1 != w.e1 && u.e2 != w.e2) {
          want = b1 == 1 && b2 == 1 ? 1 : b1 == 0 && b2 == 0 ? 2 : 0;
        }
        ASSERT_EQ(d.at(a, b), want) << round << ": " << a << "," << b;
        ASSERT_EQ(g.test(a, b), a != b && want != 0) << round << ": " << a << "," << b;
      }
    }
  }
}

TEST(DockingGraph, SelfDockingHasTheIdentityAsLargestClique) {
  // The chain of IdenticalCompounds: only (0,0) (1,1) (2,2) (3,3), nodes
  // 0, 2, 4, 5, are pairwise compatible; {1,2,3} is the only other triangle
  // and cannot grow, since (0,2)-(3,3) is 0.
  Compound m1(Atoms{{"A", "C"}, {"B", "C"}, {"A", "C"}, {"C", "C"}}, {{1, 2}, {2, 3}, {3, 4}});
  Compound m2(Atoms{{"A", "C"}, {"B", "C"}, {"A", "C"}, {"C", "C"}}, {{1, 2}, {2, 3}, {3, 4}});
  Docking d;
  d.dock(m1, m2);
  std::vector<MCS> mcs(CPD_MAX);
  int num = 0, max = 0;
  clifinder2(d.num, d.matrix(), -1, &num, mcs.data(), &max);
  ASSERT_EQ(num, 1);
  EXPECT_EQ(max, 4);
  EXPECT_EQ(std::vector<int>(mcs[0].vlist, mcs[0].vlist + 4), (std::vector<int>{0, 2, 4, 5}));
  for (MCS &m : mcs) std::free(m.vlist);
}

}  // namespace

namespace {

// The largest clique of a small graph: every clique extended node by node,
// a branch left when even all its candidates could not beat the best.
int clique_number(const DockBits &g, int size, std::vector<int> cand, int best) {
  best = std::max(best, size);
  while (!cand.empty() && size + static_cast<int>(cand.size()) > best) {
    const int v = cand.back();
    cand.pop_back();
    std::vector<int> next;
    for (int w : cand)
      if (g.test(v, w)) next.push_back(w);
    best = clique_number(g, size + 1, next, best);
  }
  return best;
}

}  // namespace

// On random graphs of any density: the colouring never has fewer colours than
// the largest clique, and the pruned search settles "more than k" exactly.
TEST(CliqueBound, ColouringAndSearchAgainstEnumeration) {
  std::srand(21);
  for (int round = 0; round < 300; ++round) {
    const int n = 1 + std::rand() % 40;
    const int density = std::rand() % 100;
    DockBits g;
    g.reset(n);
    for (int a = 0; a < n; ++a)
      for (int b = a + 1; b < n; ++b)
        if (std::rand() % 100 < density) {
          g.row(a)[b >> 6] |= std::uint64_t{1} << (b & 63);
          g.row(b)[a >> 6] |= std::uint64_t{1} << (a & 63);
        }
    std::vector<int> all(n);
    for (int v = 0; v < n; ++v) all[v] = v;
    const int omega = clique_number(g, 0, all, 0);
    const int colours = dockbits_colour_bound(g);
    EXPECT_GE(colours, omega) << round;
    EXPECT_LE(colours, n);
    // Stopped early, the colouring says only that it needs more.
    if (colours > 1) {
      EXPECT_EQ(dockbits_colour_bound(g, colours - 2), colours - 1);
    }
    EXPECT_TRUE(dockbits_clique_above(g, omega - 1, 1'000'000)) << round;
    EXPECT_FALSE(dockbits_clique_above(g, omega, 1'000'000)) << round;
    if (omega < n) {
      EXPECT_TRUE(dockbits_clique_above(g, omega, 0));  // no budget: not settled
    }
  }
}
