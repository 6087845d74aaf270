// 2D coordinates for molecules too large for a whole-molecule depiction.
//
// RDKit's depiction resolves overlaps between every pair of atoms and
// packs fragments against each other; its time grows about with the cube of
// the size. Here a large molecule is cut into pieces of a bounded size, each
// piece is depicted by RDKit on its own, and the pieces are set side by side
// in rows, so the time grows linearly with the number of pieces.
#pragma once

namespace RDKit {
class RWMol;
}

struct PieceLayoutOptions {
  unsigned piece_atoms = 100;  // most atoms depicted together in one piece
  double gap = 2.0;            // space between neighbouring pieces (Angstrom)
};

// Replaces the molecule's conformers by one 2D conformer laid out piece by
// piece: each connected component of at most piece_atoms atoms is one piece;
// a larger component is cut, in depth-first order of its atoms, into pieces
// of piece_atoms atoms. Bonds between pieces keep their atoms where their
// pieces put them. Deterministic for a given molecule.
void piecewise_2d_coords(RDKit::RWMol &mol, const PieceLayoutOptions &options = {});
