// Exact largest cliques of a docking graph, found without a step budget and
// independently of the ordered search: the size of the largest clique,
// whether a clique of k nodes exists, and how many cliques have the largest
// size (counted up to the clique list's capacity).
//
// A branch and bound on bit rows: the graph is renumbered in degeneracy
// order, every search node bounds its candidates by a greedy colouring (with
// nodes moved into lower colours where one swap allows it) and, when given,
// by the atoms the candidates use on either side; a greedy clique and a
// known lower bound start the search.
#pragma once

#include <chrono>
#include <span>
#include <vector>

#include "cpdcommon.h"
#include "cpddock.h"

namespace maxclique {

struct Options {
  // A clique of this many nodes is known to exist (for example, found by the
  // budgeted search); only larger ones are looked for before counting. Must
  // not exceed the largest size, or the result is wrong.
  int lower_bound = 0;
  // Also count the cliques of the largest size, up to count_cap.
  bool count = false;
  // Counting stops here: the clique list's capacity.
  int count_cap = CPD_MAX;
  // Nodes whose colour would make them branch are moved into a lower colour
  // when they meet only one node there and that node fits another colour.
  bool recolour = true;
  // Nodes started from by the greedy clique before the search (highest cores
  // first); 0 starts from the known lower bound alone.
  int greedy_starts = 4;
  // Optional: for every node, the atom it uses in each compound (DNODE e1,
  // e2). Nodes sharing an atom are never adjacent, so a clique holds at most
  // as many nodes as its candidates use atoms on either side. Empty: unused.
  std::span<const int> side1;
  std::span<const int> side2;
  // With the atoms given: branch on a first-compound atom's pairings (the
  // one with the fewest) instead of on nodes in colour order.
  bool by_atoms = true;
  // The search gives up at this time (the clock's epoch: never); the result
  // then says so and holds the largest clique found until then.
  std::chrono::steady_clock::time_point deadline{};
};

struct Result {
  int size = 0;   // nodes of the largest clique (0 for an empty graph)
  int count = 0;  // cliques of that size, at most count_cap (0 unless counted)
  std::vector<int>
      clique;  // one largest clique, ascending (empty when only lower_bound showed the size)
  long long branches = 0;  // search nodes visited, for measurements
  bool timed_out = false;  // the deadline ended the search: size and count may be short
};

// The largest clique (and, with options.count, the number of largest cliques).
Result largest_clique(const DockBits &g, const Options &options = {});

// Whether the graph has a clique of k nodes (k <= 0: always).
bool has_clique(const DockBits &g, int k, const Options &options = {});

// The size and the capped count of the largest cliques of a docking graph,
// with the nodes' atoms taken from `nodes` (graph.n entries).
Result largest_docked(const DockBits &graph, const DNODE *nodes, Options options = {});

}  // namespace maxclique
