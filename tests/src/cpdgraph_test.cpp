// Clique scoring, connected pieces, their sort and the best-clique choice, on
// hand-built compounds, docking nodes and cliques.
#include "cpdgraph.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <thread>
#include <utility>
#include <vector>

#include "test_records.h"

namespace {

using test_records::Mol;

// The engine tables the module is bound to, in lazily zeroed pages.
struct Tables {
  DNODE nodelist[CPD_MAX];
  int mcsnum;
  MCS mcslist[CPD_MAX];
  int sccsnum;
  SCCS sccslist[CPD_MAX];
  char table[CPD_MAX * CPD_MAX];
};

class CpdGraph : public ::testing::Test {
 protected:
  LazyZeroed<Tables> t;

  ~CpdGraph() override {
    for (MCS &c : t->mcslist) std::free(c.vlist);
  }

  void bind(Mol &m1, Mol &m2) {
    init_cpdgraph(&m1.rec, &m2.rec, t->nodelist, &t->mcsnum, t->mcslist, &t->sccsnum, t->sccslist,
                  t->table);
  }
  void node(int k, int e1, int e2, double score) {
    t->nodelist[k] = DNODE{e1, e2, score, static_cast<char>(score == 1.0 ? 1 : 0)};
  }
  void clique(int i, std::vector<int> nodes) {
    MCS &c = t->mcslist[i];
    std::free(c.vlist);
    c.vnum = static_cast<int>(nodes.size());
    c.vlist = static_cast<int *>(std::malloc(sizeof(int) * std::max<std::size_t>(1, nodes.size())));
    std::copy(nodes.begin(), nodes.end(), c.vlist);
    t->mcsnum = std::max(t->mcsnum, i + 1);
  }
  std::vector<int> piece(int s) const {
    const SCCS &p = t->sccslist[s];
    return std::vector<int>(p.vlist, p.vlist + p.vnum);
  }
  std::vector<int> row(int m, int cols) const {
    std::vector<int> r;
    for (int s = 0; s < cols; s++) r.push_back(t->table[m * cpdgraph_table_stride() + s]);
    return r;
  }
  void set_piece(int s, std::vector<int> nodes, double score) {
    SCCS &p = t->sccslist[s];
    p.vnum = static_cast<int>(nodes.size());
    std::copy(nodes.begin(), nodes.end(), p.vlist);
    p.score = score;
  }
  void set_row(int m, std::vector<int> cells) {
    for (std::size_t s = 0; s < cells.size(); s++)
      t->table[m * cpdgraph_table_stride() + s] = cells[s];
  }
  void pieces_follow_definition(bool tracked);
  void full_pass(int start = 0) {
    score_MCS_list();
    make_SCCS_list();
    score_SCCS_list();
    sort_SCCS_list(start, t->sccsnum - 1);
  }
};

TEST_F(CpdGraph, CliqueScoreAddsUnmatchedAtomCount) {
  // Node scores 3.5 in all, plus 10 + 12 - 2 * 4 = 14 atoms left unmatched.
  Mol m1(10, {});
  Mol m2(12, {});
  bind(m1, m2);
  node(0, 0, 0, 1.0);
  node(1, 1, 1, 1.0);
  node(2, 2, 2, 0.5);
  node(3, 3, 3, 1.0);
  clique(0, {0, 1, 2, 3});
  clique(1, {0, 1});
  t->mcslist[1].vnum = 0;  // emptied: its score is left alone
  t->mcslist[1].score = -7.0;
  score_MCS_list();
  EXPECT_DOUBLE_EQ(t->mcslist[0].score, 17.5);
  EXPECT_DOUBLE_EQ(t->mcslist[1].score, -7.0);
}

TEST_F(CpdGraph, CliqueBondedInBothCompoundsIsOnePiece) {
  // Chains 0-1-2 in both compounds, nodes pairing equal atoms.
  Mol m1(3, {{0, 1}, {1, 2}});
  Mol m2(3, {{0, 1}, {1, 2}});
  bind(m1, m2);
  node(0, 0, 0, 1.0);
  node(1, 1, 1, 0.5);
  node(2, 2, 2, 1.0);
  clique(0, {0, 1, 2});
  full_pass();
  ASSERT_EQ(t->sccsnum, 1);
  EXPECT_EQ(piece(0), (std::vector<int>{0, 1, 2}));
  EXPECT_DOUBLE_EQ(t->sccslist[0].score, 2.5);
  EXPECT_EQ(row(0, 3), (std::vector<int>{1, 0, 0}));
}

TEST_F(CpdGraph, PairsBondedInOneCompoundOnlyAreSeparatePieces) {
  // Bonded in the first compound, not in the second: three one-node pieces,
  // listed by ascending node, all flagged in the clique's row.
  Mol m1(3, {{0, 1}, {1, 2}, {0, 2}});
  Mol m2(3, {});
  bind(m1, m2);
  node(0, 2, 2, 1.0);
  node(1, 1, 1, 1.0);
  node(2, 0, 0, 1.0);
  clique(0, {0, 1, 2});
  full_pass();
  ASSERT_EQ(t->sccsnum, 3);
  EXPECT_EQ(piece(0), std::vector<int>{0});
  EXPECT_EQ(piece(1), std::vector<int>{1});
  EXPECT_EQ(piece(2), std::vector<int>{2});
  EXPECT_EQ(row(0, 4), (std::vector<int>{1, 1, 1, 0}));
}

TEST_F(CpdGraph, SharedPieceIsListedOnceAndFlaggedInBothRows) {
  // Atoms 0-1 bonded in both compounds; 2 and 3 stand alone. Cliques {0,1,2}
  // and {0,1,3} share the piece {0,1}. First appearance: {0,1}, {2}, {3}.
  Mol m1(4, {{0, 1}});
  Mol m2(4, {{0, 1}});
  bind(m1, m2);
  for (int k = 0; k < 4; k++) node(k, k, k, 1.0);
  clique(0, {0, 1, 2});
  clique(1, {0, 1, 3});
  full_pass();
  ASSERT_EQ(t->sccsnum, 3);
  EXPECT_EQ(piece(0), (std::vector<int>{0, 1}));
  EXPECT_EQ(piece(1), std::vector<int>{2});
  EXPECT_EQ(piece(2), std::vector<int>{3});
  EXPECT_EQ(row(0, 3), (std::vector<int>{1, 1, 0}));
  EXPECT_EQ(row(1, 3), (std::vector<int>{1, 0, 1}));
}

// Many cliques drawn from few nodes, so that they share pieces: the piece
// list and the rows are those the definition gives (pieces as connected
// parts, listed by first appearance, nodes ascending). Rounds vary how the
// cliques reach the pieces: docking nodes in atom order or shuffled, one
// long chain bonded alike in both compounds, cliques of one node.
// Random cliques of random compounds, round after round on the same tables:
// the pieces and the rows as the definition gives them, also after the sort
// (which moves each piece's column with it). With `tracked` the table is
// declared zeroed, so that each round clears only the cells set before.
void CpdGraph::pieces_follow_definition(bool tracked) {
  if (tracked) cpdgraph_zeroed_table(t->table);
  std::mt19937 rng(11);
  auto rand = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  for (int round = 0; round < 60; round++) {
    const bool chain = round % 10 == 9;
    const int atoms = chain ? 90 : 8 + rand(12);
    std::vector<std::pair<int, int>> b1, b2;
    for (int p = 0; p < atoms; p++) {
      for (int q = p + 1; q < atoms; q++) {
        const bool in_chain = q == p + 1;
        if (chain ? in_chain : rand(100) < 30) b1.emplace_back(p, q);
        if (chain ? in_chain : rand(100) < 30) b2.emplace_back(p, q);
      }
    }
    Mol m1(atoms, b1);
    Mol m2(atoms, b2);
    bind(m1, m2);
    // Docking nodes: every atom pair, a-major, or shuffled in some rounds.
    std::vector<std::pair<int, int>> pairs;
    for (int a = 0; a < atoms; a++)
      for (int b = 0; b < atoms; b++) pairs.emplace_back(a, b);
    if (round % 4 == 3) std::shuffle(pairs.begin(), pairs.end(), rng);
    std::vector<int> node_of(atoms * atoms);
    for (int k = 0; k < static_cast<int>(pairs.size()); k++) {
      node(k, pairs[k].first, pairs[k].second, 1.0);
      node_of[pairs[k].first * atoms + pairs[k].second] = k;
    }
    // Cliques of one size: random matchings of a few atoms, most of them
    // varying a common one; some repeated.
    const int size = round % 7 == 6 ? 1 : std::min(atoms, chain ? 70 : 2 + rand(9));
    std::vector<int> perm(atoms);
    for (int a = 0; a < atoms; a++) perm[a] = a;
    const int cliques = 16 + rand(40);
    t->mcsnum = 0;
    std::vector<std::vector<int>> all;
    for (int i = 0; i < cliques; i++) {
      if (i % 5 == 0) std::shuffle(perm.begin(), perm.end(), rng);
      std::vector<int> first(atoms);
      for (int a = 0; a < atoms; a++) first[a] = a;
      std::shuffle(first.begin(), first.end(), rng);
      std::vector<int> nodes;
      for (int k = 0; k < size; k++) {
        const int a = chain ? k + (i % 3) : first[k];
        nodes.push_back(node_of[a * atoms + (chain ? a : perm[a])]);
      }
      if (i % 7 == 3) nodes = all.back();
      std::sort(nodes.begin(), nodes.end());
      clique(i, nodes);
      all.push_back(nodes);
    }
    make_SCCS_list();

    // The definition, clique by clique.
    std::vector<std::vector<int>> want_pieces;
    std::vector<std::vector<int>> want_rows;
    for (const std::vector<int> &c : all) {
      const int n = static_cast<int>(c.size());
      std::vector<int> part(n);
      for (int j = 0; j < n; j++) part[j] = j;
      for (bool changed = true; changed;) {
        changed = false;
        for (int j = 0; j < n; j++) {
          for (int k = j + 1; k < n; k++) {
            const DNODE &u = t->nodelist[c[j]];
            const DNODE &w = t->nodelist[c[k]];
            if (m1.bonds[u.e1 * atoms + w.e1] + m2.bonds[u.e2 * atoms + w.e2] != 2) continue;
            if (part[j] == part[k]) continue;
            const int lo = std::min(part[j], part[k]), hi = std::max(part[j], part[k]);
            for (int &x : part)
              if (x == hi) x = lo;
            changed = true;
          }
        }
      }
      std::vector<int> row;
      for (int j = 0; j < n; j++) {
        if (part[j] != j) continue;
        std::vector<int> piece;
        for (int k = j; k < n; k++)
          if (part[k] == j) piece.push_back(c[k]);
        auto at = std::find(want_pieces.begin(), want_pieces.end(), piece);
        row.push_back(static_cast<int>(at - want_pieces.begin()));
        if (at == want_pieces.end()) want_pieces.push_back(piece);
      }
      want_rows.push_back(row);
    }
    ASSERT_EQ(t->sccsnum, static_cast<int>(want_pieces.size())) << round;
    for (int s = 0; s < t->sccsnum; s++) ASSERT_EQ(piece(s), want_pieces[s]) << round << ": " << s;
    for (int i = 0; i < cliques; i++) {
      std::vector<int> want(t->sccsnum, 0);
      for (const int s : want_rows[i]) want[s] = 1;
      ASSERT_EQ(row(i, t->sccsnum), want) << round << ": " << i;
    }
    score_SCCS_list();
    sort_SCCS_list(0, t->sccsnum - 1);
    for (int i = 0; i < cliques; i++) {
      std::vector<int> want(t->sccsnum, 0);
      for (const int s : want_rows[i])
        want[std::find_if(t->sccslist, t->sccslist + t->sccsnum,
                          [&](const SCCS &p) {
                            return std::vector<int>(p.vlist, p.vlist + p.vnum) == want_pieces[s];
                          }) -
             t->sccslist] = 1;
      ASSERT_EQ(row(i, t->sccsnum), want) << round << ", sorted: " << i;
    }
  }
  if (tracked) cpdgraph_zeroed_table(nullptr);
}

TEST_F(CpdGraph, PiecesOfManyCliquesFollowTheDefinition) {
  pieces_follow_definition(false);
}

TEST_F(CpdGraph, ZeroedTableClearsOnlyTheCellsItSet) {
  pieces_follow_definition(true);
}

TEST_F(CpdGraph, EmptiedCliqueIsSkippedAndItsRowCleared) {
  Mol m1(3, {});
  Mol m2(3, {});
  bind(m1, m2);
  for (int k = 0; k < 3; k++) node(k, k, k, 1.0);
  clique(0, {0, 1});
  clique(1, {2});
  t->mcslist[0].vnum = 0;
  set_row(0, {0, 0, 1});  // stale, from a layout of full-width rows
  full_pass();
  ASSERT_EQ(t->sccsnum, 1);
  ASSERT_EQ(cpdgraph_table_stride(), 1);  // one piece: rows of one cell
  EXPECT_EQ(piece(0), std::vector<int>{2});
  EXPECT_EQ(row(1, 1), std::vector<int>{1});
  EXPECT_EQ(row(0, 1), std::vector<int>{0});
}

TEST_F(CpdGraph, NoCliqueWithNodesGivesNoPieces) {
  Mol m1(2, {});
  Mol m2(2, {});
  bind(m1, m2);
  t->sccsnum = 5;
  full_pass();
  EXPECT_EQ(t->sccsnum, 0);
}

TEST_F(CpdGraph, SortMovesPiecesAndTheirColumns) {
  // Scores 2, 3, 1: the midpoint pivot 1.5 keeps 2 and 3 in front, then the
  // pair is exchanged. Columns follow: row 0 flagged A (now column 1), row 1
  // flagged B and C (now columns 0 and 2).
  Mol m1(3, {});
  Mol m2(3, {});
  bind(m1, m2);
  t->mcsnum = 2;
  t->sccsnum = 3;
  set_piece(0, {5, 6}, 2.0);     // A
  set_piece(1, {1, 2, 3}, 3.0);  // B
  set_piece(2, {9}, 1.0);        // C
  set_row(0, {1, 0, 0});
  set_row(1, {0, 1, 1});
  sort_SCCS_list(0, 2);
  EXPECT_DOUBLE_EQ(t->sccslist[0].score, 3.0);
  EXPECT_DOUBLE_EQ(t->sccslist[1].score, 2.0);
  EXPECT_DOUBLE_EQ(t->sccslist[2].score, 1.0);
  EXPECT_EQ(piece(0), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(piece(1), (std::vector<int>{5, 6}));
  EXPECT_EQ(piece(2), std::vector<int>{9});
  EXPECT_EQ(row(0, 3), (std::vector<int>{0, 1, 0}));
  EXPECT_EQ(row(1, 3), (std::vector<int>{1, 0, 1}));
}

TEST_F(CpdGraph, SortLeavesNonIncreasingRangeAlone) {
  // 3, 2, 2 is already in order: equal pieces keep their places and columns.
  Mol m1(3, {});
  Mol m2(3, {});
  bind(m1, m2);
  t->mcsnum = 1;
  t->sccsnum = 3;
  set_piece(0, {0}, 3.0);
  set_piece(1, {1}, 2.0);
  set_piece(2, {2}, 2.0);
  set_row(0, {0, 1, 0});
  sort_SCCS_list(0, 2);
  EXPECT_EQ(piece(1), std::vector<int>{1});
  EXPECT_EQ(piece(2), std::vector<int>{2});
  EXPECT_EQ(row(0, 3), (std::vector<int>{0, 1, 0}));
}

TEST_F(CpdGraph, SortOrdersAscendingScoresDescending) {
  // 1..6 ascending; each piece holds as many nodes as its score and is
  // flagged in the row of the clique numbered like it.
  Mol m1(3, {});
  Mol m2(3, {});
  bind(m1, m2);
  const int n = 6;
  t->mcsnum = n;
  t->sccsnum = n;
  for (int s = 0; s < n; s++) {
    set_piece(s, std::vector<int>(s + 1, s), s + 1.0);
    t->table[s * cpdgraph_table_stride() + s] = 1;
  }
  sort_SCCS_list(0, n - 1);
  for (int s = 0; s < n; s++) {
    const int orig = n - 1 - s;
    EXPECT_DOUBLE_EQ(t->sccslist[s].score, orig + 1.0);
    EXPECT_EQ(piece(s), std::vector<int>(orig + 1, orig));
    EXPECT_EQ(t->table[orig * cpdgraph_table_stride() + s], 1);
  }
}

TEST_F(CpdGraph, BestCliqueTieBreakPrefersHigherRankedPiece) {
  Mol m1(3, {});
  Mol m2(3, {});
  bind(m1, m2);
  clique(0, {0});
  clique(1, {1});
  t->mcslist[0].score = 4.0;
  t->mcslist[1].score = 4.0;
  t->sccsnum = 2;
  // The first flags only piece 1, the second piece 0: the second wins.
  set_row(0, {0, 1});
  set_row(1, {1, 0});
  int ri = -9;
  get_maxMCSinfo(&ri, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(ri, 1);
  // Identical rows: the earlier clique stays.
  set_row(1, {0, 1});
  MCS *rm = nullptr;
  SCCS *rs = nullptr;
  char *rt = nullptr;
  DNODE *rn = nullptr;
  get_maxMCSinfo(&ri, &rm, &rs, &rt, &rn);
  EXPECT_EQ(ri, 0);
  EXPECT_EQ(rm, &t->mcslist[0]);
  EXPECT_EQ(rs, t->sccslist);
  EXPECT_EQ(rt, t->table);
  EXPECT_EQ(rn, t->nodelist);
  // A strictly higher score needs no tie-break.
  t->mcslist[1].score = 4.5;
  get_maxMCSinfo(&ri, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(ri, 1);
}

TEST_F(CpdGraph, OnlyRemainingCliqueIsBestWhateverItsScore) {
  Mol m1(3, {});
  Mol m2(3, {});
  bind(m1, m2);
  clique(0, {0});
  clique(1, {1});
  clique(2, {2});
  t->mcslist[0].score = 10.0;
  t->mcslist[1].score = 1.0;
  t->mcslist[2].score = 5.0;
  t->mcslist[0].vnum = 0;
  t->mcslist[2].vnum = 0;
  int ri = -9;
  get_maxMCSinfo(&ri, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(ri, 1);
}

TEST_F(CpdGraph, NoCliqueWithNodesHasNoBest) {
  Mol m1(3, {});
  Mol m2(3, {});
  bind(m1, m2);
  int ri = 7;
  MCS *rm = &t->mcslist[3];
  get_maxMCSinfo(&ri, &rm, nullptr, nullptr, nullptr);
  EXPECT_EQ(ri, -1);
  EXPECT_EQ(rm, nullptr);
  clique(0, {1});
  t->mcslist[0].vnum = 0;
  get_maxMCSinfo(&ri, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(ri, -1);
}

TEST_F(CpdGraph, PieceListFullKeepsEveryListedRowComplete) {
  // 40 atoms bonded in pairs (0-1, 2-3, ...) in both compounds; node k pairs
  // atom k % 40 with itself, so nodes 40r+2p and 40r'+2p+1 form a piece.
  // Each clique is 20 such pairs, all pieces new for cliques 0..499: they
  // fill the 10000 places exactly. Clique 500 brings 20 more and cannot be
  // listed; clique 501 repeats clique 0 and needs no new place.
  std::vector<std::pair<int, int>> pairs;
  for (int p = 0; p < 20; p++) pairs.emplace_back(2 * p, 2 * p + 1);
  Mol m1(40, pairs);
  Mol m2(40, pairs);
  bind(m1, m2);
  for (int k = 0; k < CPD_MAX; k++) node(k, k % 40, k % 40, 1.0);
  auto nodes_of = [](int m) {
    std::vector<int> v;
    for (int p = 0; p < 20; p++) {
      v.push_back(40 * (m % 250) + 2 * p);
      v.push_back(40 * ((m / 250 + m) % 250) + 2 * p + 1);
    }
    std::sort(v.begin(), v.end());
    return v;
  };
  for (int m = 0; m <= 500; m++) clique(m, nodes_of(m));
  clique(501, nodes_of(0));
  full_pass();
  EXPECT_EQ(t->sccsnum, CPD_MAX);
  ASSERT_EQ(cpdgraph_table_stride(), CPD_MAX);  // rows as long as the piece list
  EXPECT_EQ(std::count(&t->table[499 * CPD_MAX], &t->table[500 * CPD_MAX], 1), 20);
  EXPECT_EQ(std::count(&t->table[500 * CPD_MAX], &t->table[501 * CPD_MAX], 0), CPD_MAX);
  EXPECT_TRUE(std::equal(&t->table[0], &t->table[CPD_MAX], &t->table[501 * CPD_MAX]));
  // The unlisted clique is never the best one, whatever its score.
  t->mcslist[500].score = 1000.0;
  t->mcslist[7].score = 999.0;
  int ri = -9;
  get_maxMCSinfo(&ri, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(ri, 7);
}

TEST_F(CpdGraph, BindingBelongsToTheThread) {
  Mol m1(2, {});
  Mol m2(2, {});
  bind(m1, m2);
  clique(0, {0});
  int here = -9;
  get_maxMCSinfo(&here, nullptr, nullptr, nullptr, nullptr);
  int there = -9;
  std::thread([&there] { get_maxMCSinfo(&there, nullptr, nullptr, nullptr, nullptr); }).join();
  EXPECT_EQ(here, 0);
  EXPECT_EQ(there, -1);  // nothing bound on that thread
}

}  // namespace
