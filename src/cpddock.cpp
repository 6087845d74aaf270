#include "cpddock.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cpdio.h"

namespace {

// Equal text; a missing string (an atom line without that field) equals nothing.
bool same_text(const char *a, const char *b) {
  return a != nullptr && b != nullptr && std::strcmp(a, b) == 0;
}

// Computes the docking-graph entries row by row and hands each row to
// `sink(a, entries)`, where entries(put) calls put(b, value) for every node b
// of the row except a itself: 1 for a kept bond, 2 for a kept non-bond, 0
// otherwise. The entry rule is symmetric, so rows are computed whole instead
// of one triangle mirrored.
//
// Nodes come grouped by their first-compound atom, so within a run of equal
// e1 the first compound's bond state is fixed and each entry costs one look-up
// in the second compound's bond row.
template <class Sink>
void fill_rows(const CPDMOL *mol1, const CPDMOL *mol2, const DNODE *list, int n, Sink &&sink) {
  std::vector<int> e1(n);
  std::vector<int> e2(n);
  for (int b = 0; b < n; ++b) {
    e1[b] = list[b].e1;
    e2[b] = list[b].e2;
  }
  struct Run {
    int begin, end, atom;  // nodes begin..end-1 share first-compound atom `atom`
  };
  std::vector<Run> runs;
  for (int b = 0; b < n;) {
    int end = b + 1;
    while (end < n && e1[end] == e1[b]) ++end;
    runs.push_back({b, end, e1[b]});
    b = end;
  }

  const std::size_t n1 = static_cast<std::size_t>(mol1->nodenum);
  const std::size_t n2 = static_cast<std::size_t>(mol2->nodenum);
  for (int a = 0; a < n; ++a) {
    const char *bond1 = mol1->matrix + static_cast<std::size_t>(e1[a]) * n1;
    const char *bond2 = mol2->matrix + static_cast<std::size_t>(e2[a]) * n2;
    const int own2 = e2[a];
    sink(a, [&](auto &&put) {
      for (const Run &run : runs) {
        const char c1 = run.atom == e1[a] ? -1 : bond1[run.atom];
        if (c1 == 1) {
          // Bonded in the first compound: kept only where bonded in the second.
          for (int b = run.begin; b < run.end; ++b)
            put(b, static_cast<char>((bond2[e2[b]] == 1) & (e2[b] != own2)));
        } else if (c1 == 0) {
          // Not bonded in the first compound: kept only where not bonded in the second.
          for (int b = run.begin; b < run.end; ++b)
            put(b, static_cast<char>(((bond2[e2[b]] == 0) & (e2[b] != own2)) << 1));
        } else {
          // Same first-compound atom (or no usable bond state): never joined.
          for (int b = run.begin; b < run.end; ++b) put(b, 0);
        }
      }
    });
  }
}

}  // namespace

namespace {

// Lists the nodes of the docking graph into ret_list (at most CPD_MAX) and
// returns how many atom pairs qualified, stored or not; -1 when a record
// offers no atoms at all.
long long list_nodes(CPDMOL *mol1, CPDMOL *mol2, int mode, DNODE *ret_list) {
  if (mol1 == nullptr || mol2 == nullptr) return -1;
  if (mol1->cnode == nullptr) cnode_CPDMOL(mol1);
  if (mol2->cnode == nullptr) cnode_CPDMOL(mol2);
  if (mol1->matrix == nullptr) matrix_CPDMOL(mol1);
  if (mol2->matrix == nullptr) matrix_CPDMOL(mol2);

  // A record whose environments or bonds could not be built offers no atoms.
  const auto usable = [](const CPDMOL *mol) {
    return mol->nodenum > 0 && mol->cnode != nullptr && mol->matrix != nullptr;
  };
  if (!usable(mol1) || !usable(mol2)) return -1;

  const bool by_element = (mode & 2) != 0;
  long long count = 0;  // all qualifying pairs, stored or not
  for (int i = 0; i < mol1->nodenum; ++i) {
    const CNODE &p = mol1->cnode[i];
    if (p.HAflag) continue;
    for (int j = 0; j < mol2->nodenum; ++j) {
      const CNODE &q = mol2->cnode[j];
      if (q.HAflag) continue;
      const bool element_key = by_element || p.RAneighbor || q.RAneighbor;
      if (!(element_key ? same_text(p.aid, q.aid) : same_text(p.nid, q.nid))) continue;
      if (count < CPD_MAX) {
        DNODE &node = ret_list[count];
        node.e1 = i;
        node.e2 = j;
        node.ident = same_text(p.nid, q.nid) ? 1 : 0;
        node.score = node.ident ? 1.0 : 0.5;
      }
      ++count;
    }
  }
  if (count > CPD_MAX) std::fprintf(stderr, "make_DockingGraph: node overflow when docking\n");
  return count;
}

}  // namespace

void make_DockingGraph(CPDMOL *mol1, CPDMOL *mol2, int mode, int *ret_num, DNODE *ret_list,
                       char *ret_mtx) {
  *ret_num = 0;
  const long long count = list_nodes(mol1, mol2, mode, ret_list);
  if (count < 0) return;
  *ret_num = static_cast<int>(std::min<long long>(count, INT_MAX));
  if (count > CPD_MAX) return;
  const int n = static_cast<int>(count);
  fill_rows(mol1, mol2, ret_list, n, [&](int a, auto &&entries) {
    char *out = ret_mtx + static_cast<std::size_t>(a) * DOCK_STRIDE;
    entries([&](int b, char v) { out[b] = v; });
    out[a] = 1;
  });
}

void make_DockingGraph_bits(CPDMOL *mol1, CPDMOL *mol2, int mode, int *ret_num, DNODE *ret_list,
                            DockBits &ret_bits) {
  *ret_num = 0;
  ret_bits.reset(0);
  const long long count = list_nodes(mol1, mol2, mode, ret_list);
  if (count < 0) return;
  *ret_num = static_cast<int>(std::min<long long>(count, INT_MAX));
  if (count > CPD_MAX) return;
  const int n = static_cast<int>(count);
  ret_bits.reset(n);
  fill_rows(mol1, mol2, ret_list, n, [&](int a, auto &&entries) {
    std::uint64_t *row = ret_bits.row(a);
    entries([&](int b, char v) { row[b >> 6] |= static_cast<std::uint64_t>(v != 0) << (b & 63); });
    row[a >> 6] &= ~(std::uint64_t{1} << (a & 63));
  });
}

void dockbits_from_matrix(int n, const char *mtx, DockBits &out) {
  out.reset(n);
  for (int a = 0; a < n; ++a) {
    const char *cells = mtx + static_cast<std::size_t>(a) * DOCK_STRIDE;
    std::uint64_t *row = out.row(a);
    for (int b = 0; b < n; ++b)
      if (b != a && cells[b] != 0) row[b >> 6] |= std::uint64_t{1} << (b & 63);
  }
}
