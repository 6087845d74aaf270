// Schematic 2D layouts for records without coordinates.
//
// The atoms go on a circle in their record's order. Where that crosses bonds
// (a bridged ring system cannot be drawn on a circle without) and the record
// is small and of one piece, a few other layouts are tried and the one with
// the fewest faults is kept: each puts one ring of the record on a regular
// polygon, every other ring atom at the mean of its neighbours (a drawing
// without crossings when the ring bounds a face), and the chains outwards.
#pragma once

#include <vector>

namespace depict::schematic {

struct XY {
  double x = 0.0, y = 0.0;
};

// Positions of the atoms of a graph given by its neighbour lists (0-based,
// each bond listed at both of its atoms); neighbouring atoms lie about one
// unit apart. Deterministic.
std::vector<XY> layout(const std::vector<std::vector<int>> &neighbours);

}  // namespace depict::schematic
