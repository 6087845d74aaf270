// Docking (association) graph of two compounds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cpdcommon.h"

// Row stride of the docking matrix, whatever the node count.
constexpr int DOCK_STRIDE = CPD_MAX;

// Whether a docking graph over the capacity prints "make_DockingGraph: node
// overflow when docking" on standard error (on by default; screens and the
// Python package report it in their results instead).
void dock_overflow_message(bool print);

void make_DockingGraph(CPDMOL *mol1, CPDMOL *mol2, int mode, int *ret_num, DNODE *ret_list,
                       char *ret_mtx);

// The docking graph's adjacency as bit rows sized to the graph: bit w of row v
// is set when nodes v and w (v != w) may share a clique. A row is `words`
// 64-bit words, so a graph of n nodes takes n * ceil(n / 64) words.
struct DockBits {
  int n = 0;
  int words = 0;
  std::vector<std::uint64_t> bits;

  // n nodes, no edges; the storage is kept for the next graph.
  void reset(int nodes) {
    n = nodes;
    words = (nodes + 63) / 64;
    bits.assign(static_cast<std::size_t>(n) * static_cast<std::size_t>(words), 0);
  }
  const std::uint64_t *row(int v) const {
    return bits.data() + static_cast<std::size_t>(v) * words;
  }
  std::uint64_t *row(int v) { return bits.data() + static_cast<std::size_t>(v) * words; }
  bool test(int v, int w) const { return (row(v)[w >> 6] >> (w & 63)) & 1u; }
};

// make_DockingGraph with the adjacency as bit rows sized to the graph instead
// of the fixed-stride matrix: the same nodes, the same overflow handling, and
// ret_bits holding the graph's edges (it is left empty when the graph
// overflows or has no nodes).
void make_DockingGraph_bits(CPDMOL *mol1, CPDMOL *mol2, int mode, int *ret_num, DNODE *ret_list,
                            DockBits &ret_bits);

// The number of colours of a greedy proper colouring of the graph (saturation
// order): an upper bound on its largest clique. Colouring stops, returning
// enough + 1, as soon as more than `enough` colours are needed.
int dockbits_colour_bound(const DockBits &g, int enough = CPD_MAX);

// False when the graph has no clique of more than `k` nodes, found by a
// search pruned by colourings; true when it has one, or when the search
// gave up after `budget` branches.
bool dockbits_clique_above(const DockBits &g, int k, long long budget);

// The bit rows of a docking matrix with the engine's row stride.
void dockbits_from_matrix(int n, const char *mtx, DockBits &out);
