// Clique scoring and connected clique pieces.
//
// Every clique is split into its connected pieces: nodes whose atom pairs are
// bonded in both compounds hang together. The pieces of all cliques form one
// list without repeats, and the membership table (row = clique, column =
// piece) says which pieces make up which clique. The table's columns follow
// the order of the piece list, so exchanging two pieces exchanges their
// columns too. Rows are as long as the pair's piece list, not the capacity:
// a pair with thousands of cliques and a hundred pieces then touches a few
// hundred kilobytes of the table, where a full-width row would cost a page
// per clique.
#include "cpdgraph.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <numeric>
#include <span>
#include <cstdint>
#include <vector>

#include "cpdsc.h"

namespace {

// Tables of one engine instance, bound by init_cpdgraph(). Per thread, so
// that engines on different threads do not see each other's tables.
struct Binding {
  CPDMOL *cpdmol1 = nullptr;
  CPDMOL *cpdmol2 = nullptr;
  DNODE *nodelist = nullptr;
  int *mcsnum = nullptr;
  MCS *mcslist = nullptr;
  int *sccsnum = nullptr;
  SCCS *sccslist = nullptr;
  char *mcs_sccs_table = nullptr;
  // Cliques whose pieces did not all fit into the piece list at the last
  // make_SCCS_list(); their table rows are empty and they are never chosen
  // as the best clique.
  std::vector<char> unlisted;
  // Distance between table rows: the piece count of the last
  // make_SCCS_list() (at least 1), the capacity until then.
  int stride = CPD_MAX;
  // A table known to hold zeros but in the cells this module set there
  // (`set_cells`, as offsets), which it then clears cell by cell instead of
  // whole: for 10000 cliques and as many pieces the table is 100 MB.
  char *tracked = nullptr;
  std::vector<std::size_t> set_cells;
};

thread_local Binding bound;

bool is_bound() {
  return bound.cpdmol1 != nullptr && bound.cpdmol2 != nullptr && bound.nodelist != nullptr &&
         bound.mcsnum != nullptr && bound.mcslist != nullptr && bound.sccsnum != nullptr &&
         bound.sccslist != nullptr && bound.mcs_sccs_table != nullptr;
}

// Number of table rows in use: the clique count, within the table's capacity.
int clique_count() {
  return std::clamp(*bound.mcsnum, 0, CPD_MAX);
}

int piece_count() {
  return std::clamp(*bound.sccsnum, 0, CPD_MAX);
}

bool is_tracked() {
  return bound.mcs_sccs_table != nullptr && bound.mcs_sccs_table == bound.tracked;
}

char *table_row(int clique) {
  return bound.mcs_sccs_table + static_cast<std::size_t>(clique) * bound.stride;
}

// Emptied entries (vnum 0) take no part; a malformed entry counts as emptied.
bool has_nodes(const MCS &c) {
  return c.vnum > 0 && c.vlist != nullptr;
}

bool is_unlisted(int clique) {
  return static_cast<std::size_t>(clique) < bound.unlisted.size() && bound.unlisted[clique] != 0;
}

int compare_int(const void *x, const void *y) {
  const int a = *static_cast<const int *>(x);
  const int b = *static_cast<const int *>(y);
  if (a > b) return 1;
  if (a < b) return -1;
  return 0;
}

// Pieces i and j change places, and so do their table columns. Only the
// meaningful prefix of the node arrays is moved. The columns are not moved
// here but in `column`, the table column of the piece now at each position
// (from position `first` on); move_columns() then moves every row once.
void exchange_SCCS(int i, int j, std::vector<int> &column, int first) {
  SCCS &a = bound.sccslist[i];
  SCCS &b = bound.sccslist[j];
  const int used = std::clamp(std::max(a.vnum, b.vnum), 0, CPD_MAX);
  std::swap_ranges(a.vlist, a.vlist + used, b.vlist);
  std::swap(a.vnum, b.vnum);
  std::swap(a.score, b.score);
  std::swap(column[i - first], column[j - first]);
}

// move_columns() on a tracked table: only the cells set move.
void move_cells(const std::vector<int> &column, int first) {
  const int size = static_cast<int>(column.size());
  std::vector<int> to(static_cast<std::size_t>(size));
  for (int k = 0; k < size; k++) to[column[k] - first] = first + k;
  char *table = bound.mcs_sccs_table;
  const std::size_t stride = static_cast<std::size_t>(bound.stride);
  for (std::size_t &at : bound.set_cells) {
    table[at] = 0;
    const int col = static_cast<int>(at % stride);
    if (col >= first && col < first + size) at += to[col - first] - col;
  }
  for (std::size_t at : bound.set_cells) table[at] = 1;
}

// Puts the table column column[k - first] at position k, in every row. The
// moves form cycles; each row follows them, so a row costs one move per
// column that changes place, however often the sort exchanged it.
void move_columns(const std::vector<int> &column, int first) {
  const int size = static_cast<int>(column.size());
  // The cycles one after the other, each closed by -1: the cell at the
  // first position takes the one at the second, and so on; the last takes
  // the first's old cell.
  std::vector<int> cycles;
  std::vector<char> seen(static_cast<std::size_t>(size), 0);
  for (int k = 0; k < size; k++) {
    if (seen[k] || column[k] == first + k) continue;
    for (int at = k; !seen[at]; at = column[at] - first) {
      seen[at] = 1;
      cycles.push_back(first + at);
    }
    cycles.push_back(-1);
  }
  if (cycles.empty()) return;
  if (is_tracked()) return move_cells(column, first);
  const int rows = clique_count();
  for (int m = 0; m < rows; m++) {
    char *row = table_row(m);
    for (std::size_t c = 0; c < cycles.size(); c++) {
      const int head = cycles[c];
      const char kept = row[head];
      int at = head;
      for (; cycles[c + 1] >= 0; c++) {
        row[at] = row[cycles[c + 1]];
        at = cycles[c + 1];
      }
      row[at] = kept;
      c++;  // past the -1
    }
  }
}

double node_score_sum(const int *vlist, int vnum) {
  double sum = 0.0;
  for (int k = 0; k < vnum; k++) sum += bound.nodelist[vlist[k]].score;
  return sum;
}

}  // namespace

