// Similarity computation driver and result report.
#pragma once

#include <cstdio>

#include "cpdcommon.h"

// Outcome of the last computation.
enum SimilarityStatus {
  kStatusComputed = 0,
  kStatusNoAtoms = 1,
  kStatusEmptyGraph = 2,
  kStatusGraphTooLarge = 3,
  kStatusCliquesCut = 4,
  kStatusMissingRecord = 9,
};

// The whole state of one engine instance. Large tables are sized for the
// engine's capacity; an instance lives in lazily zeroed pages, so a run pays
// only for what it touches.
struct Exe1State {
  int atom_mode;
  int exec_mode;
  int output_mode;
  int maxrepeat;
  int limit;
  CPDMOL *cpdmol1;
  CPDMOL *cpdmol2;
  int nodenum;
  DNODE nodelist[CPD_MAX];
  char matrix[CPD_MAX * CPD_MAX];
  int mcsnum;
  MCS mcslist[CPD_MAX];
  int mcs_max;
  int mcsnum_overflow;
  int max_mcs_index;
  int sccsnum;
  SCCS sccslist[CPD_MAX];
  char mcs_sccs_table[CPD_MAX * CPD_MAX];
  int status;
  // The step budget (or the time limit) ended the clique search: mcs_max
  // may be below the largest clique. False for a search that finished, or
  // none.
  bool search_cut;
  // Seconds the clique search of a pair may take; 0: no limit, and then
  // nothing depends on the machine's speed.
  double time_limit;
};

// The engine instance of the calling thread, created on first use. Every
// function below works on it, so each thread computes independently.
Exe1State &exe1_state();

// A clique finder working on the fixed-stride docking matrix. Tests and
// benchmarks set one to run whole computations through a reference search;
// null (the default) runs the engine's own finder on the graph's bit rows.
using CliqueFinder = void (*)(int nodenum, const char *matrix, int repeat, int *ret_num,
                              MCS *ret_mcs, int *ret_max);
void exe1_set_reference_finder(CliqueFinder finder);
// The seconds that a listing search without a budget gives its short
// listing of the largest cliques, and then its search with their size alone
// before the listing starts again beside it; negative: the defaults (0.003
// and 0). Tests set them to take each way; the result is the same.
void exe1_set_short_tries(double listing, double search);

void init_exe1(int atom, int exem, int outm, int maxr, int lmt);
double compute_similarity(CPDMOL *mol_1, CPDMOL *mol_2);

// compute_similarity() in two steps, so that a caller can look at the docking
// graph before the search: dock_pair() builds the graph of a pair into the
// calling thread's engine and tells whether it will be searched (false: the
// computation ends with a status other than 0 or 4); compute_docked() then
// does the rest and gives exactly what compute_similarity() gives.
//
// Without `alignment` (and without the extension, which needs the best
// clique) the cliques are counted but not listed (a reference finder still
// lists them) and no pieces are built: status, nodenum, mcs_max, mcsnum and
// mcsnum_overflow are as with it, the clique list holds only emptied
// entries, and there is no piece and no best clique. That is all a score
// needs.
// A wall-clock limit on each pair's clique search of the calling thread's
// engine, in seconds (0: none, the default). A search stopped by it gives
// the best size found, as one its budget stopped (search_cut).
void exe1_set_time_limit(double seconds);

bool dock_pair(CPDMOL *mol_1, CPDMOL *mol_2);
double compute_docked(bool alignment = true);
// An upper bound on the largest clique of the graph dock_pair() built (the
// colours of a greedy colouring), or enough + 1 once it is known to exceed
// `enough`. CPD_MAX when there is no graph to search.
int docked_clique_bound(int enough = CPD_MAX);
// False when the graph dock_pair() built has no clique of more than `k`
// nodes; true when it has one, or when that was not settled within `budget`
// branches of a search pruned by colourings (or there is no graph to search).
bool docked_clique_above(int k, long long budget);
double assume_similarity(CPDMOL *mol_1, CPDMOL *mol_2);
void output_similarity(FILE *fp);

// Steps of compute_similarity(), exposed for the tests: the extension of the
// best clique, and one pass of growing a node list along bonds (vlist needs
// room for CPD_MAX nodes; returns the number of nodes appended).
void compute_trick();
int extend_MCS(int *vnum, int *vlist);
