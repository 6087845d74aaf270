// The common substructure of a compared pair in the terms of the molecules
// the user gave: atom indices of the input molecules and the matched part of
// each as SMILES. Records converted from molecules keep, for this, where each
// atom came from (MoleculeAtoms); records read from QTR text have none, and
// their indices are the positions of their atom lines.
#pragma once

#include <span>
#include <string>
#include <utility>
#include <vector>

#include "cpdcommon.h"

// Where the atoms of one converted record came from.
struct MoleculeAtoms {
  // Per record atom (in atom-line order): its 0-based index among the atoms
  // of the input molecule as written, hydrogens given as atoms included (the
  // order RDKit reads it in with hydrogens kept); -1 for a hydrogen the
  // conversion added.
  std::vector<int> input;
  // The record's molecule as Kekulé SMILES whose atom map numbers are the
  // record's atom numbers (1-based): what matched parts are cut from.
  std::string smiles;
};

struct CommonSubstructure {
  // Aligned atoms (first compound, second compound) as 0-based input indices,
  // in the order of the alignment; pairs of a hydrogen that has no input
  // index are left out.
  std::vector<std::pair<int, int>> atom_pairs;
  // The matched part of each molecule (the aligned atoms and the bonds that
  // join aligned atoms in both compounds) as canonical SMILES; empty for a
  // record without MoleculeAtoms or when nothing was aligned.
  std::string smiles_a;
  std::string smiles_b;
};

// The common substructure of records a and b for their alignment (pairs of
// 1-based record atom numbers, as the --align report lists them). `ma` and
// `mb` are the records' MoleculeAtoms, or null for records read from QTR
// text. Builds the records' bond matrices when they have none.
CommonSubstructure common_substructure(CPDMOL &a, const MoleculeAtoms *ma, CPDMOL &b,
                                       const MoleculeAtoms *mb,
                                       std::span<const std::pair<int, int>> aligned);

// The part of the molecule made of the given record atoms (0-based) and
// bonds (pairs of those atoms), as canonical Kekulé SMILES; empty when the
// SMILES cannot be read back (it was written by the converter, so only a
// damaged one).
std::string matched_smiles(const MoleculeAtoms &molecule, std::span<const int> atoms,
                           std::span<const std::pair<int, int>> bonds);
