// The exact largest-clique solver against an independent enumeration on
// small graphs, and against the reference finder without a budget on larger
// random graphs and on docking graphs of real pairs.
#include "maxclique.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "cpdcf2.h"
#include "cpdcf2_ref.h"
#include "cpddock.h"
#include "cpdio.h"
#include "exe1.h"

namespace {

using Mask = std::uint64_t;

// Random graph of up to 64 nodes as one neighbour mask per node.
std::vector<Mask> random_masks(int n, double density, std::mt19937 &rng) {
  std::vector<Mask> adj(n, 0);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int a = 0; a < n; ++a) {
    for (int b = a + 1; b < n; ++b) {
      if (u(rng) < density) {
        adj[a] |= Mask{1} << b;
        adj[b] |= Mask{1} << a;
      }
    }
  }
  return adj;
}

DockBits bits_of(const std::vector<Mask> &adj) {
  DockBits g;
  g.reset(static_cast<int>(adj.size()));
  for (int v = 0; v < g.n; ++v) g.row(v)[0] = adj[v];
  return g;
}

// Every maximal clique, by Bron-Kerbosch with a pivot: the largest size and
// how many maximal cliques have it (the largest cliques are all maximal).
struct Enumeration {
  const std::vector<Mask> &adj;
  int best = 0;
  long long count = 0;
  void run(int size, Mask p, Mask x) {
    if (p == 0 && x == 0) {
      if (size > best) {
        best = size;
        count = 0;
      }
      if (size == best) ++count;
      return;
    }
    const int pivot = std::countr_zero(p | x);
    for (Mask c = p & ~adj[pivot]; c != 0; c &= c - 1) {
      const int v = std::countr_zero(c);
      run(size + 1, p & adj[v], x & adj[v]);
      p &= ~(Mask{1} << v);
      x |= Mask{1} << v;
    }
  }
};

bool is_clique(const DockBits &g, const std::vector<int> &c) {
  for (std::size_t i = 0; i < c.size(); ++i)
    for (std::size_t j = i + 1; j < c.size(); ++j)
      if (!g.test(c[i], c[j])) return false;
  return true;
}

// Every combination of the solver's options that may change its path.
std::vector<maxclique::Options> option_sets() {
  std::vector<maxclique::Options> all;
  for (bool recolour : {true, false}) {
    for (int starts : {0, 4}) {
      maxclique::Options o;
      o.recolour = recolour;
      o.greedy_starts = starts;
      all.push_back(o);
    }
  }
  return all;
}

TEST(MaxClique, SmallRandomGraphsAgainstEnumeration) {
  std::mt19937 rng(2718u);
  for (int round = 0; round < 600; ++round) {
    const int n = 1 + static_cast<int>(rng() % 40);
    const double density = (round % 21) / 20.0;
    const std::vector<Mask> adj = random_masks(n, density, rng);
    Enumeration e{adj};
    e.run(0, n == 64 ? ~Mask{0} : (Mask{1} << n) - 1, 0);
    const DockBits g = bits_of(adj);
    for (maxclique::Options o : option_sets()) {
      SCOPED_TRACE(testing::Message() << "round " << round << ", " << n << " nodes, density "
                                      << density << ", recolour " << o.recolour);
      o.count = true;
      o.count_cap = round % 3 == 0 ? 2 : CPD_MAX;  // a cap below the count, too
      const maxclique::Result r = maxclique::largest_clique(g, o);
      ASSERT_EQ(r.size, e.best);
      EXPECT_EQ(r.count, std::min<long long>(e.count, o.count_cap));
      EXPECT_EQ(static_cast<int>(r.clique.size()), e.best);
      EXPECT_TRUE(is_clique(g, r.clique));
      EXPECT_TRUE(maxclique::has_clique(g, e.best, o));
      EXPECT_FALSE(maxclique::has_clique(g, e.best + 1, o));
      // A true lower bound changes nothing.
      o.lower_bound = e.best;
      EXPECT_EQ(maxclique::largest_clique(g, o).count, std::min<long long>(e.count, o.count_cap));
    }
  }
}

