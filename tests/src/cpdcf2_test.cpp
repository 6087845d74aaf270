#include "cpdcf2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "cpddock.h"

namespace {

using Clique = std::vector<int>;

// Adjacency matrix with the engine's fixed row length.
class Graph {
 public:
  explicit Graph(int n) : n_(n), cells_(static_cast<std::size_t>(std::max(n, 1)) * DOCK_STRIDE) {}
  void join(int a, int b, char v = 1) {
    cell(a, b) = v;
    cell(b, a) = v;
  }
  bool adjacent(int a, int b) const { return cells_[index(a, b)] != 0; }
  char *matrix() { return cells_.data(); }
  int size() const { return n_; }

 private:
  static std::size_t index(int a, int b) { return static_cast<std::size_t>(a) * DOCK_STRIDE + b; }
  char &cell(int a, int b) { return cells_[index(a, b)]; }
  int n_;
  std::vector<char> cells_;
};

// A caller-owned clique list, zeroed like the engine's, releasing what it holds.
class CliqueList {
 public:
  CliqueList() : mcs_(CPD_MAX) {}
  ~CliqueList() {
    for (MCS &m : mcs_) std::free(m.vlist);
  }
  CliqueList(const CliqueList &) = delete;
  CliqueList &operator=(const CliqueList &) = delete;
  MCS *data() { return mcs_.data(); }
  MCS &operator[](int k) { return mcs_[k]; }
  Clique clique(int k) const { return Clique(mcs_[k].vlist, mcs_[k].vlist + mcs_[k].vnum); }

