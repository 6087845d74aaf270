// What the report can tell of the order of the largest cliques: whatever
// the order of the list, what the judge lets the search leave out changes
// neither the best clique nor its pieces in the sorted piece list. Checked
// on every largest clique of example pairs, in both docking modes, with
// the list in random orders (any order is one the search might give).
#include "reportjudge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <vector>

#include "cpdgraph.h"
#include "cpdio.h"
#include "exe1.h"
#include "mcsplit.h"
#include "test_records.h"

namespace {

using Cliques = std::vector<std::vector<int>>;

// The best clique's pieces, in the order of the sorted piece list, for the
// list `list` on the engine's tables.
Cliques shown(CPDMOL *a, CPDMOL *b, const Cliques &list) {
  Exe1State &st = exe1_state();
  st.mcsnum = static_cast<int>(list.size());
  for (std::size_t i = 0; i < list.size(); ++i) {
    MCS &c = st.mcslist[i];
    std::free(c.vlist);
    c.vlist = static_cast<int *>(std::malloc(sizeof(int) * list[i].size()));
    std::copy(list[i].begin(), list[i].end(), c.vlist);
    c.vnum = static_cast<int>(list[i].size());
  }
  init_cpdgraph(a, b, st.nodelist, &st.mcsnum, st.mcslist, &st.sccsnum, st.sccslist,
                st.mcs_sccs_table);
  score_MCS_list();
  make_SCCS_list();
  score_SCCS_list();
  sort_SCCS_list(0, st.sccsnum - 1);
  int best = -1;
  get_maxMCSinfo(&best, nullptr, nullptr, nullptr, nullptr);
  Cliques pieces;
  const char *row = st.mcs_sccs_table + static_cast<std::size_t>(best) * cpdgraph_table_stride();
  for (int s = 0; s < st.sccsnum; ++s)
    if (row[s])
      pieces.emplace_back(st.sccslist[s].vlist, st.sccslist[s].vlist + st.sccslist[s].vnum);
  for (std::size_t i = 0; i < list.size(); ++i) {
    std::free(st.mcslist[i].vlist);
    st.mcslist[i] = MCS{};
  }
  st.mcsnum = 0;
  return pieces;
}

struct Tally {
  int pairs = 0, settled = 0, reordered = 0;
};

// Every largest clique of a and b, in random orders, as the search records
// them: the first, then blocks that the judge may take in any order,
// shuffled when it does. The report must come out as for the whole list.
void check_pair(CPDMOL *a, CPDMOL *b, int mode, std::mt19937 &rng, Tally &tally) {
  init_exe1(mode, 1, 4, 0, CPD_MAX);
  if (!dock_pair(a, b)) return;
  Exe1State &st = exe1_state();
  const mcsplit::Problem problem = mcsplit::problem_of(*a, *b, st.nodelist, st.nodenum);
  mcsplit::Options options;
  options.list_cap = 1 << 17;  // a few thousand cliques
  const std::optional<mcsplit::Result> m = mcsplit::largest(problem, options);
  if (!m || m->nodes.empty()) return;
  const std::size_t size = static_cast<std::size_t>(m->size);
  Cliques all;
  for (std::size_t at = 0; at < m->nodes.size(); at += size) {
    all.emplace_back(m->nodes.begin() + at, m->nodes.begin() + at + size);
    std::sort(all.back().begin(), all.back().end());
  }
  if (all.size() < 2 || all.size() > 3000) return;
  ++tally.pairs;
  for (int round = 0; round < 4; ++round) {
    std::vector<int> order(all.size());
    for (std::size_t q = 0; q < order.size(); ++q) order[q] = static_cast<int>(q);
    std::shuffle(order.begin(), order.end(), rng);
    Cliques list;
    for (int q : order) list.push_back(all[q]);
    const Cliques want = shown(a, b, list);
    ReportJudge judge(a, b, st.nodelist, m->nodes, m->size);
    judge.recorded(list[0]);
    if (judge.settled()) {
      ++tally.settled;
      EXPECT_EQ(shown(a, b, {list[0]}), want) << a->name << " " << b->name << " " << mode;
      continue;
    }
    for (std::size_t at = 1; at < list.size();) {
      const std::size_t len = std::min<std::size_t>(2 + rng() % 6, list.size() - at);
      if (!judge.any_order({order.data() + at, len})) {
        judge.recorded(list[at++]);
        continue;
      }
      ++tally.reordered;
      std::shuffle(list.begin() + static_cast<std::ptrdiff_t>(at),
                   list.begin() + static_cast<std::ptrdiff_t>(at + len), rng);
      for (std::size_t k = at; k < at + len; ++k) judge.recorded(list[k]);
      at += len;
    }
    EXPECT_EQ(shown(a, b, list), want) << a->name << " " << b->name << " " << mode;
  }
}

CompList *read(const char *path) {
  FILE *fp = std::fopen(path, "r");
  if (fp == nullptr) return nullptr;
  CompList *mols = read_CPDMOL_list_QTR(fp);
  std::fclose(fp);
  return mols;
}

// Every pair of the examples, and the first drug pairs of the benchmark.
TEST(ReportJudge, WhatItLeavesOutChangesNoReport) {
  CompList *mols = read(TAVIRON_EXAMPLES_DIR "/compounds.qtr");
  CompList *drugs = read(TAVIRON_EXAMPLES_DIR "/../bench/drugs/drugs.qtr");
  FILE *fp = std::fopen(TAVIRON_EXAMPLES_DIR "/../bench/drugs/pairs.txt", "r");
  ASSERT_TRUE(mols != nullptr && drugs != nullptr && fp != nullptr);
  std::mt19937 rng(7);
  Tally tally;
  const int n = complist_numberof(mols);
  for (int i = 1; i <= n; ++i)
    for (int j = i; j <= n; ++j)
      for (int mode : {1, 2})
        check_pair(static_cast<CPDMOL *>(complist_getdata(mols, i)),
                   static_cast<CPDMOL *>(complist_getdata(mols, j)), mode, rng, tally);
  char a[32], b[32];
  for (int k = 0; k < 120 && std::fscanf(fp, "%31s %31s", a, b) == 2; ++k)
    for (int mode : {1, 2})
      check_pair(static_cast<CPDMOL *>(complist_getdata(drugs, nsearch_CPDMOL(drugs, a))),
                 static_cast<CPDMOL *>(complist_getdata(drugs, nsearch_CPDMOL(drugs, b))), mode,
                 rng, tally);
  std::fclose(fp);
  CompList *nci = read(TAVIRON_EXAMPLES_DIR "/nci.qtr");
  ASSERT_NE(nci, nullptr);
  const int count = complist_numberof(nci);
  for (int k = 0; k < 400; ++k)
    check_pair(static_cast<CPDMOL *>(complist_getdata(nci, 1 + static_cast<int>(rng() % count))),
               static_cast<CPDMOL *>(complist_getdata(nci, 1 + static_cast<int>(rng() % count))),
               1 + static_cast<int>(rng() % 2), rng, tally);
  EXPECT_GT(tally.pairs, 300);
  EXPECT_GT(tally.settled, 500);
  EXPECT_GT(tally.reordered, 500);
}

// Two cliques of 7 nodes on one bond graph (node k pairs atom k with atom
// k): the first is a chain of 5 and two lone nodes, the second a lone node,
// a bonded pair and a chain of 4, in that order of their lowest nodes. The
// sort of the pieces [5, 1, 1, 1, 2, 4] (worked through by hand: the first
// partition around 3 sends the 4 forward, the part [1, 1, 1, 2, 1] then puts
// the 2 first and moves the second lone node of the first clique before its
// first) swaps the first clique's lone nodes, so its pieces tied in score do
// not decide alone.
TEST(ReportJudge, TiedPiecesOfTheFirstCliqueAreNotItsOwnToOrder) {
  test_records::Mol mol(14, {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {8, 9}, {10, 11}, {11, 12}, {12, 13}});
  Exe1State &st = exe1_state();
  for (int k = 0; k < 14; ++k) st.nodelist[k] = DNODE{k, k, 1.0, 1};
  const Cliques list = {{0, 1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12, 13}};
  const Cliques want = {{0, 1, 2, 3, 4}, {6}, {5}};
  ASSERT_EQ(shown(&mol.rec, &mol.rec, list), want);
  const std::vector<int> flat = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
  ReportJudge judge(&mol.rec, &mol.rec, st.nodelist, flat, 7);
  judge.recorded(list[0]);
  EXPECT_FALSE(judge.settled());
}

}  // namespace