// The fixed-stride matrix of a random graph, for the reference finder.
std::vector<char> random_matrix(int n, double density, int blocks, std::mt19937 &rng) {
  std::vector<char> m(static_cast<std::size_t>(n) * DOCK_STRIDE, 0);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int a = 0; a < n; ++a) {
    m[static_cast<std::size_t>(a) * DOCK_STRIDE + a] = 1;
    for (int b = a + 1; b < n; ++b) {
      if ((blocks == 0 || a % blocks != b % blocks) && u(rng) < density) {
        m[static_cast<std::size_t>(a) * DOCK_STRIDE + b] = 1;
        m[static_cast<std::size_t>(b) * DOCK_STRIDE + a] = 1;
      }
    }
  }
  return m;
}

// The unbudgeted reference search's size and count.
std::pair<int, int> reference(int n, const std::vector<char> &m) {
  std::vector<MCS> list(CPD_MAX);
  int num = 0, max = 0;
  cpdcf2_ref::clifinder2(n, m.data(), 0, &num, list.data(), &max);
  for (MCS &c : list) std::free(c.vlist);
  return {max, num};
}

TEST(MaxClique, RandomGraphsAgainstReference) {
  std::mt19937 rng(31u);
  struct Case {
    int n;
    double density;
    int blocks;  // > 0: complete multipartite, thinned; many equal cliques
  };
  const Case cases[] = {{64, 0.9, 0},  {65, 0.5, 0},  {100, 0.7, 0}, {120, 0.8, 4},  {150, 0.6, 0},
                        {200, 0.5, 0}, {250, 0.3, 0}, {300, 0.4, 0}, {300, 0.1, 0},  {40, 1.0, 5},
                        {90, 0.9, 6},  {48, 0.95, 8}, {400, 0.2, 0}, {200, 0.02, 0}, {30, 0.0, 0}};
  for (const Case &c : cases) {
    const std::vector<char> m = random_matrix(c.n, c.density, c.blocks, rng);
    DockBits g;
    dockbits_from_matrix(c.n, m.data(), g);
    const auto [size, count] = reference(c.n, m);
    SCOPED_TRACE(testing::Message() << c.n << " nodes, density " << c.density);
    maxclique::Options o;
    o.count = true;
    const maxclique::Result r = maxclique::largest_clique(g, o);
    EXPECT_EQ(r.size, size);
    EXPECT_EQ(r.count, count);
    EXPECT_TRUE(maxclique::has_clique(g, size, o));
    EXPECT_FALSE(maxclique::has_clique(g, size + 1, o));
  }
}

CompList *read_list(const char *path) {
  FILE *fp = std::fopen(path, "r");
  if (fp == nullptr) return nullptr;
  CompList *list = read_CPDMOL_list_QTR(fp);
  std::fclose(fp);
  return list;
}

// Docking graphs of real pairs, branching on nodes and on atoms, in both
// matching modes.
TEST(MaxClique, DockingGraphsAgainstReference) {
  CompList *list = read_list(TAVIRON_EXAMPLES_DIR "/nci.qtr");
  ASSERT_NE(list, nullptr);
  const int count = complist_numberof(list);
  std::mt19937 rng(77u);
  std::vector<DNODE> nodes(CPD_MAX);
  std::vector<char> matrix(static_cast<std::size_t>(CPD_MAX) * DOCK_STRIDE);
  int tried = 0;
  for (int round = 0; round < 100; ++round) {
    auto *a = static_cast<CPDMOL *>(complist_getdata(list, 1 + static_cast<int>(rng() % count)));
    auto *b =
        round % 10 == 0
            ? a
            : static_cast<CPDMOL *>(complist_getdata(list, 1 + static_cast<int>(rng() % count)));
    const int mode = 1 + round % 2;
    int n = 0;
    make_DockingGraph(a, b, mode, &n, nodes.data(), matrix.data());
    if (n <= 0 || n > 200) continue;
    ++tried;
    DockBits g;
    dockbits_from_matrix(n, matrix.data(), g);
    // The ordered search without a budget (the same counts as the reference,
    // which its own tests check, in a fraction of the time).
    int cliques = 0, size = 0;
    cpdcf2::clifinder2_bits(g, 0, &cliques, nullptr, &size);
    std::vector<int> e1(n), e2(n);
    for (int v = 0; v < n; ++v) e1[v] = nodes[v].e1, e2[v] = nodes[v].e2;
    for (bool atoms : {false, true}) {
      SCOPED_TRACE(testing::Message() << a->name << " " << b->name << " mode " << mode);
      maxclique::Options o;
      o.count = true;
      if (atoms) o.side1 = e1, o.side2 = e2;
      const maxclique::Result r = maxclique::largest_clique(g, o);
      EXPECT_EQ(r.size, size);
      EXPECT_EQ(r.count, cliques);
      EXPECT_FALSE(maxclique::has_clique(g, size + 1, o));
    }
  }
  EXPECT_GT(tried, 60);
}