void init_cpdgraph(CPDMOL *m1, CPDMOL *m2, DNODE *np, int *cn, MCS *cl, int *sn, SCCS *sl,
                   char *tb) {
  bound.cpdmol1 = m1;
  bound.cpdmol2 = m2;
  bound.nodelist = np;
  bound.mcsnum = cn;
  bound.mcslist = cl;
  bound.sccsnum = sn;
  bound.sccslist = sl;
  bound.mcs_sccs_table = tb;
  bound.unlisted.clear();
  bound.stride = CPD_MAX;
}

void cpdgraph_zeroed_table(char *tb) {
  bound.tracked = tb;
  bound.set_cells.clear();
}

int cpdgraph_table_stride() {
  return bound.stride;
}

void score_MCS_list() {
  if (!is_bound()) return;
  const int num = clique_count();
  const int atoms = bound.cpdmol1->nodenum + bound.cpdmol2->nodenum;
  for (int i = 0; i < num; i++) {
    MCS &c = bound.mcslist[i];
    if (!has_nodes(c)) continue;
    c.score = node_score_sum(c.vlist, c.vnum) + (atoms - 2 * c.vnum);
  }
}

namespace {

// True when every cell of the bond matrix is 0 or 1, as the reader writes it.
bool plain_bonds(const CPDMOL *mol) {
  const std::size_t cells = static_cast<std::size_t>(mol->nodenum) * mol->nodenum;
  return std::all_of(mol->matrix, mol->matrix + cells, [](char c) { return c == 0 || c == 1; });
}

// Bonded atoms of every atom of a compound, for plain bond matrices: those
// of atom a are at[begin[a]] to at[begin[a + 1] - 1].
struct BondLists {
  std::vector<int> begin;
  std::vector<int> at;

  explicit BondLists(const CPDMOL *mol) {
    const int n = mol->nodenum;
    begin.reserve(static_cast<std::size_t>(n) + 1);
    for (int a = 0; a < n; a++) {
      begin.push_back(static_cast<int>(at.size()));
      const char *row = mol->matrix + static_cast<std::size_t>(a) * n;
      for (int b = 0; b < n; b++)
        if (b != a && row[b] != 0) at.push_back(b);
    }
    begin.push_back(static_cast<int>(at.size()));
  }
  BondLists() = default;
  std::span<const int> of(int a) const { return {at.data() + begin[a], at.data() + begin[a + 1]}; }
};

// The connected pieces of one clique, each as its nodes in ascending order,
// pieces in order of their lowest position. Two positions are linked when
// both of their atom pairs are bonded; a piece is a connected part.
class PieceFinder {
 public:
  PieceFinder(const CPDMOL *m1, const CPDMOL *m2, const DNODE *nodes)
      : m1_(m1), m2_(m2), nodes_(nodes) {
    // With plain bond matrices the links of a position are found from the
    // first compound's bonds of its atom: a few look-ups per node instead of
    // a test of every pair of positions and a closure of the whole matrix.
    if (plain_bonds(m1) && plain_bonds(m2)) {
      bonds1_ = BondLists(m1);
      position_.assign(m1->nodenum, -1);
      plain_ = true;
    }
  }

  // True when the bond matrices hold only 0 and 1; bonds1() is then the
  // first compound's bonds.
  bool plain() const { return plain_; }
  const BondLists &bonds1() const { return bonds1_; }

  // Fills nodes (pieces one after the other) and begin (start of each piece,
  // then the end); false when the work matrix cannot be had.
  bool run(const MCS &c, std::vector<int> &nodes, std::vector<int> &begin) {
    nodes.clear();
    begin.clear();
    return plain_ ? by_bonds(c, nodes, begin) : by_matrix(c, nodes, begin);
  }

 private:
  int root(int x) {
    while (parent_[x] != x) x = parent_[x] = parent_[parent_[x]];
    return x;
  }

