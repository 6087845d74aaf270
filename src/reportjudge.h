// What the alignment report can tell of the order of a listing search's
// cliques, told to the search (cpdcf2::ListJudge) so that it leaves out what
// no report shows.
//
// The report shows the best clique and its pieces in the sorted piece list.
// The best clique is the largest by score and then by its row of the table
// read in the sorted piece order; no two cliques have the same row, so the
// order of the list decides only through the piece list: pieces are listed
// in the order they first appear, and the sort leaves equal scores in an
// order that depends on that one. Hence:
//  - cliques that add no piece to the list (all theirs are listed, or their
//    new ones cannot fit) may come in any order among themselves;
//  - when the first clique decides on its own, nothing after it matters:
//    every piece of every largest clique has one score and no other clique
//    scores more (the sort then moves nothing and the first clique's pieces
//    head the list); or the first clique's pieces have distinct scores, the
//    first of them scoring at least every piece of every other largest
//    clique and belonging to none of them, and no other clique scores more:
//    the first clique's best piece is then the best of all (the sort never
//    moves the first piece listed from the head of the list while none
//    scores more) and belongs to no other clique.
#pragma once

#include <span>
#include <vector>

#include "cpdcf2.h"
#include "cpdcommon.h"
#include "cpdgraph.h"

class ReportJudge : public cpdcf2::ListJudge {
 public:
  // Every largest clique of the pair, `size` node numbers each.
  ReportJudge(const CPDMOL *m1, const CPDMOL *m2, const DNODE *nodes, std::span<const int> cliques,
              int size);

  bool any_order(std::span<const int> cliques) override;
  void recorded(std::span<const int> nodes) override;
  bool settled() const override { return settled_; }

 private:
  // Known clique q, its nodes ascending (valid until the next call).
  std::span<const int> clique(int q);
  bool first_decides(std::span<const int> first);

  std::span<const int> known_;
  std::size_t size_;
  PieceTally tally_;
  std::vector<int> nodes_of_;
  std::vector<char> inert_;  // by known clique: it adds no piece, now or later
  bool first_ = true;
  bool settled_ = false;
};
