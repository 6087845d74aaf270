// Depictions: compounds drawn as SVG from the 2D coordinates of their atom
// lines, with the aligned atoms of a pair highlighted piece by piece.
//
// Every drawn atom is one element carrying data-atom="N" (its atom number);
// an aligned atom's element also carries data-piece="K", the piece number as
// taviron --align prints it after "SCCS". Each bond is one element carrying
// data-bond="A-B" and data-order with one line per drawn order. An H atom
// shown in its heteroatom's label ("OH") keeps its element, and so does its
// bond, both marked data-folded="1" and drawn without marks. Tests and tools
// read these attributes; the rest of the markup may change.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cpdcommon.h"

namespace depict {

struct Options {
  double bond_length = 32.0;  // pixels per bond (the median bond of the record)
  double font_size = 14.0;    // atom labels, in pixels
  double margin = 18.0;       // around each drawing
  double max_side = 1400.0;   // drawings larger than this are scaled down to fit
  int legend_entries = 10;    // pieces listed by name before "+N more"
};

// One aligned atom pair, numbered as taviron --align prints it.
struct AlignedAtom {
  int a = 0;      // 1-based atom of the first compound
  int b = 0;      // 1-based atom of the second compound
  int piece = 0;  // connected piece, from 1 in descending score
};

// What a pair depiction shows besides the structures.
struct PairInfo {
  int score = 0;
  double coefficient = 0.0;
  std::string status = "ok";  // taviron-search's words: ok, no-atoms, too-large:N, ...
  int atoms_a = 0;            // matchable atoms (neither H nor *) of each compound
  int atoms_b = 0;
  std::vector<AlignedAtom> aligned;
};

// The alignment left in the calling thread's engine by compute_similarity(),
// with the pieces numbered and ordered exactly as the --align report does;
// empty when nothing was aligned. Refreshes the engine's best-clique index,
// as the report does.
std::vector<AlignedAtom> engine_alignment();

// Runs the calling thread's engine (configured with init_exe1) on the pair
// and collects what a depiction shows.
PairInfo compute_pair(CPDMOL *a, CPDMOL *b);

// A standalone SVG document of one compound. `hydrogens`, when it holds one
// count per atom, gives the hydrogens not written as atoms (as a converter
// kept them from the molecule); heteroatoms then show them, "OH", "NH2".
// Without it, heteroatoms show the record's own H atoms only when the record
// writes all its hydrogens (every carbon with its four bonds).
std::string compound_svg(const CPDMOL &mol, const Options &options = {},
                         std::span<const int> hydrogens = {});

// A standalone SVG document of the pair side by side: identifiers, names,
// score and coefficient, the aligned atoms highlighted in one colour per
// piece, the same colour in both compounds, and a legend in words. The second
// compound is turned (and mirrored, where that fits better) so that its
// aligned atoms lie over the first's as nearly as they can; with fewer than
// two aligned atoms it is drawn as its record has it. Hydrogens as for
// compound_svg, one span per compound.
std::string pair_svg(const CPDMOL &a, const CPDMOL &b, const PairInfo &info,
                     const Options &options = {}, std::span<const int> hydrogens_a = {},
                     std::span<const int> hydrogens_b = {});

// Highlight colour of a piece (from 1), as "#rrggbb".
std::string_view piece_colour(int piece);

// Text made safe for XML and HTML content and attribute values: markup
// characters escaped, bytes that are not valid UTF-8 and control characters
// replaced by U+FFFD.
std::string escape(std::string_view text);

}  // namespace depict