  bool by_bonds(const MCS &c, std::vector<int> &nodes, std::vector<int> &begin) {
    const int n = c.vnum;
    const DNODE *list = nodes_;
    const std::size_t n2 = static_cast<std::size_t>(m2_->nodenum);
    for (int j = 0; j < n; j++) position_[list[c.vlist[j]].e1] = j;
    parent_.resize(n);
    std::iota(parent_.begin(), parent_.end(), 0);
    for (int j = 0; j < n; j++) {
      const DNODE &u = list[c.vlist[j]];
      for (const int a : bonds1_.of(u.e1)) {
        const int k = position_[a];
        if (k <= j) continue;
        const DNODE &w = list[c.vlist[k]];
        if (m2_->matrix[static_cast<std::size_t>(u.e2) * n2 + w.e2] != 1) continue;
        const int x = root(j), y = root(k);
        if (x != y) parent_[std::max(x, y)] = std::min(x, y);
      }
    }
    for (int j = 0; j < n; j++) position_[list[c.vlist[j]].e1] = -1;
    // Roots are the lowest positions of their parts; node lists are ascending,
    // so each piece comes out ascending too.
    piece_of_.resize(n);
    int pieces = 0;
    for (int j = 0; j < n; j++) {
      const int r = root(j);
      piece_of_[j] = r == j ? pieces++ : piece_of_[r];
    }
    begin.assign(pieces + 1, 0);
    for (int j = 0; j < n; j++) ++begin[piece_of_[j] + 1];
    for (int p = 0; p < pieces; p++) begin[p + 1] += begin[p];
    nodes.resize(n);
    fill_.assign(begin.begin(), begin.end() - 1);
    for (int j = 0; j < n; j++) nodes[fill_[piece_of_[j]]++] = c.vlist[j];
    return true;
  }

  bool by_matrix(const MCS &c, std::vector<int> &nodes, std::vector<int> &begin) {
    const std::size_t sn = static_cast<std::size_t>(c.vnum);
    const std::size_t n1 = static_cast<std::size_t>(m1_->nodenum);
    const std::size_t n2 = static_cast<std::size_t>(m2_->nodenum);
    try {
      work_.resize(sn * sn);
    } catch (const std::bad_alloc &) {
      return false;
    }
    // Direct links: both atom pairs bonded.
    for (std::size_t j = 0; j < sn; j++) {
      work_[j * sn + j] = 1;
      const DNODE &u = nodes_[c.vlist[j]];
      for (std::size_t k = j + 1; k < sn; k++) {
        const DNODE &w = nodes_[c.vlist[k]];
        const int both = m1_->matrix[static_cast<std::size_t>(u.e1) * n1 + w.e1] +
                         m2_->matrix[static_cast<std::size_t>(u.e2) * n2 + w.e2];
        const char link = both == 2 ? 1 : 0;
        work_[j * sn + k] = link;
        work_[k * sn + j] = link;
      }
    }
    SingleLinkageClustering(c.vnum, work_.data());

    // Each still-set diagonal cell is the lowest position of a piece not yet
    // taken; clearing the diagonal of its members takes them.
    for (std::size_t j = 0; j < sn; j++) {
      if (work_[j * sn + j] != 1) continue;
      const std::size_t first = nodes.size();
      begin.push_back(static_cast<int>(first));
      for (std::size_t k = j; k < sn; k++) {
        if (work_[j * sn + k] != 1) continue;
        nodes.push_back(c.vlist[k]);
        work_[k * sn + k] = 0;
      }
      std::qsort(nodes.data() + first, nodes.size() - first, sizeof(int), compare_int);
    }
    begin.push_back(static_cast<int>(nodes.size()));
    return true;
  }

  const CPDMOL *m1_;
  const CPDMOL *m2_;
  const DNODE *nodes_;
  bool plain_ = false;
  BondLists bonds1_;
  std::vector<int> position_;  // position in the clique of each first-compound atom, or -1
  std::vector<int> parent_;
  std::vector<int> piece_of_;
  std::vector<int> fill_;
  std::vector<char> work_;
};

// Listed pieces by content, so that looking a piece up does not compare it
// with every piece listed before it. One-node pieces, the most common, are
// found by their node; longer ones through an open-addressed table of hashes
// that keeps its own copy of each piece's nodes, side by side, rather than
// reading the list's records (each on its own pages). The list holds no
// piece twice, so the one equal piece found is the one search_SCCS would find.
class PieceIndex {
 public:
  static std::uint64_t hash(const int *v, int n) {
    std::uint64_t h = 1469598103934665603ull ^ static_cast<std::uint64_t>(n);
    for (int k = 0; k < n; k++) h = (h ^ static_cast<std::uint32_t>(v[k])) * 1099511628211ull;
    return h ^ (h >> 29);
  }
  // The list position of the piece with nodes v[0..n-1], or -1; h is its
  // hash when n > 1.
  int find(const int *v, int n, std::uint64_t h) const {
    if (n == 1) {
      const auto node = static_cast<std::size_t>(v[0]);
      return node < single_.size() ? single_[node] : -1;
    }
    for (std::size_t i = h & mask_;; i = (i + 1) & mask_) {
      const Slot &s = slots_[i];
      if (s.pos < 0) return -1;
      if (s.hash != h) continue;
      const int *p = nodes_.data() + s.at;
      if (p[0] == n && std::equal(v, v + n, p + 1)) return s.pos;
    }
  }
  void add(const int *v, int n, std::uint64_t h, int pos) {
    if (n == 1) {
      const auto node = static_cast<std::size_t>(v[0]);
      if (node >= single_.size()) single_.resize(node + 1, -1);
      single_[node] = pos;
      return;
    }
    // At most half full, so that a search ends soon at an empty slot.
    if (2 * (used_ + 1) > slots_.size()) {
      std::vector<Slot> old(2 * slots_.size(), Slot{});
      old.swap(slots_);
      mask_ = slots_.size() - 1;
      for (const Slot &s : old)
        if (s.pos >= 0) place(s);
    }
    place({h, pos, static_cast<int>(nodes_.size())});
    nodes_.push_back(n);
    nodes_.insert(nodes_.end(), v, v + n);
    ++used_;
  }