// Whether the default budget cuts the pair's search, so that the score line
// without a budget comes from the exact solver.
bool cut_by_default_budget(CPDMOL *a, CPDMOL *b, int mode) {
  std::vector<DNODE> nodes(CPD_MAX);
  DockBits g;
  int n = 0;
  make_DockingGraph_bits(a, b, mode, &n, nodes.data(), g);
  if (n <= 0 || n > CPD_MAX) return false;
  cpdcf2::SearchProbe probe;
  int num = 0, max = 0;
  cpdcf2::clifinder2_bits(g, 15000, &num, nullptr, &max, &probe);
  return probe.steps > 15000;
}

// The score line without a budget (computed by the exact solver where the
// budgeted search is cut) against the reference search's, and the same
// clique count behind it: every pair of the bundled compounds and drug-sized
// pairs whose default search is cut, in both matching modes.
TEST(MaxClique, ScoreLineWithoutBudgetAsTheReference) {
  CompList *small = read_list(TAVIRON_EXAMPLES_DIR "/compounds.qtr");
  CompList *drugs = read_list(TAVIRON_EXAMPLES_DIR "/../bench/drugs/drugs.qtr");
  ASSERT_NE(small, nullptr);
  ASSERT_NE(drugs, nullptr);
  auto get = [](CompList *list, const char *id) {
    std::string key = id;
    return static_cast<CPDMOL *>(complist_getdata(list, nsearch_CPDMOL(list, key.data())));
  };
  struct Pair {
    CPDMOL *a, *b;
    int mode;
  };
  std::vector<Pair> pairs;
  const int count = complist_numberof(small);
  for (int p = 1; p <= count; ++p)
    for (int q = 1; q <= count; ++q)
      for (int mode : {1, 2})
        pairs.push_back({static_cast<CPDMOL *>(complist_getdata(small, p)),
                         static_cast<CPDMOL *>(complist_getdata(small, q)), mode});
  // Drug pairs in the default mode only: in atom mode the reference takes
  // seconds on them.
  for (const char *pair :
       {"D00608 D00609", "D00918 D00769", "D01240 D00124", "D01206 D00035", "D00712 D00717",
        "D01165 D01168", "D00664 D00659", "D00622 D00625", "D01016 D00929", "D01217 D00163"}) {
    const std::string text = pair;
    pairs.push_back({get(drugs, text.substr(0, 6).c_str()), get(drugs, text.substr(7).c_str()), 1});
  }
  int cut = 0;
  for (const auto &[a, b, mode] : pairs) {
    cut += cut_by_default_budget(a, b, mode);
    exe1_set_reference_finder(cpdcf2_ref::engine_finder);
    const std::string want = cpdcf2_ref::score_line(a, b, mode, 1, 0);
    const int want_count = exe1_state().mcsnum;
    exe1_set_reference_finder(nullptr);
    EXPECT_EQ(cpdcf2_ref::score_line(a, b, mode, 1, 0), want) << a->name << " " << b->name;
    EXPECT_EQ(exe1_state().mcsnum, want_count) << a->name << " " << b->name << " mode " << mode;
  }
  EXPECT_GE(cut, 10);  // the solver's path is taken
}

}  // namespace
