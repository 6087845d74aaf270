#include "convert/layout.h"

#include <GraphMol/Conformer.h>
#include <GraphMol/Depictor/RDDepictor.h>
#include <GraphMol/GraphMol.h>
#include <GraphMol/MolOps.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

using RDKit::Atom;
using RDKit::Bond;
using RDKit::RWMol;

constexpr unsigned kUnset = ~0u;

// Atoms grouped into pieces: each connected component in depth-first
// preorder, cut after every `limit` atoms when it is larger than that.
// Consecutive preorder atoms are mostly bonded, so most pieces stay connected.
std::vector<std::vector<unsigned>> cut_into_pieces(const RWMol &mol, unsigned limit) {
  const unsigned n = mol.getNumAtoms();
  std::vector<unsigned> component_of(n, kUnset);
  std::vector<std::vector<unsigned>> pieces;
  std::vector<unsigned> stack, order;
  for (unsigned start = 0; start < n; ++start) {
    if (component_of[start] != kUnset) continue;
    order.clear();
    stack.assign(1, start);
    component_of[start] = start;
    while (!stack.empty()) {
      const unsigned a = stack.back();
      stack.pop_back();
      order.push_back(a);
      // Neighbours are pushed in reverse so the lowest index is visited first.
      const size_t mark = stack.size();
      for (const Bond *bond : mol.atomBonds(mol.getAtomWithIdx(a))) {
        const unsigned b = bond->getOtherAtomIdx(a);
        if (component_of[b] != kUnset) continue;
        component_of[b] = start;
        stack.push_back(b);
      }
      std::sort(stack.begin() + static_cast<long>(mark), stack.end(), std::greater<>());
    }
    for (size_t i = 0; i < order.size(); i += limit) {
      const size_t end = std::min(order.size(), i + limit);
      pieces.emplace_back(order.begin() + static_cast<long>(i),
                          order.begin() + static_cast<long>(end));
    }
  }
  return pieces;
}

struct Box {
  double min_x = 0, min_y = 0, max_x = 0, max_y = 0;
  double width() const { return max_x - min_x; }
  double height() const { return max_y - min_y; }
};

// RDKit's depiction of the atoms of one piece, with the bonds among them.
std::vector<RDGeom::Point2D> depict_piece(const RWMol &mol, const std::vector<unsigned> &atoms,
                                          std::vector<unsigned> &index_in_piece) {
  RWMol piece;
  for (size_t k = 0; k < atoms.size(); ++k) {
    // addAtom copies the atom when it does not take ownership.
    piece.addAtom(const_cast<Atom *>(mol.getAtomWithIdx(atoms[k])), false, false);
    index_in_piece[atoms[k]] = static_cast<unsigned>(k);
  }
  for (const unsigned a : atoms) {
    for (const Bond *bond : mol.atomBonds(mol.getAtomWithIdx(a))) {
      const unsigned b = bond->getOtherAtomIdx(a);
      // Each bond inside the piece once, from its lower-numbered atom.
      if (b < a || index_in_piece[b] == kUnset) continue;
      piece.addBond(index_in_piece[a], index_in_piece[b], bond->getBondType());
    }
  }
  RDKit::MolOps::findSSSR(piece);
  RDDepict::compute2DCoords(piece, nullptr, true);
  std::vector<RDGeom::Point2D> points;
  points.reserve(atoms.size());
  const RDKit::Conformer &conf = piece.getConformer();
  for (size_t k = 0; k < atoms.size(); ++k) {
    const RDGeom::Point3D &p = conf.getAtomPos(static_cast<unsigned>(k));
    points.emplace_back(p.x, p.y);
  }
  for (const unsigned a : atoms) index_in_piece[a] = kUnset;
  return points;
}

}  // namespace

void piecewise_2d_coords(RWMol &mol, const PieceLayoutOptions &options) {
  const unsigned n = mol.getNumAtoms();
  const std::vector<std::vector<unsigned>> pieces =
      cut_into_pieces(mol, std::max(1u, options.piece_atoms));

  std::vector<std::vector<RDGeom::Point2D>> points;
  std::vector<Box> boxes;
  points.reserve(pieces.size());
  boxes.reserve(pieces.size());
  std::vector<unsigned> index_in_piece(n, kUnset);
  double area = 0, widest = 0;
  for (const std::vector<unsigned> &atoms : pieces) {
    points.push_back(depict_piece(mol, atoms, index_in_piece));
    Box box{points.back()[0].x, points.back()[0].y, points.back()[0].x, points.back()[0].y};
    for (const RDGeom::Point2D &p : points.back()) {
      box.min_x = std::min(box.min_x, p.x);
      box.max_x = std::max(box.max_x, p.x);
      box.min_y = std::min(box.min_y, p.y);
      box.max_y = std::max(box.max_y, p.y);
    }
    boxes.push_back(box);
    area += (box.width() + options.gap) * (box.height() + options.gap);
    widest = std::max(widest, box.width());
  }

  // Rows about as wide as the whole set is high: pieces go left to right,
  // a new row starting below the previous one when the row is full.
  const double row_width = std::max(widest, std::sqrt(area));
  auto conf = std::make_unique<RDKit::Conformer>(n);
  conf->set3D(false);
  double x = 0, y = 0, row_height = 0;
  for (size_t k = 0; k < pieces.size(); ++k) {
    const Box &box = boxes[k];
    if (x > 0 && x + box.width() > row_width) {
      x = 0;
      y -= row_height + options.gap;
      row_height = 0;
    }
    for (size_t i = 0; i < pieces[k].size(); ++i) {
      const RDGeom::Point2D &p = points[k][i];
      conf->setAtomPos(pieces[k][i],
                       RDGeom::Point3D(x + p.x - box.min_x, y - (box.max_y - p.y), 0.0));
    }
    x += box.width() + options.gap;
    row_height = std::max(row_height, box.height());
  }
  mol.clearConformers();
  mol.addConformer(conf.release(), true);
}