 private:
  struct Slot {
    std::uint64_t hash = 0;
    int pos = -1;  // -1: empty
    int at = 0;    // the piece in nodes_: its node count, then its nodes
  };
  void place(const Slot &s) {
    std::size_t i = s.hash & mask_;
    while (slots_[i].pos >= 0) i = (i + 1) & mask_;
    slots_[i] = s;
  }

  std::vector<int> single_;  // list position of the one-node piece of each node, or -1
  std::vector<Slot> slots_ = std::vector<Slot>(64);
  std::size_t mask_ = 63;
  std::size_t used_ = 0;
  std::vector<int> nodes_;
};

// The pieces found for one clique: each piece's nodes are nodes[at] to
// nodes[at + len - 1]; pos is its list position, or -1 while it is new.
// New pieces are listed in the order of `order`.
struct CliquePieces {
  struct Piece {
    int order;
    int pos;
    int at;
    int len;
    std::uint64_t hash;
  };
  std::vector<Piece> pieces;
  std::vector<int> nodes;

  void clear() {
    pieces.clear();
    nodes.clear();
  }
  // Looks the piece of the last len nodes up and adds it.
  void add(const PieceIndex &index, int order, int len) {
    const int at = static_cast<int>(nodes.size()) - len;
    const int *v = nodes.data() + at;
    const std::uint64_t h = len > 1 ? PieceIndex::hash(v, len) : 0;
    pieces.push_back({order, index.find(v, len, h), at, len, h});
  }
};

// Pieces shared between cliques. The links of all cliques' nodes (pairs
// bonded in both compounds) split those nodes into parts that no link
// crosses, and a clique's pieces within one part depend only on which of
// the part's nodes it holds. The cliques of a pair share most of their
// nodes, so the pieces of each (part, nodes held) are worked out once and
// looked up after; a part of one node is a piece of its own.
//
// A link between nodes u < w is what PieceFinder::by_bonds() finds between
// their positions: w's first-compound atom among the bonds of u's, and a 1
// in the second compound's cell of u's and w's atoms. That holds for
// cliques whose nodes ascend and have distinct first-compound atoms; other
// cliques, and those reaching into a part of more than 64 nodes, are left
// to PieceFinder.
class SharedParts {
 public:
  SharedParts(const CPDMOL *m2, const BondLists &bonds1, int num) {
    const int span = collect_nodes(num);
    if (span <= 0) return;
    AtomRuns runs;
    if (!atom_runs(bonds1, runs)) return;
    std::vector<std::pair<int, int>> links;
    std::vector<int> parent = join_links(m2, bonds1, runs, links);
    number_parts(parent, span);
    link_bits(links);
    held_.assign(parts_.size(), 0);
    ready_ = true;
  }

  // Finds the pieces of clique c into the empty out, in any order, each with
  // its lowest node as its `order`; false, leaving out empty, when c is left
  // to PieceFinder.
  bool find(const MCS &c, const PieceIndex &index, CliquePieces &out) {
    if (!ready_) return false;
    touched_.clear();
    int last_node = -1;
    int last_atom = -1;
    bool ok = true;
    for (int j = 0; j < c.vnum; j++) {
      const int v = c.vlist[j];
      const Info &f = info_[v];
      ok = v > last_node && f.atom != last_atom && f.bit < 64;
      if (!ok) break;
      last_node = v;
      last_atom = f.atom;
      if (f.alone) {
        out.nodes.push_back(v);
        out.add(index, v, 1);
        continue;
      }
      if (held_[f.part] == 0) touched_.push_back(f.part);
      held_[f.part] |= std::uint64_t{1} << f.bit;
    }
    if (ok) {
      pending_.clear();
      for (const int p : touched_) add(p, held_[p], index, out);
    } else {
      out.clear();
    }
    for (const int p : touched_) held_[p] = 0;
    return ok;
  }

  // Remembers the pieces worked out by the last find(), once every piece of
  // its clique has its list position.
  void keep(const CliquePieces &found) {
    for (const Pending &w : pending_) {
      const int at = static_cast<int>(known_.size());
      for (int k = w.first; k < w.end; k++) known_.push_back(found.pieces[k].pos);
      memo_.add(w.part, w.held, at, w.end - w.first);
    }
  }

