// The engine's clique finder against the reference search: the same steps,
// the same cliques in the same order, on random graphs of every size and
// density and on whole compound pairs.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "cpdcf2.h"
#include "cpdcf2_ref.h"
#include "cpdcf2_search.h"
#include "cpddock.h"
#include "cpdio.h"
#include "exe1.h"
#include "mcsplit.h"
#include "reportjudge.h"

namespace {

using Clique = std::vector<int>;

struct Outcome {
  int num = -1;
  int max = -1;
  long long steps = -1;
  std::vector<Clique> cliques;
  bool operator==(const Outcome &) const = default;
};

// A caller-owned clique list, released after use.
struct List {
  std::vector<MCS> mcs = std::vector<MCS>(CPD_MAX);
  ~List() {
    for (MCS &m : mcs) std::free(m.vlist);
  }
  Outcome take(int num, int max, long long steps) const {
    Outcome o{num, max, steps, {}};
    for (int k = 0; k < num; ++k) o.cliques.emplace_back(mcs[k].vlist, mcs[k].vlist + mcs[k].vnum);
    return o;
  }
};

using Finder = void (*)(const DockBits &, int, int *, MCS *, int *, cpdcf2::SearchProbe *);

Outcome run(Finder finder, const DockBits &g, int repeat) {
  List list;
  cpdcf2::SearchProbe probe;
  int num = 0, max = 0;
  finder(g, repeat, &num, list.mcs.data(), &max, &probe);
  return list.take(num, max, probe.steps);
}

// The same search without a list: only the count, size and steps.
Outcome run_counted(Finder finder, const DockBits &g, int repeat) {
  cpdcf2::SearchProbe probe;
  int num = 0, max = 0;
  finder(g, repeat, &num, nullptr, &max, &probe);
  return {num, max, probe.steps, {}};
}

Outcome run_reference(const std::vector<char> &matrix, int n, int repeat) {
  List list;
  cpdcf2::SearchProbe probe;
  int num = 0, max = 0;
  cpdcf2_ref::clifinder2(n, matrix.data(), repeat, &num, list.mcs.data(), &max, &probe);
  return list.take(num, max, probe.steps);
}

// Random graph: every pair joined with probability `density`; with `blocks`
// > 0 the nodes fall into that many groups joined completely across groups
// (a complete multipartite graph, with many equal largest cliques), thinned
// by the same probability.
std::vector<char> random_matrix(int n, double density, int blocks, std::mt19937 &rng) {
  std::vector<char> m(static_cast<std::size_t>(std::max(n, 1)) * DOCK_STRIDE, 0);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int a = 0; a < n; ++a) {
    m[static_cast<std::size_t>(a) * DOCK_STRIDE + a] = 1;
    for (int b = a + 1; b < n; ++b) {
      const bool across = blocks == 0 || a % blocks != b % blocks;
      if (across && u(rng) < density) {
        const char v = static_cast<char>(1 + rng() % 2);
        m[static_cast<std::size_t>(a) * DOCK_STRIDE + b] = v;
        m[static_cast<std::size_t>(b) * DOCK_STRIDE + a] = v;
      }
    }
  }
  return m;
}

// Both builds of the search where this processor runs both.
std::vector<std::pair<const char *, Finder>> finders() {
  std::vector<std::pair<const char *, Finder>> f{{"dispatched", cpdcf2::clifinder2_bits},
                                                 {"portable", cpdcf2::portable::search}};
#if defined(__x86_64__) && !defined(TAVIRON_NO_BMI2)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt"))
    f.emplace_back("bmi2", cpdcf2::bmi2::search);
#endif
  return f;
}

