#include "cpddock.h"

#include <atomic>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <vector>

#include "bitcount.h"
#include "cpdio.h"

namespace {
// Programs that report the overflow in their own output turn the line off.
std::atomic<bool> overflow_message{true};
}  // namespace

void dock_overflow_message(bool print) {
  overflow_message.store(print, std::memory_order_relaxed);
}

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

// Sets bits begin..end-1 of a bit row.
void set_bits(std::uint64_t *row, int begin, int end) {
  if (begin >= end) return;
  const int first = begin >> 6, last = (end - 1) >> 6;
  const std::uint64_t head = ~std::uint64_t{0} << (begin & 63);
  const std::uint64_t tail = ~std::uint64_t{0} >> (63 - ((end - 1) & 63));
  if (first == last) {
    row[first] |= head & tail;
    return;
  }
  row[first] |= head;
  for (int k = first + 1; k < last; ++k) row[k] = ~std::uint64_t{0};
  row[last] |= tail;
}

// Working storage of fill_rows().
struct RowScratch {
  struct Run {
    int begin, end, atom;  // nodes begin..end-1 share first-compound atom `atom`
  };
  std::size_t w = 0;  // words per row
  std::vector<Run> runs;
  std::vector<int> run_of;                  // run of each node
  std::vector<std::uint64_t> bond1, none1;  // per run, see first_compound_masks()
  std::vector<int> at_begin, at_nodes;      // nodes of each second-compound atom
  std::vector<int> fill;
  std::vector<int> atoms2;  // second-compound atoms that have nodes, ascending
  std::vector<std::uint64_t> bond2, none2, all, row_bond, row_none;
};

// The steps of fill_rows() below are inlined into it on purpose: called
// apart, they cost the docking some 10 % more instructions (measured).

// The runs of nodes that share their first-compound atom (nodes come
// grouped by that atom).
[[gnu::always_inline]] inline void group_runs(const DNODE *list, int n, RowScratch &t) {
  t.run_of.resize(n);
  for (int b = 0; b < n;) {
    int end = b + 1;
    while (end < n && list[end].e1 == list[b].e1) ++end;
    std::fill(t.run_of.begin() + b, t.run_of.begin() + end, static_cast<int>(t.runs.size()));
    t.runs.push_back({b, end, list[b].e1});
    b = end;
  }
}

// First compound, per run: the nodes of the other runs whose atom is bonded
// (cell 1) or not bonded (cell 0) to the run's atom. Other cell values join
// nothing.
[[gnu::always_inline]] inline void first_compound_masks(const CPDMOL *mol1, RowScratch &t) {
  const std::size_t w = t.w;
  const std::size_t runs = t.runs.size();
  const std::size_t n1 = static_cast<std::size_t>(mol1->nodenum);
  t.bond1.assign(runs * w, 0);
  t.none1.assign(runs * w, 0);
  for (std::size_t r = 0; r < runs; ++r) {
    const char *cells = mol1->matrix + static_cast<std::size_t>(t.runs[r].atom) * n1;
    std::uint64_t *b1 = t.bond1.data() + r * w;
    std::uint64_t *b0 = t.none1.data() + r * w;
    for (std::size_t q = 0; q < runs; ++q) {
      if (t.runs[q].atom == t.runs[r].atom) continue;  // the same atom joins nothing
      const char c = cells[t.runs[q].atom];
      if (c == 1) {
        set_bits(b1, t.runs[q].begin, t.runs[q].end);
      } else if (c == 0) {
        set_bits(b0, t.runs[q].begin, t.runs[q].end);
      }
    }
  }
}

// Second compound: the nodes of each atom, ascending, and the atoms that
// have any.
[[gnu::always_inline]] inline void nodes_by_second_atom(const CPDMOL *mol2, const DNODE *list,
                                                        int n, RowScratch &t) {
  const std::size_t n2 = static_cast<std::size_t>(mol2->nodenum);
  t.at_begin.assign(n2 + 1, 0);
  for (int b = 0; b < n; ++b) ++t.at_begin[list[b].e2 + 1];
  t.atoms2.clear();
  for (std::size_t z = 0; z < n2; ++z) {
    if (t.at_begin[z + 1] != 0) t.atoms2.push_back(static_cast<int>(z));
    t.at_begin[z + 1] += t.at_begin[z];
  }
  t.at_nodes.resize(n);
  t.fill.assign(t.at_begin.begin(), t.at_begin.end() - 1);
  for (int b = 0; b < n; ++b) t.at_nodes[t.fill[list[b].e2]++] = b;
}