 private:
  std::vector<MCS> mcs_;
};

struct Result {
  int num = -1;
  int max = -1;
  long long steps = -1;
  std::vector<Clique> cliques;
};

Result search(Graph &g, int repeat, CliqueList &list, cpdcf2::SearchProbe probe = {}) {
  Result r;
  cpdcf2::clifinder2_probe(g.size(), g.matrix(), repeat, &r.num, list.data(), &r.max, &probe);
  r.steps = probe.steps;
  for (int k = 0; k < r.num; ++k) r.cliques.push_back(list.clique(k));
  return r;
}

Result search(Graph &g, int repeat) {
  CliqueList list;
  return search(g, repeat, list);
}

// Allocation hooks that log what the finder takes and gives back.
std::vector<void *> g_taken;
std::vector<void *> g_given_back;
int g_alloc_calls = 0;
int g_fail_call = -1;  // this allocation (0-based) fails

void reset_hooks(int fail_call = -1) {
  g_taken.clear();
  g_given_back.clear();
  g_alloc_calls = 0;
  g_fail_call = fail_call;
}
void *logging_alloc(std::size_t n) {
  if (g_alloc_calls++ == g_fail_call) return nullptr;
  void *p = std::malloc(n);
  g_taken.push_back(p);
  return p;
}
void logging_release(void *p) {
  g_given_back.push_back(p);
  std::free(p);
}
cpdcf2::SearchProbe logging_probe() {
  cpdcf2::SearchProbe probe;
  probe.alloc = logging_alloc;
  probe.release = logging_release;
  return probe;
}

// ---------------------------------------------------------------------------

TEST(QuickSort, ShortArraysAreLeftAlone) {
  int dat[1] = {4};
  int dat2[1] = {9};
  cpdcf2::quick_sort(0, dat, dat2);
  cpdcf2::quick_sort(1, dat, dat2);
  EXPECT_EQ(dat[0], 4);
  EXPECT_EQ(dat2[0], 9);
}

TEST(QuickSort, AllEqualKeysKeepTheirOrder) {
  // Pivot = dat[0]; i stops at 0 (not greater), j runs down to 0: no exchange,
  // then the same on positions 1.. and so on.
  int dat[] = {2, 2, 2, 2};
  int dat2[] = {10, 11, 12, 13};
  cpdcf2::quick_sort(4, dat, dat2);
  EXPECT_EQ(std::vector<int>(dat2, dat2 + 4), (std::vector<int>{10, 11, 12, 13}));
}

TEST(QuickSort, EqualKeysFollowTheExchanges) {
  {
    // p=2; i=0, j=1 (3 > 2): exchange 0,1 -> [3,2,2]/[1,0,2]; i=1, j=0: stop.
    // Halves [3] and [2,2] need no exchange.
    int dat[] = {2, 3, 2};
    int dat2[] = {0, 1, 2};
    cpdcf2::quick_sort(3, dat, dat2);
    EXPECT_EQ(std::vector<int>(dat, dat + 3), (std::vector<int>{3, 2, 2}));
    EXPECT_EQ(std::vector<int>(dat2, dat2 + 3), (std::vector<int>{1, 0, 2}));
  }
  {
    // p=1; i=0, j=2: exchange -> [2,1,1]/[2,1,0]; i=1, j=0: stop. The two equal
    // keys now stand in reverse order.
    int dat[] = {1, 1, 2};
    int dat2[] = {0, 1, 2};
    cpdcf2::quick_sort(3, dat, dat2);
    EXPECT_EQ(std::vector<int>(dat, dat + 3), (std::vector<int>{2, 1, 1}));
    EXPECT_EQ(std::vector<int>(dat2, dat2 + 3), (std::vector<int>{2, 1, 0}));
  }
  {
    // p=2; exchanges (0,6), (1,5), (2,4) bring the 3s forward, then j stops at
    // 2 below i=3; both halves are uniform. Every key ends up reversed.
    int dat[] = {2, 2, 2, 2, 3, 3, 3};
    int dat2[] = {1, 2, 3, 4, 5, 6, 7};
    cpdcf2::quick_sort(7, dat, dat2);
    EXPECT_EQ(std::vector<int>(dat, dat + 7), (std::vector<int>{3, 3, 3, 2, 2, 2, 2}));
    EXPECT_EQ(std::vector<int>(dat2, dat2 + 7), (std::vector<int>{7, 6, 5, 4, 3, 2, 1}));
  }
  {
    // p=0; exchange (0,3) -> [1,1,0,0]/[d,b,c,a]; i=2, j=1: stop; halves uniform.
    int dat[] = {0, 1, 0, 1};
    int dat2[] = {'a', 'b', 'c', 'd'};
    cpdcf2::quick_sort(4, dat, dat2);
    EXPECT_EQ(std::vector<int>(dat2, dat2 + 4), (std::vector<int>{'d', 'b', 'c', 'a'}));
  }
}

TEST(QuickSort, SortsDescending) {
  int dat[] = {5, 1, 9, 3, 3, 7, 0, 9, 2};
  int dat2[] = {0, 1, 2, 3, 4, 5, 6, 7, 8};
  cpdcf2::quick_sort(9, dat, dat2);
  EXPECT_TRUE(std::is_sorted(dat, dat + 9, std::greater<int>()));
  // Every key travels with its partner.
  const int original[] = {5, 1, 9, 3, 3, 7, 0, 9, 2};
  for (int k = 0; k < 9; ++k) EXPECT_EQ(dat[k], original[dat2[k]]);
}

TEST(CompareInt, OrdersAscending) {
  const int a = 3, b = 5;
  EXPECT_EQ(cpdcf2::compare_int(&a, &b), -1);
  EXPECT_EQ(cpdcf2::compare_int(&b, &a), 1);
  EXPECT_EQ(cpdcf2::compare_int(&a, &a), 0);
}

// ---------------------------------------------------------------------------

TEST(Clifinder2, EmptyGraphLeavesTheListAlone) {
  Graph g(0);
  CliqueList list;
  int *held = static_cast<int *>(std::malloc(sizeof(int)));
  list[0].vnum = 7;
  list[0].vlist = held;
  for (int n : {0, -3}) {
    int num = -1, max = -1;
    clifinder2(n, g.matrix(), -1, &num, list.data(), &max);
    EXPECT_EQ(num, 0);
    EXPECT_EQ(max, 0);
    EXPECT_EQ(list[0].vnum, 7);
    EXPECT_EQ(list[0].vlist, held);
  }
}

TEST(Clifinder2, IsolatedNodesAreOneNodeCliquesInOrder) {
  // Equal sums keep the order 0..3; every candidate has an empty next list.
  Graph g(4);
  const Result r = search(g, -1);
  EXPECT_EQ(r.max, 1);
  EXPECT_EQ(r.cliques, (std::vector<Clique>{{0}, {1}, {2}, {3}}));
}

TEST(Clifinder2, CompleteGraphIsFoundByTheCliqueTest) {
  Graph g(4);
  for (int a = 0; a < 4; ++a)
    for (int b = a + 1; b < 4; ++b) g.join(a, b);
  for (int repeat : {-1, 0}) {
    // The clique test counts one step even without a budget; no loop runs.
    const Result r = search(g, repeat);
    EXPECT_EQ(r.max, 4);
    EXPECT_EQ(r.cliques, (std::vector<Clique>{{0, 1, 2, 3}}));
    EXPECT_EQ(r.steps, 1);
  }
}

TEST(Clifinder2, TwoEdgesFromOneNode) {
  Graph g(3);
  g.join(0, 1);
  g.join(0, 2);
  const Result r = search(g, -1);
  EXPECT_EQ(r.max, 2);
  EXPECT_EQ(r.cliques, (std::vector<Clique>{{0, 1}, {0, 2}}));
}

TEST(Clifinder2, PathWithAndWithoutBudget) {
  Graph g(3);
  g.join(0, 1);
  g.join(1, 2);
  // Node 1 (sum 3) goes first; its next list [0, 2] gives both edges.
  const Result open = search(g, 0);
  EXPECT_EQ(open.max, 2);
  EXPECT_EQ(open.cliques, (std::vector<Clique>{{0, 1}, {1, 2}}));
  // Budget 1: the first pass uses it, the next level's first pass exceeds it.
  const Result cut = search(g, 1);
  EXPECT_EQ(cut.num, 0);
  EXPECT_EQ(cut.max, 0);
}

TEST(Clifinder2, BudgetStopsTheLoop) {
  // Four isolated nodes: one step per candidate; the step that exceeds the
  // budget ends the search before its candidate is looked at.
  Graph g(4);
  const Result one = search(g, 1);
  EXPECT_EQ(one.cliques, (std::vector<Clique>{{0}}));
  EXPECT_EQ(one.steps, 2);
  const Result two = search(g, 2);
  EXPECT_EQ(two.cliques, (std::vector<Clique>{{0}, {1}}));
  EXPECT_EQ(two.steps, 3);
  // Without a budget loop passes are not counted at all.
  EXPECT_EQ(search(g, 0).steps, 0);
}

// Star 0-1..4 and triangle 5-6-7. Sums: hub 5, triangle 3, leaves 2, so the
// star is searched first and records {0,4},{0,3},{0,2},{0,1}; then 7 is chosen
// (counter 6 >= 8/2, so its level is coloured), and colours reorder [6,5] to
// [5,6]: the triangle is recorded as 7, 5, 6.
Graph star_and_triangle() {
  Graph g(8);
  for (int leaf = 1; leaf <= 4; ++leaf) g.join(0, leaf);
  g.join(5, 6);
  g.join(5, 7);
  g.join(6, 7);
  return g;
}

TEST(Clifinder2, LargerCliqueRestartsTheList) {
  Graph g = star_and_triangle();
  CliqueList list;
  int *held = static_cast<int *>(std::malloc(sizeof(int)));
  list[0].vnum = 1;
  list[0].vlist = held;
  reset_hooks();
  const Result r = search(g, -1, list, logging_probe());
  EXPECT_EQ(r.max, 3);
  EXPECT_EQ(r.cliques, (std::vector<Clique>{{5, 6, 7}}));
  // Entries past the count keep the arrays of the smaller cliques.
  EXPECT_EQ(list.clique(1), (Clique{0, 3}));
  EXPECT_EQ(list.clique(2), (Clique{0, 2}));
  EXPECT_EQ(list.clique(3), (Clique{0, 1}));
  // Five arrays taken; entry 0 gave back the caller's array, then {0,4}'s.
  ASSERT_EQ(g_taken.size(), 5u);
  EXPECT_EQ(g_given_back, (std::vector<void *>{held, g_taken[0]}));
  EXPECT_EQ(list[0].vlist, g_taken[4]);
}

TEST(Clifinder2, VertexArraysAreAscending) {
  // Chosen as 7, then 5, then 6 (see star_and_triangle), stored ascending.
  Graph g = star_and_triangle();
  EXPECT_EQ(search(g, -1).cliques.front(), (Clique{5, 6, 7}));
  // Chosen as 1, then 0: stored {0, 1}.
  Graph path(3);
  path.join(0, 1);
  path.join(1, 2);
  EXPECT_EQ(search(path, 0).cliques.front(), (Clique{0, 1}));
}

TEST(Clifinder2, ChangeoverDecidesTheOrder) {
  // K5,5 on 0..9 (sum 6), hub 10 joined to 11..14 (sum 5), edges 11-12 and
  // 13-14 (sum 3). Without a budget nothing counts before the hub's level, so
  // it is searched by neighbour counts: {10,11,12} then {10,13,14}. With a
  // budget the K5,5 passes push the counter past 15/2, the hub's level is
  // coloured 0,1,0,1 and reordered to 14,12,13,11.
  Graph g(15);
  for (int a = 0; a < 5; ++a)
    for (int b = 5; b < 10; ++b) g.join(a, b);
  for (int v = 11; v <= 14; ++v) g.join(10, v);
  g.join(11, 12);
  g.join(13, 14);
  const Result by_sum = search(g, 0);
  EXPECT_EQ(by_sum.cliques, (std::vector<Clique>{{10, 11, 12}, {10, 13, 14}}));
  const Result by_colour = search(g, 100000);
  EXPECT_EQ(by_colour.cliques, (std::vector<Clique>{{10, 13, 14}, {10, 11, 12}}));
}

TEST(Clifinder2, KeepsTheFirstTenThousandCliques) {
  // Complete 5-partite graph, parts {10p .. 10p+9}: 10^5 largest cliques, one
  // node per part. Every candidate list is a union of whole parts, so sums
  // are equal and nothing is reordered: cliques come in lexicographic order,
  // clique c taking node 10p + (digit p of c in base 10) from part p.
  Graph g(50);
  for (int a = 0; a < 50; ++a)
    for (int b = a + 1; b < 50; ++b)
      if (a / 10 != b / 10) g.join(a, b, 2);
  CliqueList list;
  const Result r = search(g, 0, list);
  EXPECT_EQ(r.max, 5);
  ASSERT_EQ(r.num, CPD_MAX);
  for (int c = 0; c < CPD_MAX; ++c) {
    const Clique want{0, 10 + c / 1000, 20 + c / 100 % 10, 30 + c / 10 % 10, 40 + c % 10};
    ASSERT_EQ(r.cliques[c], want) << "clique " << c;
  }
}

TEST(Clifinder2, FailedAllocationDropsOnlyThatClique) {
  // Path 0-1-2 without budget records {0,1} then {1,2}; when {0,1}'s array
  // cannot be had, the size stays 0 and {1,2} becomes the first clique.
  Graph g(3);
  g.join(0, 1);
  g.join(1, 2);
  CliqueList list;
  reset_hooks(0);
  const Result r = search(g, 0, list, logging_probe());
  EXPECT_EQ(r.max, 2);
  EXPECT_EQ(r.cliques, (std::vector<Clique>{{1, 2}}));

  // With no memory at all nothing is recorded.
  CliqueList none;
  cpdcf2::SearchProbe probe;
  probe.alloc = [](std::size_t) -> void * { return nullptr; };
  const Result empty = search(g, 0, none, probe);
  EXPECT_EQ(empty.num, 0);
  EXPECT_EQ(empty.max, 0);
  EXPECT_EQ(none[0].vlist, nullptr);
}

// ---------------------------------------------------------------------------

// Largest cliques by trying every subset.
struct BruteForce {
  int max = 0;
  std::set<Clique> cliques;
};

BruteForce brute_force(const Graph &g) {
  const int n = g.size();
  std::vector<std::uint32_t> nb(n, 0);
  for (int a = 0; a < n; ++a)
    for (int b = 0; b < n; ++b)
      if (a != b && g.adjacent(a, b)) nb[a] |= 1u << b;
  BruteForce bf;
  for (std::uint32_t s = 1; s < (1u << n); ++s) {
    bool clique = true;
    for (int v = 0; v < n && clique; ++v)
      if ((s >> v & 1u) && (s & ~nb[v] & ~(1u << v))) clique = false;
    if (!clique) continue;
    const int size = __builtin_popcount(s);
    if (size > bf.max) {
      bf.max = size;
      bf.cliques.clear();
    }
    if (size == bf.max) {
      Clique c;
      for (int v = 0; v < n; ++v)
        if (s >> v & 1u) c.push_back(v);
      bf.cliques.insert(c);
    }
  }
  return bf;
}

void expect_valid(const Graph &g, const Result &r) {
  std::set<Clique> seen;
  for (const Clique &c : r.cliques) {
    ASSERT_EQ(static_cast<int>(c.size()), r.max);
    ASSERT_TRUE(std::is_sorted(c.begin(), c.end()));
    for (std::size_t x = 0; x < c.size(); ++x)
      for (std::size_t y = x + 1; y < c.size(); ++y) ASSERT_TRUE(g.adjacent(c[x], c[y]));
    ASSERT_TRUE(seen.insert(c).second) << "clique repeated";
  }
}

TEST(Clifinder2, MatchesBruteForceOnRandomGraphs) {
  std::mt19937 rng(20240611u);
  for (int round = 0; round < 200; ++round) {
    const int n = 5 + static_cast<int>(rng() % 10);
    const unsigned density = 10 + rng() % 81;  // percent
    Graph g(n);
    for (int a = 0; a < n; ++a)
      for (int b = a + 1; b < n; ++b)
        if (rng() % 100 < density) g.join(a, b, 1 + static_cast<char>(rng() % 2));
    SCOPED_TRACE(testing::Message() << "round " << round << ", " << n << " nodes");

    const BruteForce bf = brute_force(g);
    const Result open = search(g, 0);
    expect_valid(g, open);
    EXPECT_EQ(open.max, bf.max);
    EXPECT_EQ(std::set<Clique>(open.cliques.begin(), open.cliques.end()), bf.cliques);

    // With the default budget the result must at least be consistent.
    expect_valid(g, search(g, -1));
  }
}

}  // namespace