TEST(FinderDifferential, RandomGraphsEveryBudget) {
  std::mt19937 rng(5150u);
  struct Case {
    int n;
    double density;
    int blocks;
  };
  // Sizes around the word boundaries, sparse to near-complete, and graphs
  // with many equal largest cliques.
  const std::vector<Case> cases = {
      {1, 0.5, 0},   {2, 1.0, 0},     {5, 0.5, 0},   {17, 0.9, 0},  {63, 0.5, 0},  {64, 0.7, 0},
      {65, 0.3, 0},  {65, 0.95, 0},   {100, 0.6, 3}, {130, 0.8, 0}, {200, 0.9, 4}, {300, 0.05, 0},
      {700, 0.5, 0}, {1000, 0.97, 0}, {40, 1.0, 5},  {90, 0.85, 6}, {12, 0.0, 0},  {129, 0.99, 0},
  };
  const auto all = finders();
  for (const Case &c : cases) {
    const std::vector<char> m = random_matrix(c.n, c.density, c.blocks, rng);
    DockBits g;
    dockbits_from_matrix(c.n, m.data(), g);
    // Without a budget only where the reference finishes quickly.
    std::vector<int> budgets = {1, 2, 37, 15000, -1};
    if (c.n <= 100 && c.density <= 0.85) budgets.push_back(0);
    for (int repeat : budgets) {
      const Outcome want = run_reference(m, c.n, repeat);
      for (const auto &[name, finder] : all) {
        SCOPED_TRACE(testing::Message() << name << ": " << c.n << " nodes, density " << c.density
                                        << ", blocks " << c.blocks << ", budget " << repeat);
        const Outcome got = run(finder, g, repeat);
        EXPECT_EQ(got.steps, want.steps);
        EXPECT_EQ(got.num, want.num);
        EXPECT_EQ(got.max, want.max);
        EXPECT_TRUE(got.cliques == want.cliques);
        EXPECT_TRUE(run_counted(finder, g, repeat) ==
                    (Outcome{want.num, want.max, want.steps, {}}));
      }
    }
  }
}

// A search the budget did not end found the largest size: what a result
// called proven promises. Checked against the unbudgeted reference, for the
// listing and the counting search alike; both outcomes must occur.
TEST(FinderDifferential, UncutSearchesFindTheLargestSize) {
  std::mt19937 rng(8086u);
  int cut = 0, uncut = 0;
  for (int round = 0; round < 60; ++round) {
    const int n = 5 + static_cast<int>(rng() % 90);
    const double density = 0.2 + 0.65 * (rng() % 100) / 100.0;
    const std::vector<char> m = random_matrix(n, density, static_cast<int>(rng() % 4), rng);
    DockBits g;
    dockbits_from_matrix(n, m.data(), g);
    const int largest = run_reference(m, n, 0).max;
    for (int repeat : {0, 1, 3, 20, 150, 15000}) {
      for (const bool listed : {false, true}) {
        SCOPED_TRACE(testing::Message() << n << " nodes, density " << density << ", budget "
                                        << repeat << (listed ? ", listed" : ", counted"));
        List owned;
        cpdcf2::SearchProbe probe;
        int num = 0, max = 0;
        cpdcf2::clifinder2_bits(g, repeat, &num, listed ? owned.mcs.data() : nullptr, &max, &probe);
        if (repeat == 0) {
          EXPECT_FALSE(probe.cut);
        }
        if (!probe.cut) {
          EXPECT_EQ(max, largest);
        }
        (probe.cut ? cut : uncut)++;
      }
    }
  }
  EXPECT_GT(cut, 0);
  EXPECT_GT(uncut, 0);
}

TEST(FinderDifferential, LargestGraph) {
  // 10000 nodes, the engine's capacity: the first levels work on 157-word rows.
  // A cheap hash decides each pair, about two in three joined.
  const int n = CPD_MAX;
  std::vector<char> m(static_cast<std::size_t>(n) * DOCK_STRIDE, 0);
  for (int a = 0; a < n; ++a) {
    for (int b = a + 1; b < n; ++b) {
      const unsigned h =
          (static_cast<unsigned>(a) * 2654435761u) ^ (static_cast<unsigned>(b) * 40503u);
      const char v = static_cast<char>(((h >> 7) % 3 != 0) * (1 + (h >> 3) % 2));
      m[static_cast<std::size_t>(a) * DOCK_STRIDE + b] = v;
      m[static_cast<std::size_t>(b) * DOCK_STRIDE + a] = v;
    }
  }
  DockBits g;
  dockbits_from_matrix(n, m.data(), g);
  for (int repeat : {1, 300}) {
    const Outcome want = run_reference(m, n, repeat);
    EXPECT_TRUE(run(cpdcf2::clifinder2_bits, g, repeat) == want) << "budget " << repeat;
  }
}

