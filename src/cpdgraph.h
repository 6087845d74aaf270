// Clique scoring, connected clique pieces and the choice of the best clique.
//
// The functions work on tables owned by the caller and bound by
// init_cpdgraph(); the binding belongs to the calling thread. Cliques with
// vnum 0 are emptied entries and are skipped everywhere.
#pragma once

#include <memory>
#include <span>
#include <vector>

#include "cpdcommon.h"

void init_cpdgraph(CPDMOL *m1, CPDMOL *m2, DNODE *np, int *cn, MCS *cl, int *sn, SCCS *sl,
                   char *tb);
void score_MCS_list();
void make_SCCS_list();
void score_SCCS_list();
void sort_SCCS_list(int start, int end);
void get_maxMCSinfo(int *ri, MCS **rm, SCCS **rs, char **rt, DNODE **rn);

// Tells that the membership table `tb` holds only zeros; the thread's later
// writes to it, while bound, then clear the cells they set before instead
// of the whole table. Nothing else may write to it.
void cpdgraph_zeroed_table(char *tb);

// Distance between rows of the bound membership table: cell (m, s) is
// element m * stride + s. Rows are as long as the piece list made by the last
// make_SCCS_list(); the capacity CPD_MAX until one has run.
int cpdgraph_table_stride();

// The piece list that make_SCCS_list() builds, grown one clique at a time in
// list order without the tables: which cliques would change it, and the
// pieces of any clique. It reads the compounds and nodes it is given, not
// the binding. Cliques are node numbers, ascending.
class PieceTally {
 public:
  PieceTally(const CPDMOL *m1, const CPDMOL *m2, const DNODE *nodes);
  ~PieceTally();
  PieceTally(const PieceTally &) = delete;
  PieceTally &operator=(const PieceTally &) = delete;

  // A clique's pieces in order of their lowest position: piece p is
  // nodes[begin[p]] to nodes[begin[p + 1] - 1], ascending, and scores score[p].
  struct Split {
    std::vector<int> nodes;
    std::vector<int> begin;
    std::vector<double> score;
    int count() const { return static_cast<int>(score.size()); }
  };
  // Valid until the next call; no pieces when the clique cannot be split.
  const Split &split(std::span<const int> clique);
  // True when listing the clique next would add pieces to the list: it has
  // a piece not listed, and all of its new pieces fit.
  bool changes(std::span<const int> clique);
  // Lists the clique next: its new pieces join the list when all fit.
  void add(std::span<const int> clique);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