 private:
  struct Info {
    int part = 0;
    int bit = 0;         // the node's number within its part, 64 in a part of more nodes
    int atom = 0;        // its first-compound atom
    bool alone = false;  // the part's only node
  };
  struct Part {
    int at;    // its nodes start at part_nodes_[at] and its links at link_[at]
    int size;  // its node count
  };
  struct Pending {
    int part;
    std::uint64_t held;
    int first, end;  // its pieces in the clique's found pieces
  };

  // The positions in nodes_ of the nodes of each first-compound atom a:
  // first[a] to last[a], both -1 for an atom without nodes.
  struct AtomRuns {
    std::vector<int> first;
    std::vector<int> last;
  };

  // Union-find root of x, halving the path on the way.
  static int root(std::vector<int> &parent, int x) {
    while (parent[x] != x) x = parent[x] = parent[parent[x]];
    return x;
  }

  // The nodes of all cliques into nodes_, ascending. Returns one more than
  // the highest node (0 when there is none), or -1 for a node number out of
  // range, leaving nodes_ empty.
  int collect_nodes(int num) {
    std::vector<char> seen;
    for (int i = 0; i < num; i++) {
      const MCS &c = bound.mcslist[i];
      if (!has_nodes(c) || c.vnum > CPD_MAX) continue;
      for (int j = 0; j < c.vnum; j++) {
        const int v = c.vlist[j];
        if (v < 0 || v >= CPD_MAX) return -1;
        if (static_cast<std::size_t>(v) >= seen.size()) seen.resize(v + 1, 0);
        seen[v] = 1;
      }
    }
    const int span = static_cast<int>(seen.size());
    for (int v = 0; v < span; v++)
      if (seen[v]) nodes_.push_back(v);
    return span;
  }

  // The nodes' first-compound atoms must not descend, so that a clique's
  // nodes with one atom stand next to each other; runs of one atom then give
  // the nodes of each atom. False when they descend or leave the compound.
  bool atom_runs(const BondLists &bonds1, AtomRuns &runs) const {
    const DNODE *list = bound.nodelist;
    runs.first.assign(bonds1.begin.size(), -1);
    runs.last.assign(runs.first.size(), -1);
    for (int x = 0; x < static_cast<int>(nodes_.size()); x++) {
      const int a = list[nodes_[x]].e1;
      if (a < 0 || a + 1 >= static_cast<int>(runs.first.size())) return false;
      if (x > 0 && a < list[nodes_[x - 1]].e1) return false;
      if (runs.first[a] < 0) runs.first[a] = x;
      runs.last[a] = x;
    }
    return true;
  }

  // The links between positions x < y of nodes_ (pairs bonded in both
  // compounds), and the union-find forest they make, each part's root its
  // lowest position.
  std::vector<int> join_links(const CPDMOL *m2, const BondLists &bonds1, const AtomRuns &runs,
                              std::vector<std::pair<int, int>> &links) const {
    const DNODE *list = bound.nodelist;
    const int count = static_cast<int>(nodes_.size());
    std::vector<int> parent(count);
    std::iota(parent.begin(), parent.end(), 0);
    const std::size_t n2 = static_cast<std::size_t>(m2->nodenum);
    for (int x = 0; x < count; x++) {
      const DNODE &u = list[nodes_[x]];
      const char *row2 = m2->matrix + static_cast<std::size_t>(u.e2) * n2;
      for (const int a : bonds1.of(u.e1)) {
        if (runs.first[a] < 0) continue;
        for (int y = std::max(runs.first[a], x + 1); y <= runs.last[a]; y++) {
          if (row2[list[nodes_[y]].e2] != 1) continue;
          links.emplace_back(x, y);
          const int p = root(parent, x), q = root(parent, y);
          if (p != q) parent[std::max(p, q)] = std::min(p, q);
        }
      }
    }
    return parent;
  }

  // Parts numbered by their lowest node; within a part, nodes numbered from
  // 0 in ascending order, so that bits read in order give nodes ascending.
  // Fills info_ (for nodes below span), parts_ and part_nodes_.
  void number_parts(std::vector<int> &parent, int span) {
    const DNODE *list = bound.nodelist;
    const int count = static_cast<int>(nodes_.size());
    info_.assign(static_cast<std::size_t>(span), Info{});
    std::vector<int> part_of(count);
    for (int x = 0; x < count; x++) {
      const int r = root(parent, x);
      if (r == x) {
        part_of[x] = static_cast<int>(parts_.size());
        parts_.push_back({0, 0});
      } else {
        part_of[x] = part_of[r];
      }
      Part &p = parts_[part_of[x]];
      info_[nodes_[x]] = {part_of[x], p.size++, list[nodes_[x]].e1};
    }
    for (std::size_t p = 0, at = 0; p < parts_.size(); p++) {
      parts_[p].at = static_cast<int>(at);
      at += parts_[p].size;
    }
    // part_nodes_: the nodes of each part, in part order.
    part_nodes_.resize(count);
    for (int x = 0; x < count; x++) {
      const Info &f = info_[nodes_[x]];
      part_nodes_[parts_[f.part].at + f.bit] = nodes_[x];
    }
  }

