#include "convert/substructure.h"

#include <GraphMol/GraphMol.h>
#include <GraphMol/SmilesParse/SmilesParse.h>
#include <GraphMol/SmilesParse/SmilesWrite.h>

#include <memory>
#include <unordered_map>

#include "cpdio.h"

namespace {

bool bonded(const CPDMOL &mol, int i, int j) {
  if (i < 0 || j < 0 || i >= mol.nodenum || j >= mol.nodenum) return false;
  return mol.matrix[static_cast<std::size_t>(i) * static_cast<std::size_t>(mol.nodenum) +
                    static_cast<std::size_t>(j)] != 0;
}

int input_index(const MoleculeAtoms *m, int record_atom) {
  if (m == nullptr) return record_atom;  // QTR: the position of the atom line
  const auto k = static_cast<std::size_t>(record_atom);
  return k < m->input.size() ? m->input[k] : -1;
}

}  // namespace

std::string matched_smiles(const MoleculeAtoms &molecule, std::span<const int> atoms,
                           std::span<const std::pair<int, int>> bonds) {
  if (atoms.empty()) return {};
  try {
    RDKit::SmilesParserParams params;
    params.sanitize = false;  // as written: Kekulé bonds, the converter's charges
    params.removeHs = false;
    std::unique_ptr<RDKit::RWMol> mol(RDKit::SmilesToMol(molecule.smiles, params));
    if (!mol) return {};
    std::unordered_map<int, int> by_number;  // record atom number -> index in mol
    for (RDKit::Atom *atom : mol->atoms()) {
      by_number[atom->getAtomMapNum()] = static_cast<int>(atom->getIdx());
      atom->setAtomMapNum(0);
    }
    mol->updatePropertyCache(false);
    const auto at = [&](int record_atom) {
      const auto found = by_number.find(record_atom + 1);
      return found != by_number.end() ? found->second : -1;
    };
    std::vector<int> use_atoms, use_bonds;
    for (int a : atoms) {
      if (at(a) < 0) return {};
      use_atoms.push_back(at(a));
    }
    for (const auto &[i, j] : bonds) {
      if (const RDKit::Bond *bond = mol->getBondBetweenAtoms(at(i), at(j))) {
        use_bonds.push_back(static_cast<int>(bond->getIdx()));
      }
    }
    RDKit::SmilesWriteParams ps;
    ps.doKekule = true;  // a part of an aromatic ring reads back only as Kekulé
    return RDKit::MolFragmentToSmiles(*mol, ps, use_atoms, &use_bonds);
  } catch (const std::exception &) {
    return {};
  }
}

CommonSubstructure common_substructure(CPDMOL &a, const MoleculeAtoms *ma, CPDMOL &b,
                                       const MoleculeAtoms *mb,
                                       std::span<const std::pair<int, int>> aligned) {
  CommonSubstructure out;
  if (a.matrix == nullptr) matrix_CPDMOL(&a);
  if (b.matrix == nullptr) matrix_CPDMOL(&b);
  std::vector<int> atoms_a, atoms_b;  // 0-based record atoms, aligned in order
  for (const auto &[i, j] : aligned) {
    atoms_a.push_back(i - 1);
    atoms_b.push_back(j - 1);
    const int ia = input_index(ma, i - 1), ib = input_index(mb, j - 1);
    if (ia >= 0 && ib >= 0) out.atom_pairs.emplace_back(ia, ib);
  }
  // A bond belongs to the common part when both compounds have it.
  std::vector<std::pair<int, int>> bonds_a, bonds_b;
  for (std::size_t x = 0; x < atoms_a.size(); x++) {
    for (std::size_t y = x + 1; y < atoms_a.size(); y++) {
      if (bonded(a, atoms_a[x], atoms_a[y]) && bonded(b, atoms_b[x], atoms_b[y])) {
        bonds_a.emplace_back(atoms_a[x], atoms_a[y]);
        bonds_b.emplace_back(atoms_b[x], atoms_b[y]);
      }
    }
  }
  if (ma != nullptr) out.smiles_a = matched_smiles(*ma, atoms_a, bonds_a);
  if (mb != nullptr) out.smiles_b = matched_smiles(*mb, atoms_b, bonds_b);
  return out;
}