TEST(FinderDifferential, SortsAsTheReference) {
  // Both sorts of the search against the plain one on random keys, few
  // distinct values (colours) as well as many.
  std::mt19937 rng(99u);
  for (int round = 0; round < 3000; ++round) {
    const int n = static_cast<int>(rng() % (round % 2 ? 65 : 257));
    const int range = 1 + static_cast<int>(rng() % (round % 3 == 0 ? 64 : 8));
    std::vector<int> keys(n), ids(n);
    for (int k = 0; k < n; ++k) {
      keys[k] = static_cast<int>(rng() % range);
      ids[k] = k;
    }
    std::vector<int> want_keys = keys, want_ids = ids;
    cpdcf2_ref::quick_sort(n, want_keys.data(), want_ids.data());
    for (auto sort : {cpdcf2::portable::quick_sort, cpdcf2::portable::quick_sort_small}) {
      std::vector<int> k2 = keys, i2 = ids;
      sort(n, k2.data(), i2.data());
      ASSERT_EQ(i2, want_ids) << "round " << round;
      ASSERT_EQ(k2, want_keys);
    }
  }
}

// Whole computations, reports in all three forms, reference against engine.
TEST(FinderDifferential, CompoundPairsOfTheExamples) {
  FILE *fp = std::fopen(TAVIRON_EXAMPLES_DIR "/nci.qtr", "r");
  ASSERT_NE(fp, nullptr);
  CompList *list = read_CPDMOL_list_QTR(fp);
  std::fclose(fp);
  const int count = complist_numberof(list);
  ASSERT_GT(count, 100);
  std::mt19937 rng(4242u);
  for (int round = 0; round < 120; ++round) {
    auto *a = static_cast<CPDMOL *>(complist_getdata(list, 1 + static_cast<int>(rng() % count)));
    auto *b = static_cast<CPDMOL *>(complist_getdata(list, 1 + static_cast<int>(rng() % count)));
    for (int atom : {1, 2}) {
      exe1_set_reference_finder(cpdcf2_ref::engine_finder);
      const std::string want = cpdcf2_ref::all_reports(a, b, atom, 1, -1);
      exe1_set_reference_finder(nullptr);
      EXPECT_EQ(cpdcf2_ref::all_reports(a, b, atom, 1, -1), want)
          << a->name << " " << b->name << " mode " << atom;
      // The reports start with the score line.
      const std::string line = cpdcf2_ref::score_line(a, b, atom, 1, -1);
      EXPECT_TRUE(!line.empty() && want.compare(0, line.size(), line) == 0)
          << a->name << " " << b->name << ": " << line;
    }
  }
}

// The search without a budget told the largest size of `want` and the nodes'
// atoms, and optionally every largest clique and the pairs' problem. A full
// list ends it, so its steps are then those of `want`.
Outcome run_known(Finder finder, const DockBits &g, const Outcome &want, const int *side1,
                  const int *side2, std::span<const int> cliques = {},
                  const mcsplit::Problem *pairs = nullptr) {
  List list;
  cpdcf2::SearchProbe probe;
  probe.known_size = want.max;
  probe.side1 = side1;
  probe.side2 = side2;
  probe.known_cliques = cliques;
  probe.pairs = pairs;
  int num = 0, max = 0;
  finder(g, 0, &num, list.mcs.data(), &max, &probe);
  return list.take(num, max, num < CPD_MAX ? probe.steps : want.steps);
}