  // The links as bits within each part of up to 64 nodes; the nodes of
  // larger parts are marked as left to PieceFinder.
  void link_bits(const std::vector<std::pair<int, int>> &links) {
    link_.assign(nodes_.size(), 0);
    for (const auto &[x, y] : links) {
      const Info &f = info_[nodes_[x]];
      const Info &g = info_[nodes_[y]];
      if (parts_[f.part].size > 64) continue;
      link_[parts_[f.part].at + f.bit] |= std::uint64_t{1} << g.bit;
      link_[parts_[g.part].at + g.bit] |= std::uint64_t{1} << f.bit;
    }
    for (const int v : nodes_) {
      if (parts_[info_[v].part].size > 64) info_[v].bit = 64;
      info_[v].alone = parts_[info_[v].part].size == 1;
    }
  }

  // The pieces of the nodes `held` of part p.
  void add(int p, std::uint64_t held, const PieceIndex &index, CliquePieces &out) {
    const int *nodes = part_nodes_.data() + parts_[p].at;
    if ((held & (held - 1)) == 0) {
      const int v = nodes[std::countr_zero(held)];
      out.nodes.push_back(v);
      out.add(index, v, 1);
      return;
    }
    int at = 0;
    int len = 0;
    if (memo_.find(p, held, at, len)) {
      for (int k = at; k < at + len; k++) out.pieces.push_back({0, known_[k], 0, 0, 0});
      return;
    }
    const std::uint64_t *link = link_.data() + parts_[p].at;
    const int first = static_cast<int>(out.pieces.size());
    // Each piece starts at the lowest node not yet taken.
    while (held != 0) {
      std::uint64_t piece = held & -held;
      std::uint64_t todo = piece;  // members whose links are not yet taken in
      while (todo != 0) {
        const int b = std::countr_zero(todo);
        todo &= todo - 1;
        const std::uint64_t fresh = link[b] & held & ~piece;
        piece |= fresh;
        todo |= fresh;
      }
      held &= ~piece;
      const int lowest = nodes[std::countr_zero(piece)];
      int len_piece = 0;
      for (; piece != 0; piece &= piece - 1, len_piece++)
        out.nodes.push_back(nodes[std::countr_zero(piece)]);
      out.add(index, lowest, len_piece);
    }
    pending_.push_back({p, held_[p], first, static_cast<int>(out.pieces.size())});
  }

  // List positions of the pieces of each (part, nodes held) worked out so
  // far: an open-addressed table of keys and runs of known_.
  class Memo {
   public:
    bool find(int part, std::uint64_t held, int &at, int &len) const {
      for (std::size_t i = slot(part, held);; i = (i + 1) & mask_) {
        const Entry &e = entries_[i];
        if (e.len < 0) return false;
        if (e.part == part && e.held == held) {
          at = e.at;
          len = e.len;
          return true;
        }
      }
    }
    void add(int part, std::uint64_t held, int at, int len) {
      if (2 * (used_ + 1) > entries_.size()) {
        std::vector<Entry> old(2 * entries_.size(), Entry{});
        old.swap(entries_);
        mask_ = entries_.size() - 1;
        for (const Entry &e : old)
          if (e.len >= 0) place(e);
      }
      place({held, part, at, len});
      ++used_;
    }

   private:
    struct Entry {
      std::uint64_t held = 0;
      int part = 0;
      int at = 0;
      int len = -1;  // -1: empty
    };
    std::size_t slot(int part, std::uint64_t held) const {
      std::uint64_t h = (held ^ (static_cast<std::uint64_t>(part) << 32)) * 0x9e3779b97f4a7c15ull;
      return static_cast<std::size_t>(h >> 32) & mask_;
    }
    void place(const Entry &e) {
      std::size_t i = slot(e.part, e.held);
      while (entries_[i].len >= 0) i = (i + 1) & mask_;
      entries_[i] = e;
    }
    std::vector<Entry> entries_ = std::vector<Entry>(64);
    std::size_t mask_ = 63;
    std::size_t used_ = 0;
  };

  bool ready_ = false;
  std::vector<int> nodes_;  // the nodes of all cliques, ascending
  std::vector<Info> info_;  // per docking node
  std::vector<Part> parts_;
  std::vector<int> part_nodes_;
  std::vector<std::uint64_t> link_;  // per node of a part: its linked nodes, as bits
  std::vector<std::uint64_t> held_;  // per part: the nodes the current clique holds
  std::vector<int> touched_;         // the parts the current clique reaches
  std::vector<Pending> pending_;
  std::vector<int> known_;
  Memo memo_;
};

// Lists the pieces of the bound cliques, one clique at a time. Every piece
// of a clique is looked up before any is stored: the pieces of one clique
// are disjoint, so none of them can match another of the same clique.
class PieceLister {
 public:
  explicit PieceLister(int num) : finder_(bound.cpdmol1, bound.cpdmol2, bound.nodelist) {
    // Sharing pays once there are enough cliques to share among.
    if (finder_.plain() && num >= 16)
      shared_ = std::make_unique<SharedParts>(bound.cpdmol2, finder_.bonds1(), num);
  }

