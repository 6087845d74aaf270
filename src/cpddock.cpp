#include "cpddock.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <vector>

#include "cpdio.h"

namespace {

// An atom's text as a number, so that the pairs of a docking compare
// numbers: its first eight bytes, NUL-padded. Texts of up to seven characters
// are equal exactly when their heads are; longer ones are compared in full
// when the heads agree. A missing text (an atom line without that field)
// equals nothing.
struct TextKey {
  std::uint64_t head = 0;
  const char *text = nullptr;
  bool long_text = false;
};

TextKey text_key(const char *s) {
  TextKey k;
  k.text = s;
  if (s == nullptr) return k;
  const std::size_t n = strnlen(s, sizeof k.head);
  std::memcpy(&k.head, s, n);
  k.long_text = n == sizeof k.head;
  return k;
}

bool same_text(const TextKey &a, const TextKey &b) {
  if (a.text == nullptr || b.text == nullptr || a.head != b.head) return false;
  return !a.long_text || std::strcmp(a.text + sizeof a.head, b.text + sizeof b.head) == 0;
}

// The environment type and element keys of every atom of a record.
void atom_keys(const CPDMOL *mol, std::vector<TextKey> &nid, std::vector<TextKey> &aid) {
  nid.resize(mol->nodenum);
  aid.resize(mol->nodenum);
  for (int i = 0; i < mol->nodenum; ++i) {
    nid[i] = text_key(mol->cnode[i].nid);
    aid[i] = text_key(mol->cnode[i].aid);
  }
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

  thread_local std::vector<TextKey> nid1, aid1, nid2, aid2;
  atom_keys(mol1, nid1, aid1);
  atom_keys(mol2, nid2, aid2);
  const bool by_element = (mode & 2) != 0;
  long long count = 0;  // all qualifying pairs, stored or not
  for (int i = 0; i < mol1->nodenum; ++i) {
    const CNODE &p = mol1->cnode[i];
    if (p.HAflag) continue;
    for (int j = 0; j < mol2->nodenum; ++j) {
      const CNODE &q = mol2->cnode[j];
      if (q.HAflag) continue;
      const bool element_key = by_element || p.RAneighbor || q.RAneighbor;
      if (!(element_key ? same_text(aid1[i], aid2[j]) : same_text(nid1[i], nid2[j]))) continue;
      if (count < CPD_MAX) {
        DNODE &node = ret_list[count];
        node.e1 = i;
        node.e2 = j;
        node.ident = same_text(nid1[i], nid2[j]) ? 1 : 0;
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

// DSATUR: the next node is the uncoloured one whose neighbours already use
// the most colours (ties: most neighbours, then lowest number), and it takes
// the lowest colour none of them uses. Any proper colouring bounds the
// largest clique, whose nodes all need different colours; this order usually
// needs few colours on docking graphs.
int dockbits_colour_bound(const DockBits &g, int enough) {
  const int n = g.n;
  const int words = g.words;
  if (n == 0) return 0;
  std::vector<int> degree(n);
  for (int v = 0; v < n; ++v) {
    int d = 0;
    for (int k = 0; k < words; ++k) d += __builtin_popcountll(g.row(v)[k]);
    degree[v] = d;
  }
  std::vector<int> saturation(n, 0);
  std::vector<char> coloured(n, 0);
  // near[c]: the nodes with a neighbour of colour c.
  std::vector<std::vector<std::uint64_t>> near;
  for (int done = 0; done < n; ++done) {
    int v = -1;
    for (int w = 0; w < n; ++w) {
      if (coloured[w]) continue;
      if (v < 0 || saturation[w] > saturation[v] ||
          (saturation[w] == saturation[v] && degree[w] > degree[v]))
        v = w;
    }
    int c = 0;
    while (c < static_cast<int>(near.size()) && ((near[c][v >> 6] >> (v & 63)) & 1u)) ++c;
    if (c == static_cast<int>(near.size())) {
      if (c >= enough) return c + 1;
      near.emplace_back(static_cast<std::size_t>(words), 0);
    }
    coloured[v] = 1;
    const std::uint64_t *row = g.row(v);
    std::vector<std::uint64_t> &mark = near[c];
    for (int k = 0; k < words; ++k) {
      std::uint64_t fresh = row[k] & ~mark[k];
      mark[k] |= row[k];
      while (fresh != 0) {
        const int w = (k << 6) + __builtin_ctzll(fresh);
        fresh &= fresh - 1;
        ++saturation[w];
      }
    }
  }
  return static_cast<int>(near.size());
}

namespace {

// Depth-first search for a clique of more than `k` nodes, pruned by greedy
// colourings: a branch whose clique plus the colours left cannot pass `k` is
// left. Gives up (as if found) after `budget` branches.
class CliqueAbove {
 public:
  CliqueAbove(const DockBits &g, int k, long long budget) : g_(g), k_(k), budget_(budget) {}

  bool run() {
    std::vector<std::uint64_t> all(static_cast<std::size_t>(g_.words), 0);
    for (int v = 0; v < g_.n; ++v) all[v >> 6] |= std::uint64_t{1} << (v & 63);
    return expand(all, 0);
  }

 private:
  bool expand(std::vector<std::uint64_t> &cand, int size) {
    if (++steps_ > budget_) return true;
    const int words = g_.words;
    // Colour classes in node order; nodes listed class by class.
    std::vector<int> order, colour;
    std::vector<std::uint64_t> left = cand, free(static_cast<std::size_t>(words));
    for (int c = 1;; ++c) {
      bool any = false;
      for (int k = 0; k < words; ++k) any = any || left[k] != 0;
      if (!any) break;
      free = left;
      for (int k = 0; k < words; ++k) {
        while (free[k] != 0) {
          const int v = (k << 6) + __builtin_ctzll(free[k]);
          const std::uint64_t *row = g_.row(v);
          for (int j = k; j < words; ++j) free[j] &= ~row[j];
          free[k] &= ~(std::uint64_t{1} << (v & 63));
          left[k] &= ~(std::uint64_t{1} << (v & 63));
          order.push_back(v);
          colour.push_back(c);
        }
      }
    }
    std::vector<std::uint64_t> next(static_cast<std::size_t>(words));
    for (int i = static_cast<int>(order.size()) - 1; i >= 0; --i) {
      if (size + colour[i] <= k_) return false;  // earlier nodes have no more colours
      const int v = order[i];
      if (size + 1 > k_) return true;
      const std::uint64_t *row = g_.row(v);
      for (int k = 0; k < words; ++k) next[k] = cand[k] & row[k];
      if (expand(next, size + 1)) return true;
      cand[v >> 6] &= ~(std::uint64_t{1} << (v & 63));
    }
    return false;
  }

  const DockBits &g_;
  int k_;
  long long budget_;
  long long steps_ = 0;
};

}  // namespace

bool dockbits_clique_above(const DockBits &g, int k, long long budget) {
  if (k < 0) return true;  // the empty clique
  if (g.n <= k) return false;
  return CliqueAbove(g, k, budget).run();
}