// Without a budget, knowing the largest size and the nodes' atoms changes
// nothing the search reports: the same cliques in the same order and the
// same steps, on docking graphs of every pair of the bundled compounds and of
// random pairs of nci.qtr, in both matching modes; and whole reports in every
// form, with and without the extension.
TEST(FinderDifferential, KnownSizeKeepsTheListItsOrderAndSteps) {
  CompList *lists[2];
  for (int k = 0; k < 2; ++k) {
    FILE *fp = std::fopen(
        k == 0 ? TAVIRON_EXAMPLES_DIR "/compounds.qtr" : TAVIRON_EXAMPLES_DIR "/nci.qtr", "r");
    ASSERT_NE(fp, nullptr);
    lists[k] = read_CPDMOL_list_QTR(fp);
    std::fclose(fp);
  }
  std::vector<std::pair<CPDMOL *, CPDMOL *>> pairs;
  const int small = complist_numberof(lists[0]), nci = complist_numberof(lists[1]);
  for (int p = 1; p <= small; ++p)
    for (int q = 1; q <= small; ++q)
      pairs.emplace_back(static_cast<CPDMOL *>(complist_getdata(lists[0], p)),
                         static_cast<CPDMOL *>(complist_getdata(lists[0], q)));
  std::mt19937 rng(515u);
  for (int round = 0; round < 60; ++round)
    pairs.emplace_back(
        static_cast<CPDMOL *>(complist_getdata(lists[1], 1 + static_cast<int>(rng() % nci))),
        static_cast<CPDMOL *>(complist_getdata(lists[1], 1 + static_cast<int>(rng() % nci))));
  std::vector<DNODE> nodes(CPD_MAX);
  std::vector<char> matrix(static_cast<std::size_t>(CPD_MAX) * DOCK_STRIDE);
  const auto all = finders();
  int searched = 0;
  for (const auto &[a, b] : pairs) {
    for (int mode : {1, 2}) {
      int n = 0;
      make_DockingGraph(a, b, mode, &n, nodes.data(), matrix.data());
      if (n <= 0 || n > 120) continue;
      ++searched;
      DockBits g;
      dockbits_from_matrix(n, matrix.data(), g);
      const Outcome want = run_reference(matrix, n, 0);
      std::vector<int> e1(n), e2(n);
      for (int v = 0; v < n; ++v) e1[v] = nodes[v].e1, e2[v] = nodes[v].e2;
      // Every largest clique, listed on the compounds.
      const mcsplit::Problem problem = mcsplit::problem_of(*a, *b, nodes.data(), n);
      mcsplit::Options listed;
      listed.list_cap = 1 << 24;
      std::optional<mcsplit::Result> m = mcsplit::largest(problem, listed);
      if (m) {
        ASSERT_EQ(m->size, want.max) << a->name << " " << b->name;
      }
      const std::vector<int> cliques = m ? std::move(m->nodes) : std::vector<int>{};
      for (const auto &[name, finder] : all) {
        EXPECT_TRUE(run_known(finder, g, want, e1.data(), e2.data()) == want)
            << name << ": " << a->name << " " << b->name << " mode " << mode;
        EXPECT_TRUE(run_known(finder, g, want, e1.data(), e2.data(), cliques, &problem) == want)
            << name << " with the cliques: " << a->name << " " << b->name << " mode " << mode;
      }
      if (a == b || std::string(a->name) < b->name) continue;  // reports: one way round
      for (int exec : {1, 8}) {
        exe1_set_reference_finder(cpdcf2_ref::engine_finder);
        const std::string reports = cpdcf2_ref::all_reports(a, b, mode, exec, 0);
        exe1_set_reference_finder(nullptr);
        EXPECT_EQ(cpdcf2_ref::all_reports(a, b, mode, exec, 0), reports)
            << a->name << " " << b->name << " mode " << mode << " exec " << exec;
      }
    }
  }
  EXPECT_GT(searched, 600);
  // Complete multipartite graphs, thinned: far more than 10000 largest
  // cliques, so the list fills up. A node's block stands for its atom in
  // one compound (nodes of a block are never joined), its number for the
  // other. And a sparser graph whose nodes all pair other atoms, so that its
  // branches pair more than 64 atoms a side.
  for (const auto &[n, density, blocks] :
       {std::tuple{40, 1.0, 5}, {48, 0.97, 5}, {60, 0.9, 5}, {160, 0.45, 0}}) {
    const std::vector<char> m = random_matrix(n, density, blocks, rng);
    DockBits g;
    dockbits_from_matrix(n, m.data(), g);
    const Outcome want = run_reference(m, n, 0);
    if (blocks > 0) {
      ASSERT_EQ(want.num, CPD_MAX);
    }
    std::vector<int> block(n), number(n);
    for (int v = 0; v < n; ++v) block[v] = blocks > 0 ? v % blocks : v, number[v] = v;
    for (const auto &[name, finder] : all) {
      EXPECT_TRUE(run_known(finder, g, want, block.data(), number.data()) == want)
          << name << ": " << n << " nodes";
    }
  }
}