  // Lists the pieces of clique c and appends their list positions to
  // `member`; false, appending nothing, when the clique stays unlisted.
  bool list(const MCS &c, std::vector<int> &member) {
    found_.clear();
    const bool from_shared = shared_ != nullptr && shared_->find(c, index_, found_);
    if (!from_shared && !find_alone(c)) return false;
    if (!store_fresh()) return false;
    if (from_shared) shared_->keep(found_);
    for (const CliquePieces::Piece &f : found_.pieces) member.push_back(f.pos);
    return true;
  }

 private:
  // The pieces of c worked out on their own, looked up into found_; false
  // when the work matrix cannot be had.
  bool find_alone(const MCS &c) {
    if (!finder_.run(c, piece_nodes_, piece_begin_)) return false;
    const int pieces = static_cast<int>(piece_begin_.size()) - 1;
    for (int p = 0; p < pieces; p++) {
      found_.nodes.insert(found_.nodes.end(), piece_nodes_.begin() + piece_begin_[p],
                          piece_nodes_.begin() + piece_begin_[p + 1]);
      found_.add(index_, p, piece_begin_[p + 1] - piece_begin_[p]);
    }
    return true;
  }

  // Appends the pieces of found_ that are not listed yet, by their lowest
  // position in the clique. A clique is listed whole or not at all, so that
  // a row always holds all of its clique's nodes: false, listing none, when
  // they do not all fit.
  bool store_fresh() {
    fresh_.clear();
    for (int p = 0; p < static_cast<int>(found_.pieces.size()); p++)
      if (found_.pieces[p].pos < 0) fresh_.push_back(p);
    if (*bound.sccsnum + static_cast<int>(fresh_.size()) > CPD_MAX) return false;
    std::sort(fresh_.begin(), fresh_.end(),
              [this](int a, int b) { return found_.pieces[a].order < found_.pieces[b].order; });
    for (const int p : fresh_) {
      CliquePieces::Piece &f = found_.pieces[p];
      SCCS &s = bound.sccslist[*bound.sccsnum];
      s.vnum = f.len;
      std::copy(found_.nodes.begin() + f.at, found_.nodes.begin() + f.at + f.len, s.vlist);
      s.score = 0.0;
      f.pos = (*bound.sccsnum)++;
      index_.add(s.vlist, s.vnum, f.hash, f.pos);
    }
    return true;
  }

  PieceFinder finder_;
  PieceIndex index_;
  std::unique_ptr<SharedParts> shared_;
  CliquePieces found_;
  std::vector<int> piece_nodes_;  // the clique's pieces, one after the other
  std::vector<int> piece_begin_;  // start of each piece in piece_nodes_
  std::vector<int> fresh_;        // the new pieces of a clique, in listing order
};

// Writes the membership table with rows as long as the piece count: the
// pieces of clique i are member[member_end[i - 1]] to member[member_end[i] - 1].
void write_table(int num, const std::vector<int> &member, const std::vector<int> &member_end) {
  bound.stride = std::max(*bound.sccsnum, 1);
  const bool tracked = is_tracked();
  if (tracked) {
    for (std::size_t at : bound.set_cells) bound.mcs_sccs_table[at] = 0;
    bound.set_cells.clear();
  } else {
    std::memset(bound.mcs_sccs_table, 0, static_cast<std::size_t>(num) * bound.stride);
  }
  for (int i = 0, k = 0; i < num; i++) {
    const std::size_t row = static_cast<std::size_t>(i) * bound.stride;
    for (; k < member_end[i]; k++) {
      bound.mcs_sccs_table[row + member[k]] = 1;
      if (tracked) bound.set_cells.push_back(row + member[k]);
    }
  }
}

}  // namespace

void make_SCCS_list() {
  if (!is_bound()) return;
  *bound.sccsnum = 0;
  const int num = clique_count();
  bound.unlisted.assign(num, 0);

  PieceLister lister(num);
  // The list positions of every clique's pieces, clique after clique: the
  // rows are written once the piece count, their length, is known.
  std::vector<int> member;
  std::vector<int> member_end(static_cast<std::size_t>(num), 0);
  for (int i = 0; i < num; i++) {
    const MCS &c = bound.mcslist[i];
    member_end[i] = static_cast<int>(member.size());
    if (!has_nodes(c)) continue;
    if (c.vnum > CPD_MAX || !lister.list(c, member)) {
      bound.unlisted[i] = 1;
      continue;
    }
    member_end[i] = static_cast<int>(member.size());
  }
  write_table(num, member, member_end);
}

void score_SCCS_list() {
  if (!is_bound()) return;
  const int num = piece_count();
  for (int s = 0; s < num; s++) {
    SCCS &p = bound.sccslist[s];
    p.score = node_score_sum(p.vlist, std::clamp(p.vnum, 0, CPD_MAX));
  }
}