// Second compound, for atom y: the nodes whose atom is bonded to y (bond2),
// and those whose atom is not y and has a zero cell with it (none2).
[[gnu::always_inline]] inline void second_compound_masks(const CPDMOL *mol2, int y, RowScratch &t) {
  const std::size_t n2 = static_cast<std::size_t>(mol2->nodenum);
  t.bond2.assign(t.w, 0);
  t.none2 = t.all;
  const char *cells = mol2->matrix + static_cast<std::size_t>(y) * n2;
  for (const int z : t.atoms2) {
    const char c = cells[z];
    if (z != y && c == 0) continue;
    const bool bonded = z != y && c == 1;
    for (int k = t.at_begin[z]; k < t.at_begin[z + 1]; ++k) {
      const int b = t.at_nodes[k];
      const std::uint64_t bit = std::uint64_t{1} << (b & 63);
      t.none2[b >> 6] &= ~bit;
      if (bonded) t.bond2[b >> 6] |= bit;
    }
  }
}

// The row of node a: its run's first-compound masks AND the second
// compound's masks of its atom.
[[gnu::always_inline]] inline void combine_row(int a, RowScratch &t) {
  const std::size_t w = t.w;
  const std::uint64_t *b1 = t.bond1.data() + static_cast<std::size_t>(t.run_of[a]) * w;
  const std::uint64_t *b0 = t.none1.data() + static_cast<std::size_t>(t.run_of[a]) * w;
  for (std::size_t i = 0; i < w; ++i) {
    t.row_bond[i] = b1[i] & t.bond2[i];
    t.row_none[i] = b0[i] & t.none2[i];
  }
}

// Computes the docking-graph rows as bit masks and hands each to
// `sink(a, bond, none)`: bit b of `bond` is set when nodes a and b keep a
// bond (entry 1), bit b of `none` when they keep a non-bond (entry 2); a
// node's own bit is never set. Each row has (n + 63) / 64 words.
//
// An entry asks both compounds the same question, so it is the AND of two
// masks, one per compound: the nodes whose first-compound atom is bonded
// (not bonded) to a's, and those whose second-compound atom is bonded (not
// bonded) to a's. Nodes come grouped by their first-compound atom, so that
// atom's masks are unions of whole runs of nodes; the second compound's
// masks are built once per atom and serve every node of that atom. A row
// then costs a few word operations instead of a test per node.
template <class Sink>
void fill_rows(const CPDMOL *mol1, const CPDMOL *mol2, const DNODE *list, int n, Sink &&sink) {
  RowScratch t;
  t.w = static_cast<std::size_t>((n + 63) / 64);
  group_runs(list, n, t);
  first_compound_masks(mol1, t);
  nodes_by_second_atom(mol2, list, n, t);
  t.all.assign(t.w, 0);
  set_bits(t.all.data(), 0, n);
  t.row_bond.resize(t.w);
  t.row_none.resize(t.w);
  for (const int y : t.atoms2) {
    second_compound_masks(mol2, y, t);
    for (int k = t.at_begin[y]; k < t.at_begin[y + 1]; ++k) {
      const int a = t.at_nodes[k];
      combine_row(a, t);
      sink(a, t.row_bond.data(), t.row_none.data());
    }
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
  if (count > CPD_MAX && overflow_message.load(std::memory_order_relaxed)) {
    std::fprintf(stderr, "make_DockingGraph: node overflow when docking\n");
  }
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
  fill_rows(
      mol1, mol2, ret_list, n, [&](int a, const std::uint64_t *bond, const std::uint64_t *none) {
        char *out = ret_mtx + static_cast<std::size_t>(a) * DOCK_STRIDE;
        for (int b = 0; b < n; ++b) {
          const std::uint64_t bit = std::uint64_t{1} << (b & 63);
          out[b] =
              static_cast<char>(((bond[b >> 6] & bit) != 0) | (((none[b >> 6] & bit) != 0) << 1));
        }
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
  fill_rows(mol1, mol2, ret_list, n,
            [&](int a, const std::uint64_t *bond, const std::uint64_t *none) {
              std::uint64_t *row = ret_bits.row(a);
              for (int k = 0; k < ret_bits.words; ++k) row[k] = bond[k] | none[k];
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
