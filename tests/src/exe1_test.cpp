// Similarity computation driver: status codes, limits, the extension of the
// best clique, and whole computations on example compounds whose expected
// results are worked out by hand from atom types and bonds.
#include "exe1.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cpdgraph.h"
#include "cpdio.h"
#include "test_records.h"

namespace {

// ---------------------------------------------------------------------------
// Records

using test_records::record;

// A fresh copy of an entry of examples/compounds.qtr.
CPDMOL *example(const char *id) {
  FILE *fp = std::fopen(TAVIRON_EXAMPLES_DIR "/compounds.qtr", "r");
  if (fp == nullptr) return nullptr;
  CompList *list = read_CPDMOL_list_QTR(fp);
  std::fclose(fp);
  static auto &lists = *new std::vector<CompList *>;  // records live for the whole run
  lists.push_back(list);
  for (int k = 1; k <= complist_numberof(list); k++) {
    auto *mol = static_cast<CPDMOL *>(complist_getdata(list, k));
    if (mol != nullptr && std::strcmp(mol->name, id) == 0) return mol;
  }
  return nullptr;
}

std::vector<int> nodes_of(const MCS &c) {
  return std::vector<int>(c.vlist, c.vlist + c.vnum);
}

// ---------------------------------------------------------------------------
// Status codes and limits

TEST(ComputeSimilarity, MissingRecordIsStatus9) {
  init_exe1(1, 1, 1, -1, CPD_MAX);
  CPDMOL *mol = record({"C.x"});
  Exe1State &st = exe1_state();
  st.nodenum = 5;
  st.mcs_max = 5;
  EXPECT_EQ(compute_similarity(nullptr, mol), 0.0);
  EXPECT_EQ(st.status, kStatusMissingRecord);
  EXPECT_EQ(st.nodenum, 0);
  EXPECT_EQ(st.mcs_max, 0);
  EXPECT_EQ(st.cpdmol2, mol);
  EXPECT_EQ(mol->cnode, nullptr);  // no docking
  EXPECT_EQ(compute_similarity(mol, nullptr), 0.0);
  EXPECT_EQ(st.status, kStatusMissingRecord);
}

TEST(ComputeSimilarity, CompoundWithoutAtomsIsStatus1BeforeDocking) {
  init_exe1(1, 1, 1, -1, CPD_MAX);
  CPDMOL *empty = example("C00019");
  CPDMOL *ala = example("C00001");
  ASSERT_NE(empty, nullptr);
  ASSERT_EQ(empty->nodenum, 0);
  EXPECT_EQ(compute_similarity(ala, empty), 0.0);
  EXPECT_EQ(exe1_state().status, kStatusNoAtoms);
  EXPECT_EQ(exe1_state().nodenum, 0);
  EXPECT_EQ(ala->cnode, nullptr);
}

TEST(ComputeSimilarity, AllHydrogenCompoundIsStatus1AfterDocking) {
  init_exe1(1, 1, 1, -1, CPD_MAX);
  CPDMOL *h2 = record({"H", "H"}, {{1, 2}});
  CPDMOL *ala = example("C00001");
  EXPECT_EQ(compute_similarity(h2, ala), 0.0);
  EXPECT_EQ(exe1_state().status, kStatusNoAtoms);
  EXPECT_NE(h2->cnode, nullptr);  // the docking step ran and counted the atoms
  EXPECT_EQ(h2->nodenum_sub, 0);
}

TEST(ComputeSimilarity, NoMatchingPairIsStatus2) {
  // Sodium chloride (Na.sp3.0, Cl.sp3.0) against benzene (C.ar.2 only).
  init_exe1(1, 1, 1, -1, CPD_MAX);
  EXPECT_EQ(compute_similarity(example("C00018"), example("C00007")), 0.0);
  EXPECT_EQ(exe1_state().status, kStatusEmptyGraph);
  EXPECT_EQ(exe1_state().nodenum, 0);
  EXPECT_EQ(exe1_state().mcs_max, 0);
}

TEST(ComputeSimilarity, GraphAtTheLimitIsSearchedAndOneMoreIsNot) {
  // Benzene against itself: 6 x 6 = 36 nodes (all C.ar.2). The best
  // alignments map the ring onto itself: 6 pairs, coefficient 6 / (6+6-6).
  CPDMOL *b1 = example("C00007");
  CPDMOL *b2 = example("C00007");
  init_exe1(1, 1, 1, -1, 35);
  EXPECT_EQ(compute_similarity(b1, b2), 0.0);
  EXPECT_EQ(exe1_state().status, kStatusGraphTooLarge);
  EXPECT_EQ(exe1_state().nodenum, 36);
  EXPECT_EQ(exe1_state().mcs_max, 0);

  init_exe1(1, 1, 1, 0, 36);
  EXPECT_DOUBLE_EQ(compute_similarity(b1, b2), 1.0);
  EXPECT_EQ(exe1_state().status, kStatusComputed);
  EXPECT_EQ(exe1_state().mcs_max, 6);
  EXPECT_EQ(exe1_state().mcsnum, 12);  // the ring's 6 rotations x 2 directions
}

TEST(ComputeSimilarity, MoreThan10000NodesIsStatus3) {
  // 73 x 137 atoms of one type give 10001 pairs: over the capacity even with
  // the limit at the capacity.
  init_exe1(1, 1, 1, -1, CPD_MAX);
  CPDMOL *m1 = record(std::vector<std::string>(73, "C.x"));
  CPDMOL *m2 = record(std::vector<std::string>(137, "C.x"));
  EXPECT_EQ(compute_similarity(m1, m2), 0.0);
  EXPECT_EQ(exe1_state().status, kStatusGraphTooLarge);
  EXPECT_EQ(exe1_state().nodenum, 10001);
  EXPECT_EQ(exe1_state().mcs_max, 0);
}

// Status 4 (more than 10000 cliques reported) cannot be produced through the
// clique finder, which never reports more than 10000; the driver's cut is a
// guard only. A finder capped at exactly 10000 leaves status 0.

// ---------------------------------------------------------------------------
// Whole computations on example pairs. Nodes are pairs of atoms with equal
// environment types (element symbols next to an R atom); two nodes are
// compatible when both atom pairs are bonded or both are not.

TEST(ComputeSimilarity, AlanineSerine) {
  // Alanine: 1 C.sp3.1, 2 C.sp3.3, 3 N.sp3.1, 4 C.sp2.3.o, 5 O.sp2.1,
  // 6 O.sp3.1; bonds 1-2 2-3 2-4 4-5 4-6. Serine: 1 N.sp3.1, 2 C.sp3.3,
  // 3 C.sp3.2, 4 O.sp3.1, 5 C.sp2.3.o, 6 O.sp2.1, 7 O.sp3.1; bonds 1-2 2-3
  // 3-4 2-5 5-6 5-7. Nodes (atom numbers): 2/2, 3/1, 4/5, 5/6, 6/4, 6/7.
  // 6/4 clashes with 4/5 (4-6 bonded in alanine, 5-4 not in serine), so the
  // one largest clique is {2/2, 3/1, 4/5, 5/6, 6/7} = nodes {0,1,2,3,5}: the
  // carboxyl and amino groups on the alpha carbon, one connected piece.
  // Score 5, coefficient 5 / (6 + 7 - 5) = 0.625.
  init_exe1(1, 1, 1, -1, CPD_MAX);
  Exe1State &st = exe1_state();
  EXPECT_DOUBLE_EQ(compute_similarity(example("C00001"), example("C00003")), 0.625);
  EXPECT_EQ(st.status, kStatusComputed);
  EXPECT_EQ(st.nodenum, 6);
  EXPECT_EQ(st.mcs_max, 5);
  ASSERT_EQ(st.mcsnum, 1);
  EXPECT_EQ(nodes_of(st.mcslist[0]), (std::vector<int>{0, 1, 2, 3, 5}));
  // Clique score: 5 node scores of 1.0 plus 6 + 7 - 10 unmatched atoms.
  EXPECT_DOUBLE_EQ(st.mcslist[0].score, 8.0);
  ASSERT_EQ(st.sccsnum, 1);
  EXPECT_EQ(st.sccslist[0].vnum, 5);
}

// A score without the alignment: the same figures as the whole computation,
// and the previous pair's cliques and pieces are gone, not passed off as
// this pair's.
TEST(ComputeSimilarity, ScoreWithoutAlignment) {
  init_exe1(1, 1, 1, -1, CPD_MAX);
  Exe1State &st = exe1_state();
  const std::pair<const char *, const char *> pairs[] = {
      {"C00001", "C00003"}, {"C00008", "C00009"}, {"C00007", "C00009"}, {"C00012", "C00015"}};
  for (const auto &[a, b] : pairs) {
    const double full = compute_similarity(example(a), example(b));
    const int status = st.status, max = st.mcs_max, num = st.mcsnum;
    ASSERT_GT(st.sccsnum, 0);
    ASSERT_TRUE(dock_pair(example(a), example(b)));
    EXPECT_EQ(compute_docked(false), full) << a << " " << b;
    EXPECT_EQ(st.status, status);
    EXPECT_EQ(st.mcs_max, max);
    EXPECT_EQ(st.mcsnum, num);
    EXPECT_EQ(st.sccsnum, 0);
    for (int i = 0; i < CPD_MAX; i++) ASSERT_EQ(st.mcslist[i].vnum, 0) << i;
    int best = 0;
    get_maxMCSinfo(&best, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(best, -1);
  }
}

TEST(ComputeSimilarity, ToluenePhenol) {
  // Same ring (C.ar.3 at atom 2, C.ar.2 at 3..7); the substituents differ
  // (C.sp3.1 vs O.sp3.1) and match nothing. Nodes: 2/2 and the 25 pairs of
  // C.ar.2 atoms. The ring maps onto itself with atom 2 fixed in two ways
  // (identity and mirror): two cliques of 6. Coefficient 6 / (7 + 7 - 6).
  init_exe1(1, 1, 1, -1, CPD_MAX);
  Exe1State &st = exe1_state();
  EXPECT_DOUBLE_EQ(compute_similarity(example("C00008"), example("C00009")), 0.75);
  EXPECT_EQ(st.nodenum, 26);
  EXPECT_EQ(st.mcs_max, 6);
  EXPECT_EQ(st.mcsnum, 2);
  int best = -1;
  get_maxMCSinfo(&best, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(best, 0);  // equal scores; each clique is its own piece, sorted in list order
}

TEST(ComputeSimilarity, BenzenePhenol) {
  // Benzene's six C.ar.2 pair with phenol's five C.ar.2 (atoms 3..7, a path
  // of five): 30 nodes. Any five benzene atoms form a path, so the path maps
  // onto each of the 6 five-atom arcs in 2 directions: 12 cliques of 5.
  // Coefficient 5 / (6 + 7 - 5).
  init_exe1(1, 1, 1, 0, CPD_MAX);
  Exe1State &st = exe1_state();
  EXPECT_DOUBLE_EQ(compute_similarity(example("C00007"), example("C00009")), 0.625);
  EXPECT_EQ(st.nodenum, 30);
  EXPECT_EQ(st.mcs_max, 5);
  EXPECT_EQ(st.mcsnum, 12);
}

TEST(ComputeSimilarity, AceticAcidAgainstCarboxylWithR) {
  // Acetic acid: 1 C.sp3.1, 2 C.sp2.3.o, 3 O.sp2.1, 4 O.sp3.1. R-COOH: 1 R,
  // 2 C.sp2.3.o (bonded to R, so matched by element), 3 O.sp2.1, 4 O.sp3.1;
  // same bonds 1-2 2-3 2-4. Nodes: 1/2 (C vs C, types differ: 0.5),
  // 2/2, 3/3, 4/4 (1.0). 1/2 and 2/2 share atom 2 of R-COOH; 1/2 and 3/3
  // clash (1-3 not bonded, 2-3 bonded). Largest clique {2/2, 3/3, 4/4}:
  // score 3, coefficient 3 / (4 + 4 - 3) = 0.6 (R is not hydrogen-like).
  init_exe1(1, 1, 1, -1, CPD_MAX);
  Exe1State &st = exe1_state();
  EXPECT_DOUBLE_EQ(compute_similarity(example("C00012"), example("C00015")), 0.6);
  EXPECT_EQ(st.nodenum, 4);
  EXPECT_DOUBLE_EQ(st.nodelist[0].score, 0.5);
  EXPECT_EQ(st.mcs_max, 3);
  ASSERT_EQ(st.mcsnum, 1);
  EXPECT_EQ(nodes_of(st.mcslist[0]), (std::vector<int>{1, 2, 3}));
  // 3.0 node scores + (4 + 4 - 6).
  EXPECT_DOUBLE_EQ(st.mcslist[0].score, 5.0);
}

TEST(ComputeSimilarity, ExtensionKeepsTheReturnedCoefficient) {
  // Alanine/serine with the extension: the best clique's unmatched
  // neighbours are alanine's methyl (C.sp3.1) and serine's CH2 (C.sp3.2),
  // which form no node. Nothing grows; the one clique stays as found.
  init_exe1(1, 8, 1, -1, CPD_MAX);
  Exe1State &st = exe1_state();
  EXPECT_DOUBLE_EQ(compute_similarity(example("C00001"), example("C00003")), 0.625);
  EXPECT_EQ(st.mcs_max, 5);
  EXPECT_EQ(st.max_mcs_index, 0);
  EXPECT_EQ(nodes_of(st.mcslist[0]), (std::vector<int>{0, 1, 2, 3, 5}));
}

TEST(ComputeSimilarity, ExtensionDropsALoneNodeOfAlanineGlycine) {
  // Alanine against glycine (1 N.sp3.1, 2 C.sp3.2, 3 C.sp2.3.o, 4 O.sp2.1,
  // 5 O.sp3.1; bonds 1-2 2-3 3-4 3-5). The alpha carbons differ (C.sp3.3 vs
  // C.sp3.2), so the nodes are N 3/1, C 4/3, O 5/4, O 6/5, all compatible:
  // one clique of 4, coefficient 4 / (6 + 5 - 4). Its pieces are the
  // carboxyl {1,2,3} and the lone nitrogen {0}, which is bonded to the
  // unmatched alpha carbon only. No pair of unmatched neighbours forms a
  // node, so nothing grows; the lone nitrogen is left out: mcs_max 3.
  init_exe1(1, 8, 1, -1, CPD_MAX);
  Exe1State &st = exe1_state();
  EXPECT_DOUBLE_EQ(compute_similarity(example("C00001"), example("C00002")), 4.0 / 7.0);
  EXPECT_EQ(st.mcs_max, 3);
  ASSERT_EQ(st.max_mcs_index, 0);
  EXPECT_EQ(nodes_of(st.mcslist[0]), (std::vector<int>{1, 2, 3}));
  ASSERT_EQ(st.sccsnum, 1);
  EXPECT_EQ(st.sccslist[0].vnum, 3);
}

TEST(ComputeSimilarity, ExtensionGrowsBenzeneOnGlucoseInAtomMode) {
  // By element, benzene's six ring carbons pair with glucose's six carbons
  // (36 nodes, all 0.5: the types differ). Glucose's carbons form the path
  // 2-3-11-9-7-5 (the ring closes through oxygen 4). The largest common
  // part is a path of five carbons: 2 sub-paths x 6 arcs x 2 directions =
  // 24 cliques. Coefficient 5 / (6 + 12 - 5). The remaining glucose carbon
  // hangs on one end of the matched path, and the remaining benzene carbon
  // is bonded to both ends of its arc, so the extension pairs them: 6.
  init_exe1(2, 8, 1, -1, CPD_MAX);
  Exe1State &st = exe1_state();
  EXPECT_DOUBLE_EQ(compute_similarity(example("C00007"), example("C00006")), 5.0 / 13.0);
  EXPECT_EQ(st.nodenum, 36);
  EXPECT_EQ(st.mcsnum, 24);
  EXPECT_EQ(st.mcs_max, 6);
  EXPECT_EQ(st.mcslist[st.max_mcs_index].vnum, 6);
  ASSERT_EQ(st.sccsnum, 1);
  EXPECT_EQ(st.sccslist[0].vnum, 6);
}

TEST(AssumeSimilarity, SmallerOverLargerAtomCount) {
  CPDMOL *ala = example("C00001");  // 6 atoms
  CPDMOL *eth = example("C00013");  // 9 atoms, hydrogens included
  EXPECT_DOUBLE_EQ(assume_similarity(ala, eth), 6.0 / 9.0);
  EXPECT_EQ(assume_similarity(nullptr, eth), 0.0);
  EXPECT_EQ(assume_similarity(ala, example("C00019")), 0.0);
}

TEST(Exe1State, OneInstancePerThread) {
  init_exe1(2, 8, 4, 77, 123);
  Exe1State &here = exe1_state();
  EXPECT_EQ(here.atom_mode, 2);
  EXPECT_EQ(here.exec_mode, 8);
  EXPECT_EQ(here.output_mode, 4);
  EXPECT_EQ(here.maxrepeat, 77);
  EXPECT_EQ(here.limit, 123);
  Exe1State *there = nullptr;
  int limit_there = -1;
  std::thread([&] {
    there = &exe1_state();
    limit_there = there->limit;
  }).join();
  EXPECT_NE(there, &here);
  EXPECT_EQ(limit_there, 0);  // a new instance starts zeroed
}

// ---------------------------------------------------------------------------
// Extension on hand-built states: compounds given by bond matrices only,
// docking nodes and cliques set directly.

using test_records::Mol;

struct Node {
  int e1, e2;
  double score;
};

class Extension : public ::testing::Test {
 protected:
  Exe1State &st = exe1_state();

  // Binds the engine to the two compounds, the nodes and the cliques, and
  // scores and splits the cliques as compute_similarity() does.
  void setup(Mol &m1, Mol &m2, const std::vector<Node> &nodes,
             const std::vector<std::vector<int>> &cliques, int mcs_max) {
    for (MCS &c : st.mcslist) {
      std::free(c.vlist);
      c = MCS{};
    }
    st.cpdmol1 = &m1.rec;
    st.cpdmol2 = &m2.rec;
    st.nodenum = static_cast<int>(nodes.size());
    for (std::size_t k = 0; k < nodes.size(); k++) {
      st.nodelist[k] =
          DNODE{nodes[k].e1, nodes[k].e2, nodes[k].score, static_cast<char>(nodes[k].score == 1.0)};
    }
    st.mcsnum = static_cast<int>(cliques.size());
    for (std::size_t i = 0; i < cliques.size(); i++) {
      MCS &c = st.mcslist[i];
      c.vnum = static_cast<int>(cliques[i].size());
      c.vlist = static_cast<int *>(std::malloc(sizeof(int) * cliques[i].size()));
      std::copy(cliques[i].begin(), cliques[i].end(), c.vlist);
    }
    st.mcs_max = mcs_max;
    init_cpdgraph(&m1.rec, &m2.rec, st.nodelist, &st.mcsnum, st.mcslist, &st.sccsnum, st.sccslist,
                  st.mcs_sccs_table);
    score_MCS_list();
    make_SCCS_list();
    score_SCCS_list();
    sort_SCCS_list(0, st.sccsnum - 1);
  }
  std::vector<int> best() const { return nodes_of(st.mcslist[st.max_mcs_index]); }
  std::vector<int> piece(int s) const {
    return std::vector<int>(st.sccslist[s].vlist, st.sccslist[s].vlist + st.sccslist[s].vnum);
  }
};

TEST_F(Extension, OnlyFirstMatchingPairIsTakenAndLaterRowsAreBlocked) {
  // First compound: x=0 bonded to a1=1; x2=2 bonded to a1 and a4=3.
  // Second: y=0 bonded to a2=1 and a3=2; y2=3 bonded to a3.
  // List nodes: 0 = (x,y), 1 = (x2,y2). Row of node 0: ext1 {a1}, ext2
  // {a2,a3}; (a1,a2) is node 2 and is taken; (a1,a3), node 3, is not.
  // Row of node 1: ext1 {a1,a4} with a1 now struck, ext2 {a3}: (a4,a3),
  // node 4, is taken, a3 having stayed free.
  Mol m1(4, {{0, 1}, {2, 1}, {2, 3}});
  Mol m2(4, {{0, 1}, {0, 2}, {3, 2}});
  setup(m1, m2, {{0, 0, 1}, {2, 3, 1}, {1, 1, 1}, {1, 2, 1}, {3, 2, 1}}, {}, 0);
  std::vector<int> list(CPD_MAX, -1);
  list[0] = 0;
  list[1] = 1;
  int vnum = 2;
  EXPECT_EQ(extend_MCS(&vnum, list.data()), 2);
  EXPECT_EQ(vnum, 4);
  EXPECT_EQ(std::vector<int>(list.begin(), list.begin() + 5), (std::vector<int>{0, 1, 2, 4, -1}));
  // The new nodes' neighbours are all matched now: the next pass adds nothing.
  EXPECT_EQ(extend_MCS(&vnum, list.data()), 0);
  EXPECT_EQ(vnum, 4);
}

TEST_F(Extension, AtomWithMoreThanEightUnmatchedNeighboursKeepsThemAll) {
  // Centre atom 0 bonded to atoms 1..10 in both compounds; only the tenth
  // neighbours form a docking node. The rows hold all ten neighbours.
  std::vector<std::pair<int, int>> star;
  for (int a = 1; a <= 10; a++) star.emplace_back(0, a);
  Mol m1(11, star);
  Mol m2(11, star);
  setup(m1, m2, {{0, 0, 1}, {10, 10, 1}}, {}, 0);
  std::vector<int> list(CPD_MAX, -1);
  list[0] = 0;
  int vnum = 1;
  EXPECT_EQ(extend_MCS(&vnum, list.data()), 1);
  EXPECT_EQ(list[1], 1);
}

TEST_F(Extension, GrowsBeyondTheFoundSize) {
  // Chains 0-1-2 in both compounds; nodes pair equal atoms, numbered from
  // the far end. The found clique is the single pair of atoms 0. The first
  // pass adds atoms 1, the repeated passes atoms 2: mcs_max 3, the stored
  // list ascending, one piece.
  Mol m1(3, {{0, 1}, {1, 2}});
  Mol m2(3, {{0, 1}, {1, 2}});
  setup(m1, m2, {{2, 2, 1}, {1, 1, 1}, {0, 0, 1}}, {{2}}, 1);
  compute_trick();
  EXPECT_EQ(st.mcs_max, 3);
  EXPECT_EQ(best(), (std::vector<int>{0, 1, 2}));
  ASSERT_EQ(st.sccsnum, 1);
  EXPECT_EQ(piece(0), (std::vector<int>{0, 1, 2}));
}

TEST_F(Extension, SingleNodePiecesAfterAMultiNodePieceAreDropped) {
  // Atoms 0-1 bonded in both compounds, 2 and 3 alone. Clique 0 = {0,1,2}
  // (pieces {0,1} 2.0 and {2} 1.0) beats clique 1 = {0,1,3} (node 3 scores
  // 0.5). Clique 1 is emptied and released. The second gathering keeps {0,1}
  // and stops at {2}: mcs_max 2, below the found size 3.
  Mol m1(4, {{0, 1}});
  Mol m2(4, {{0, 1}});
  setup(m1, m2, {{0, 0, 1}, {1, 1, 1}, {2, 2, 1}, {3, 3, 0.5}}, {{0, 1, 2}, {0, 1, 3}}, 3);
  compute_trick();
  EXPECT_EQ(st.max_mcs_index, 0);
  EXPECT_EQ(st.mcs_max, 2);
  EXPECT_EQ(best(), (std::vector<int>{0, 1}));
  EXPECT_EQ(st.mcslist[1].vnum, 0);
  EXPECT_EQ(st.mcslist[1].vlist, nullptr);
  ASSERT_EQ(st.sccsnum, 1);
  EXPECT_EQ(piece(0), (std::vector<int>{0, 1}));
}

TEST_F(Extension, AllSingleNodePiecesFallBackToEveryPiece) {
  // First compound: chain 0-1-2; second: atoms 0 and 1, unbonded. The clique
  // {(0,0), (2,1)} has two one-node pieces and no growth (atom 1 of the first
  // compound has no partner). The second gathering stops at once, so every
  // piece is taken instead: the clique survives whole.
  Mol m1(3, {{0, 1}, {1, 2}});
  Mol m2(2, {});
  setup(m1, m2, {{0, 0, 1}, {2, 1, 1}}, {{0, 1}}, 2);
  st.mcs_max = -1;  // set again only by the final growth
  compute_trick();
  EXPECT_EQ(st.mcs_max, 2);
  EXPECT_EQ(best(), (std::vector<int>{0, 1}));
  EXPECT_EQ(st.sccsnum, 2);
}

TEST_F(Extension, FirstPieceInScoreOrderBeingSingleFallsBack) {
  // Atom 0 alone, 1-2 bonded, in both compounds. Pieces {0} (1.0) and {1,2}
  // (0.5 + 0.5) tie and keep their order, so the single node comes first:
  // nothing is gathered, and the fallback keeps all three nodes.
  Mol m1(3, {{1, 2}});
  Mol m2(3, {{1, 2}});
  setup(m1, m2, {{0, 0, 1}, {1, 1, 0.5}, {2, 2, 0.5}}, {{0, 1, 2}}, 3);
  ASSERT_EQ(st.sccsnum, 2);
  ASSERT_EQ(piece(0), std::vector<int>{0});
  st.mcs_max = -1;  // set again only by the final growth
  compute_trick();
  EXPECT_EQ(st.mcs_max, 3);
  EXPECT_EQ(best(), (std::vector<int>{0, 1, 2}));
}

TEST_F(Extension, NoCliqueNoChange) {
  Mol m1(2, {});
  Mol m2(2, {});
  setup(m1, m2, {{0, 0, 1}}, {}, 0);
  compute_trick();
  EXPECT_EQ(st.mcs_max, 0);
  EXPECT_EQ(st.sccsnum, 0);
}

}  // namespace