namespace {

// The quicksort of sort_SCCS_list() on pieces start..end, recording the
// column moves in `column` (see exchange_SCCS).
void sort_pieces(int start, int end, std::vector<int> &column, int first) {
  if (end - start <= 0) return;
  const SCCS *list = bound.sccslist;

  bool ordered = true;
  for (int k = start; k < end; k++) {
    if (list[k].score < list[k + 1].score) {
      ordered = false;
      break;
    }
  }
  if (ordered) return;

  const double p = (list[start].score + list[end].score) * 0.5;
  int i = start;
  int j = end;
  for (;;) {
    while (i < end && list[i].score >= p) i++;
    if (i >= j) break;
    bool crossed = false;
    while (list[j].score < p) {
      j--;
      if (i >= j) {
        crossed = true;
        break;
      }
    }
    if (crossed) break;
    exchange_SCCS(i, j, column, first);
  }
  sort_pieces(start, i - 1, column, first);
  sort_pieces(i, end, column, first);
}

}  // namespace

void sort_SCCS_list(int start, int end) {
  if (!is_bound()) return;
  if (end - start <= 0) return;
  if (start < 0 || end >= piece_count()) return;
  std::vector<int> column(static_cast<std::size_t>(end - start + 1));
  std::iota(column.begin(), column.end(), start);
  sort_pieces(start, end, column, start);
  move_columns(column, start);
}

void get_maxMCSinfo(int *ri, MCS **rm, SCCS **rs, char **rt, DNODE **rn) {
  int best = -1;
  if (is_bound()) {
    const int num = clique_count();
    const int pieces = piece_count();
    for (int i = 0; i < num; i++) {
      if (!has_nodes(bound.mcslist[i]) || is_unlisted(i)) continue;
      if (best == -1) {
        best = i;
      } else if (bound.mcslist[i].score > bound.mcslist[best].score) {
        best = i;
      } else if (bound.mcslist[i].score == bound.mcslist[best].score) {
        // Equal scores: the clique holding the higher-ranked piece that the
        // other lacks wins; identical rows keep the earlier clique.
        const char *rb = table_row(best);
        const char *rc = table_row(i);
        for (int s = 0; s < std::min(pieces, bound.stride); s++) {
          if (rb[s] != rc[s]) {
            if (rc[s] != 0) best = i;
            break;
          }
        }
      }
    }
  }
  if (ri != nullptr) *ri = best;
  if (rm != nullptr) *rm = best >= 0 ? &bound.mcslist[best] : nullptr;
  if (rs != nullptr) *rs = bound.sccslist;
  if (rt != nullptr) *rt = bound.mcs_sccs_table;
  if (rn != nullptr) *rn = bound.nodelist;
}

struct PieceTally::Impl {
  Impl(const CPDMOL *m1, const CPDMOL *m2, const DNODE *nodes_in)
      : finder(m1, m2, nodes_in), nodes(nodes_in) {}

  // The new pieces of the clique last split, or -1 when it cannot be split.
  int fresh(std::span<const int> clique) {
    if (!split_into(clique)) return -1;
    int count = 0;
    hashes.resize(piece.score.size());
    for (int p = 0; p < piece.count(); p++) {
      const int *v = piece.nodes.data() + piece.begin[p];
      const int len = piece.begin[p + 1] - piece.begin[p];
      hashes[p] = len > 1 ? PieceIndex::hash(v, len) : 0;
      if (index.find(v, len, hashes[p]) < 0) ++count;
    }
    return count;
  }
  bool split_into(std::span<const int> clique) {
    piece.score.clear();
    if (clique.empty() || clique.size() > static_cast<std::size_t>(CPD_MAX)) return false;
    const MCS c{static_cast<int>(clique.size()), const_cast<int *>(clique.data()), 0.0};
    if (!finder.run(c, piece.nodes, piece.begin)) return false;
    for (std::size_t p = 0; p + 1 < piece.begin.size(); p++) {
      double sum = 0.0;
      for (int k = piece.begin[p]; k < piece.begin[p + 1]; k++) sum += nodes[piece.nodes[k]].score;
      piece.score.push_back(sum);
    }
    return true;
  }

  PieceFinder finder;
  const DNODE *nodes;
  PieceIndex index;
  int listed = 0;
  Split piece;
  std::vector<std::uint64_t> hashes;
};

PieceTally::PieceTally(const CPDMOL *m1, const CPDMOL *m2, const DNODE *nodes)
    : impl_(std::make_unique<Impl>(m1, m2, nodes)) {}

PieceTally::~PieceTally() = default;

const PieceTally::Split &PieceTally::split(std::span<const int> clique) {
  impl_->split_into(clique);
  return impl_->piece;
}

bool PieceTally::changes(std::span<const int> clique) {
  const int fresh = impl_->fresh(clique);
  return fresh > 0 && impl_->listed + fresh <= CPD_MAX;
}

void PieceTally::add(std::span<const int> clique) {
  Impl &m = *impl_;
  const int fresh = m.fresh(clique);
  if (fresh <= 0 || m.listed + fresh > CPD_MAX) return;
  // Pieces come in order of their lowest position, the order make_SCCS_list
  // lists a clique's new pieces in.
  for (int p = 0; p < m.piece.count(); p++) {
    const int *v = m.piece.nodes.data() + m.piece.begin[p];
    const int len = m.piece.begin[p + 1] - m.piece.begin[p];
    if (m.index.find(v, len, m.hashes[p]) < 0) m.index.add(v, len, m.hashes[p], m.listed++);
  }
}