// Drug-sized pairs whose search without a budget does not finish within the
// default budget's worth of passes, so that it starts again knowing every
// largest clique, or their size alone, or both at once: every report form,
// with and without the extension, as the reference search gives them, each
// way. Among them, pairs whose list of 10000 fills up. A search that gives
// up at a time already past gives up.
TEST(FinderDifferential, DrugPairsWithoutBudgetAsTheReference) {
  FILE *fp = std::fopen(TAVIRON_EXAMPLES_DIR "/../bench/drugs/drugs.qtr", "r");
  ASSERT_NE(fp, nullptr);
  CompList *drugs = read_CPDMOL_list_QTR(fp);
  std::fclose(fp);
  auto get = [drugs](std::string id) {
    return static_cast<CPDMOL *>(complist_getdata(drugs, nsearch_CPDMOL(drugs, id.data())));
  };
  std::vector<DNODE> nodes(CPD_MAX);
  List list;
  int restarted = 0, gave_up_in_time = 0;
  // Seconds for the short listing and for the search with the size alone
  // before the listing starts beside it: the cliques at once, the size
  // alone, both at once (either may finish first).
  constexpr std::pair<double, double> kWays[] = {{1e9, 1e9}, {1e-9, 1e9}, {1e-9, 1e-9}};
  for (const char *pair : {"D00191 D01169", "D00105 D00536", "D00433 D00203", "D00017 D00952",
                           "D00354 D00734", "D00171 D00175", "D00393 D00415", "D00289 D00038"}) {
    const std::string text = pair;
    CPDMOL *a = get(text.substr(0, 6)), *b = get(text.substr(7));
    ASSERT_TRUE(a != nullptr && b != nullptr) << pair;
    DockBits g;
    int n = 0, num = 0, max = 0;
    make_DockingGraph_bits(a, b, 1, &n, nodes.data(), g);
    cpdcf2::SearchProbe quick;
    quick.give_up_after = 15000;
    cpdcf2::clifinder2_bits(g, 0, &num, list.mcs.data(), &max, &quick);
    restarted += quick.gave_up;
    cpdcf2::SearchProbe late;
    late.give_up_at = std::chrono::steady_clock::now();
    cpdcf2::clifinder2_bits(g, 0, &num, list.mcs.data(), &max, &late);
    gave_up_in_time += late.gave_up;
    // Told what the report makes of the list, the search lists the same
    // cliques (in an order of its own), or stops once the report is settled.
    {
      const mcsplit::Problem problem = mcsplit::problem_of(*a, *b, nodes.data(), n);
      mcsplit::Options every;
      every.list_cap = 8 << 20;
      const std::optional<mcsplit::Result> m = mcsplit::largest(problem, every);
      ASSERT_TRUE(m && !m->nodes.empty()) << pair;
      std::vector<int> e1(n), e2(n);
      for (int v = 0; v < n; ++v) e1[v] = nodes[v].e1, e2[v] = nodes[v].e2;
      Outcome lists[2];
      ReportJudge judge(a, b, nodes.data(), m->nodes, m->size);
      for (int judged : {0, 1}) {
        List listed;
        cpdcf2::SearchProbe probe;
        probe.known_size = m->size;
        probe.side1 = e1.data();
        probe.side2 = e2.data();
        probe.known_cliques = m->nodes;
        probe.pairs = &problem;
        probe.judge = judged ? &judge : nullptr;
        cpdcf2::clifinder2_bits(g, 0, &num, listed.mcs.data(), &max, &probe);
        lists[judged] = listed.take(num, max, 0);
        std::sort(lists[judged].cliques.begin(), lists[judged].cliques.end());
      }
      if (!judge.settled()) {
        EXPECT_TRUE(lists[0] == lists[1]) << pair;
      }
    }
    for (int exec : {1, 8}) {
      exe1_set_reference_finder(cpdcf2_ref::engine_finder);
      const std::string want = cpdcf2_ref::all_reports(a, b, 1, exec, 0);
      exe1_set_reference_finder(nullptr);
      for (const auto &[listing, search] : kWays) {
        exe1_set_short_tries(listing, search);
        EXPECT_EQ(cpdcf2_ref::all_reports(a, b, 1, exec, 0), want)
            << pair << " exec " << exec << " short tries " << listing << " " << search;
      }
      exe1_set_short_tries(-1, -1);
    }
  }
  EXPECT_EQ(restarted, 8);
  EXPECT_EQ(gave_up_in_time, 8);
}

}  // namespace
