#include "maxclique.h"

#include "bitcount.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <utility>

namespace maxclique {

namespace {

using Word = std::uint64_t;

constexpr Word bit(int v) {
  return Word{1} << (v & 63);
}

// Core numbers and the order in which peeling removes the nodes (smallest
// degree first), by the bucket method: linear in nodes plus edges.
struct Cores {
  std::vector<int> order;
  std::vector<int> core;
  int max_core = 0;
};

Cores degeneracy(const DockBits &g) {
  const int n = g.n;
  std::vector<int> deg(n);
  int top = 0;
  for (int v = 0; v < n; ++v) {
    int d = 0;
    for (int k = 0; k < g.words; ++k) d += bitcount(g.row(v)[k]);
    deg[v] = d;
    top = std::max(top, d);
  }
  // bin[d]: first position of degree d in vert, kept as degrees fall.
  std::vector<int> bin(top + 1, 0), pos(n), vert(n);
  for (int v = 0; v < n; ++v) ++bin[deg[v]];
  for (int d = 0, start = 0; d <= top; ++d) start += std::exchange(bin[d], start);
  for (int v = 0; v < n; ++v) {
    pos[v] = bin[deg[v]]++;
    vert[pos[v]] = v;
  }
  for (int d = top; d > 0; --d) bin[d] = bin[d - 1];
  bin[0] = 0;
  for (int i = 0; i < n; ++i) {
    const int v = vert[i];
    const Word *row = g.row(v);
    for (int k = 0; k < g.words; ++k) {
      for (Word x = row[k]; x != 0; x &= x - 1) {
        const int u = (k << 6) + std::countr_zero(x);
        if (deg[u] <= deg[v]) continue;
        const int du = deg[u], pu = pos[u], pw = bin[du], w = vert[pw];
        if (u != w) {
          std::swap(vert[pu], vert[pw]);
          pos[u] = pw;
          pos[w] = pu;
        }
        ++bin[du];
        --deg[u];
      }
    }
  }
  Cores c{std::move(vert), std::move(deg), 0};
  for (int d : c.core) c.max_core = std::max(c.max_core, d);
  return c;
}

// A clique grown from `start` by always taking the candidate with the most
// neighbours among the candidates (the lowest such node on ties).
std::vector<int> greedy_from(const DockBits &g, int start) {
  const int words = g.words;
  std::vector<Word> cand(g.row(start), g.row(start) + words);
  std::vector<int> clique{start};
  for (;;) {
    int pick = -1, most = -1;
    for (int k = 0; k < words; ++k) {
      for (Word x = cand[k]; x != 0; x &= x - 1) {
        const int u = (k << 6) + std::countr_zero(x);
        const Word *row = g.row(u);
        int d = 0;
        for (int j = 0; j < words; ++j) d += bitcount(row[j] & cand[j]);
        if (d > most) {
          most = d;
          pick = u;
        }
      }
    }
    if (pick < 0) break;
    clique.push_back(pick);
    const Word *row = g.row(pick);
    for (int j = 0; j < words; ++j) cand[j] &= row[j];
  }
  std::sort(clique.begin(), clique.end());
  return clique;
}

// The largest greedy clique from the `starts` nodes of highest core.
std::vector<int> greedy_clique(const DockBits &g, const Cores &cores, int starts) {
  std::vector<int> best;
  const int n = g.n;
  for (int s = 0; s < std::min(starts, n); ++s) {
    std::vector<int> c = greedy_from(g, cores.order[n - 1 - s]);
    if (c.size() > best.size()) best = std::move(c);
  }
  return best;
}

// A clique pairs every atom of either compound at most once, so it is a
// matching of the bipartite graph whose edges are its candidates (first
// compound atom, second compound atom): the largest such matching bounds the
// clique. On candidates that are whole products of atom classes this is the
// sum over classes of the smaller side.
class AtomMatching {
 public:
  void init(std::span<const int> side1, std::span<const int> side2, const std::vector<int> &keep);
  bool active() const { return !a_.empty(); }
  // The largest matching of the candidates in p, or any value of at least
  // `target` once one that large is found.
  int bound(const Word *p, int lo, int hi, int target);
  // After bound(): the first-compound atom with the fewest candidates.
  int narrowest() const;
  // The search nodes of each first-compound atom.
  const Word *nodes_of(int a) const { return nodes_.data() + static_cast<std::size_t>(a) * words_; }

 private:
  bool augment(int u);

  std::vector<int> a_, b_;  // per search node: its atoms, numbered compactly
  int nb_ = 0;
  int wb_ = 0;
  std::vector<Word> adj_;  // per first-compound atom: the second-compound atoms it may pair with
  std::vector<int> present_;
  std::vector<int> mate_a_, mate_b_;
  std::vector<Word> right_, visited_;
  int words_ = 0;
  std::vector<Word> nodes_;
};

int AtomMatching::narrowest() const {
  int best = -1, fewest = 0;
  for (int u : present_) {
    int d = 0;
    for (int k = 0; k < wb_; ++k) d += bitcount(adj_[static_cast<std::size_t>(u) * wb_ + k]);
    if (best < 0 || d < fewest) {
      best = u;
      fewest = d;
    }
  }
  return best;
}

void AtomMatching::init(std::span<const int> side1, std::span<const int> side2,
                        const std::vector<int> &keep) {
  auto compact = [&keep](std::span<const int> side, std::vector<int> &out) {
    std::vector<int> ids;
    for (int v : keep) ids.push_back(side[v]);
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    for (int v : keep)
      out.push_back(
          static_cast<int>(std::lower_bound(ids.begin(), ids.end(), side[v]) - ids.begin()));
    return static_cast<int>(ids.size());
  };
  const int na = compact(side1, a_);
  nb_ = compact(side2, b_);
  wb_ = (nb_ + 63) / 64;
  adj_.assign(static_cast<std::size_t>(na) * wb_, 0);
  mate_a_.assign(na, -1);
  mate_b_.assign(nb_, -1);
  right_.assign(wb_, 0);
  visited_.assign(wb_, 0);
  words_ = (static_cast<int>(keep.size()) + 63) / 64;
  nodes_.assign(static_cast<std::size_t>(na) * words_, 0);
  for (std::size_t i = 0; i < keep.size(); ++i)
    nodes_[static_cast<std::size_t>(a_[i]) * words_ + (i >> 6)] |= bit(static_cast<int>(i));
}

bool AtomMatching::augment(int u) {
  const Word *row = adj_.data() + static_cast<std::size_t>(u) * wb_;
  for (int k = 0; k < wb_; ++k) {
    for (Word x = row[k] & ~visited_[k]; x != 0; x &= x - 1) {
      const int b = (k << 6) + std::countr_zero(x);
      visited_[k] |= bit(b);
      if (mate_b_[b] < 0 || augment(mate_b_[b])) {
        mate_b_[b] = u;
        mate_a_[u] = b;
        return true;
      }
    }
  }
  return false;
}

int AtomMatching::bound(const Word *p, int lo, int hi, int target) {
  for (int u : present_) {
    std::fill_n(adj_.begin() + static_cast<std::size_t>(u) * wb_, wb_, Word{0});
    mate_a_[u] = -1;
  }
  present_.clear();
  std::fill(right_.begin(), right_.end(), Word{0});
  for (int k = lo; k < hi; ++k) {
    for (Word x = p[k]; x != 0; x &= x - 1) {
      const int v = (k << 6) + std::countr_zero(x);
      Word *row = adj_.data() + static_cast<std::size_t>(a_[v]) * wb_;
      if (mate_a_[a_[v]] == -1) {
        mate_a_[a_[v]] = -2;  // marks the atom present
        present_.push_back(a_[v]);
      }
      row[b_[v] >> 6] |= bit(b_[v]);
      right_[b_[v] >> 6] |= bit(b_[v]);
    }
  }
  int rights = 0;
  for (Word x : right_) rights += bitcount(x);
  const int lefts = static_cast<int>(present_.size());
  if (std::min(lefts, rights) < target) return std::min(lefts, rights);
  std::fill(mate_b_.begin(), mate_b_.end(), -1);
  int size = 0, left = lefts;
  for (int u : present_) {
    mate_a_[u] = -1;
    std::fill(visited_.begin(), visited_.end(), Word{0});
    if (augment(u)) ++size;
    --left;
    if (size >= target || size + left < target) return size;
  }
  return size;
}

// Candidates of one search node, with the range of words that hold any.
struct Level {
  int lo = 0;
  int hi = 0;
};

// The candidates of the next level, q = p AND r over the words of `lv`, and
// the words in which any remain (lo >= hi: none).
inline Level narrowed(const Word *p, const Word *r, Word *q, Level lv) {
  Level next{lv.hi, lv.lo};
  for (int k = lv.lo; k < lv.hi; ++k) {
    q[k] = p[k] & r[k];
    if (q[k] != 0) {
      next.lo = std::min(next.lo, k);
      next.hi = k + 1;
    }
  }
  return next;
}

// Nodes a search node branches on, in the order they were coloured, and
// their colours (ascending).
struct Branches {
  std::vector<int> node;
  std::vector<int> colour;
  void clear() {
    node.clear();
    colour.clear();
  }
};

enum class Goal {
  kLargest,  // raise the best size while cliques larger than it are found
  kAny,      // stop at the first clique of `need` nodes
  kCount,    // count the cliques of exactly `need` nodes (the largest size)
};

// The branch and bound on the graph restricted to `keep`, renumbered in that
// order (bits of low numbers are coloured first, so `keep` puts the nodes of
// highest core first). Node numbers in results are the graph's own.
class Search {
 public:
  Search(const DockBits &g, const std::vector<int> &keep, const Options &o, int depth_cap);
  void run(Goal goal, int need);

  bool found() const { return best_size_ > 0; }
  int best_size() const { return best_size_; }
  int count() const { return count_; }
  long long branches() const { return branches_; }
  bool timed_out() const { return timed_out_; }
  std::vector<int> best_clique() const;

 private:
  void expand(int depth);
  void expand_by_atoms(int depth);
  void record(int size);
  void add_counted(long long k);
  bool count_short(int depth);
  void colour(int depth, int kmin, Branches &out);
  void recolour(int lo, int hi, int classes);
  bool move_into_lower(int v, int lo, int hi, int classes);

  const Word *row(int v) const { return adj_.data() + static_cast<std::size_t>(v) * words_; }
  Word *cand(int depth) { return cand_.data() + static_cast<std::size_t>(depth) * words_; }

  int n_ = 0;
  int words_ = 0;
  std::vector<int> original_;  // search number -> graph node
  std::vector<Word> adj_;
  std::vector<Word> cand_;  // candidates per depth
  std::vector<Level> level_;
  std::vector<Branches> branches_at_;
  std::vector<int> clique_;  // the current clique, by depth
  std::vector<Word> u_, q_, classes_;
  bool recolour_ = true;
  bool by_atoms_ = true;
  AtomMatching atoms_;

  Goal goal_ = Goal::kLargest;
  int need_ = 0;
  int cap_ = CPD_MAX;
  bool stop_ = false;
  // The deadline, read every 1024 branches.
  bool out_of_time() {
    if (!timed_ || (branches_ & 1023) != 0) return false;
    if (std::chrono::steady_clock::now() < deadline_) return false;
    timed_out_ = stop_ = true;
    return true;
  }
  bool timed_ = false;
  bool timed_out_ = false;
  std::chrono::steady_clock::time_point deadline_;
  int best_size_ = 0;
  std::vector<int> best_;
  int count_ = 0;
  long long branches_ = 0;
};

Search::Search(const DockBits &g, const std::vector<int> &keep, const Options &o, int depth_cap)
    : n_(static_cast<int>(keep.size())),
      words_((n_ + 63) / 64),
      original_(keep),
      recolour_(o.recolour),
      by_atoms_(o.by_atoms),
      cap_(o.count_cap) {
  timed_ = o.deadline != std::chrono::steady_clock::time_point{};
  deadline_ = o.deadline;
  std::vector<int> renumber(g.n, -1);
  for (int i = 0; i < n_; ++i) renumber[keep[i]] = i;
  adj_.assign(static_cast<std::size_t>(n_) * words_, 0);
  for (int i = 0; i < n_; ++i) {
    const Word *from = g.row(keep[i]);
    Word *to = adj_.data() + static_cast<std::size_t>(i) * words_;
    for (int k = 0; k < g.words; ++k) {
      for (Word x = from[k]; x != 0; x &= x - 1) {
        const int j = renumber[(k << 6) + std::countr_zero(x)];
        if (j >= 0) to[j >> 6] |= bit(j);
      }
    }
  }
  const int depths = std::min(depth_cap, n_) + 2;
  cand_.assign(static_cast<std::size_t>(depths) * words_, 0);
  level_.resize(depths);
  branches_at_.resize(depths);
  clique_.resize(depths);
  u_.resize(words_);
  q_.resize(words_);
  if (o.side1.size() >= static_cast<std::size_t>(g.n) &&
      o.side2.size() >= static_cast<std::size_t>(g.n))
    atoms_.init(o.side1, o.side2, keep);
}

void Search::run(Goal goal, int need) {
  goal_ = goal;
  need_ = need;
  stop_ = false;
  if (n_ == 0 || need > n_) return;
  Word *all = cand(0);
  for (int i = 0; i < n_; ++i) all[i >> 6] |= bit(i);
  level_[0] = {0, words_};
  if (atoms_.active() && by_atoms_)
    expand_by_atoms(0);
  else
    expand(0);
}

std::vector<int> Search::best_clique() const {
  std::vector<int> c;
  for (int v : best_) c.push_back(original_[v]);
  std::sort(c.begin(), c.end());
  return c;
}

// A clique of `size` nodes, the first `size` entries of clique_, meets the
// goal: it becomes the best, stops the search, or is counted.
void Search::record(int size) {
  if (best_.empty() || goal_ == Goal::kLargest) {
    best_size_ = size;
    best_.assign(clique_.begin(), clique_.begin() + size);
  }
  switch (goal_) {
    case Goal::kLargest:
      need_ = size + 1;
      break;
    case Goal::kAny:
      stop_ = true;
      break;
    case Goal::kCount:
      if (++count_ >= cap_) stop_ = true;
      break;
  }
}

// Adds k cliques of the largest size to the count (the first one was
// recorded on its own).
void Search::add_counted(long long k) {
  count_ = static_cast<int>(std::min<long long>(count_ + k, cap_));
  if (count_ >= cap_) stop_ = true;
}

// Counting, one or two nodes short of the largest size: each candidate (each
// adjacent pair of candidates) completes a largest clique, so they are
// counted without branching.
bool Search::count_short(int depth) {
  const int t = need_ - depth;
  if (goal_ != Goal::kCount || t > 2) return false;
  const Level lv = level_[depth];
  const Word *p = cand(depth);
  for (int w = lv.lo; w < lv.hi && !stop_; ++w) {
    for (Word x = p[w]; x != 0 && !stop_; x &= x - 1) {
      const int v = (w << 6) + std::countr_zero(x);
      clique_[depth] = v;
      if (t == 1) {
        record(depth + 1);
        if (!stop_) add_counted(bitcount(x & (x - 1)));
        for (int k = w + 1; k < lv.hi && !stop_; ++k) add_counted(bitcount(p[k]));
        return true;
      }
      const Word *r = row(v);
      for (int k = w; k < lv.hi && !stop_; ++k) {
        Word y = p[k] & r[k];
        if (k == w) y &= ~((Word{2} << (v & 63)) - 1);  // partners above v only
        if (y == 0) continue;
        if (best_.empty()) {
          clique_[depth + 1] = (k << 6) + std::countr_zero(y);
          record(depth + 2);
          y &= y - 1;
        }
        if (!stop_) add_counted(bitcount(y));
      }
    }
  }
  return true;
}

void Search::expand(int depth) {
  ++branches_;
  if (out_of_time()) return;
  if (count_short(depth)) return;
  Word *p = cand(depth);
  const Level lv = level_[depth];
  if (atoms_.active() && depth + atoms_.bound(p, lv.lo, lv.hi, need_ - depth) < need_) return;
  Branches &list = branches_at_[depth];
  colour(depth, need_ - depth, list);
  Word *q = cand(depth + 1);
  for (int i = static_cast<int>(list.node.size()) - 1; i >= 0; --i) {
    if (depth + list.colour[i] < need_) return;
    const int v = list.node[i];
    clique_[depth] = v;
    const Level next = narrowed(p, row(v), q, lv);
    if (goal_ != Goal::kCount && depth + 1 >= need_) record(depth + 1);
    if (stop_) return;
    if (next.lo < next.hi) {
      level_[depth + 1] = next;
      expand(depth + 1);
    } else if (goal_ == Goal::kCount && depth + 1 == need_) {
      record(depth + 1);
    }
    if (stop_) return;
    p[v >> 6] &= ~bit(v);
  }
}

// Branching by atoms: the first-compound atom with the fewest candidates is
// paired with each of its candidates in turn, then left unpaired; the
// candidates are bounded by the atom matching.
void Search::expand_by_atoms(int depth) {
  ++branches_;
  if (out_of_time()) return;
  if (count_short(depth)) return;
  Word *p = cand(depth);
  Word *q = cand(depth + 1);
  Level lv = level_[depth];
  for (;;) {
    while (lv.lo < lv.hi && p[lv.lo] == 0) ++lv.lo;
    while (lv.hi > lv.lo && p[lv.hi - 1] == 0) --lv.hi;
    if (lv.lo >= lv.hi) return;
    if (depth + atoms_.bound(p, lv.lo, lv.hi, need_ - depth) < need_) return;
    const int a = atoms_.narrowest();
    const Word *mine = atoms_.nodes_of(a);
    for (int w = lv.lo; w < lv.hi; ++w) {
      for (Word x = p[w] & mine[w]; x != 0; x &= x - 1) {
        const int v = (w << 6) + std::countr_zero(x);
        clique_[depth] = v;
        const Level next = narrowed(p, row(v), q, lv);
        if (goal_ != Goal::kCount && depth + 1 >= need_) record(depth + 1);
        if (stop_) return;
        if (next.lo < next.hi) {
          level_[depth + 1] = next;
          expand_by_atoms(depth + 1);
        } else if (goal_ == Goal::kCount && depth + 1 == need_) {
          record(depth + 1);
        }
        if (stop_) return;
        // the bound of a later pairing does not depend on this one
      }
    }
    for (int w = lv.lo; w < lv.hi; ++w) p[w] &= ~mine[w];
  }
}

// Greedy colouring of the candidates, class by class in node order. Nodes of
// colours below kmin cannot lift the clique to `need` on their own and are
// not branched on; with re-colouring, nodes that would take colour kmin or
// above are first tried in the lower classes.
void Search::colour(int depth, int kmin, Branches &out) {
  out.clear();
  const Level lv = level_[depth];
  const Word *p = cand(depth);
  std::copy(p + lv.lo, p + lv.hi, u_.begin() + lv.lo);
  const int kept = recolour_ && kmin >= 2 ? kmin - 1 : 0;
  if (kept > 0) {
    const std::size_t need_words = static_cast<std::size_t>(kept) * words_;
    if (classes_.size() < need_words) classes_.resize(need_words);
    for (int c = 0; c < kept; ++c)
      std::fill_n(classes_.begin() + static_cast<std::size_t>(c) * words_ + lv.lo, lv.hi - lv.lo,
                  Word{0});
  }
  int k = 0;
  for (;;) {
    bool any = false;
    for (int w = lv.lo; w < lv.hi && !any; ++w) any = u_[w] != 0;
    if (!any) break;
    ++k;
    std::copy(u_.begin() + lv.lo, u_.begin() + lv.hi, q_.begin() + lv.lo);
    Word *cls = k <= kept ? classes_.data() + static_cast<std::size_t>(k - 1) * words_ : nullptr;
    for (int w = lv.lo; w < lv.hi; ++w) {
      while (q_[w] != 0) {
        const int v = (w << 6) + std::countr_zero(q_[w]);
        q_[w] &= ~bit(v);
        u_[w] &= ~bit(v);
        const Word *r = row(v);
        for (int j = w; j < lv.hi; ++j) q_[j] &= ~r[j];
        if (k >= kmin) {
          out.node.push_back(v);
          out.colour.push_back(k);
        } else if (cls != nullptr) {
          cls[w] |= bit(v);
        }
      }
    }
    if (k == kept) recolour(lv.lo, lv.hi, kept);
  }
}

// Moves the uncoloured nodes that fit into the kept classes there.
void Search::recolour(int lo, int hi, int classes) {
  for (int w = lo; w < hi; ++w) {
    for (Word x = u_[w]; x != 0; x &= x - 1) {
      const int v = (w << 6) + std::countr_zero(x);
      if (move_into_lower(v, lo, hi, classes)) u_[w] &= ~bit(v);
    }
  }
}

// Puts v into a kept class where it has no neighbour, or where it has one
// neighbour that moves to a later kept class without neighbours of its own.
bool Search::move_into_lower(int v, int lo, int hi, int classes) {
  const Word *rv = row(v);
  for (int c1 = 0; c1 < classes; ++c1) {
    Word *cls = classes_.data() + static_cast<std::size_t>(c1) * words_;
    int hits = 0, w = -1;
    for (int j = lo; j < hi && hits < 2; ++j) {
      const Word x = rv[j] & cls[j];
      if (x == 0) continue;
      hits += bitcount(x);
      w = (j << 6) + std::countr_zero(x);
    }
    if (hits == 0) {
      cls[v >> 6] |= bit(v);
      return true;
    }
    if (hits > 1) continue;
    const Word *rw = row(w);
    for (int c2 = c1 + 1; c2 < classes; ++c2) {
      Word *other = classes_.data() + static_cast<std::size_t>(c2) * words_;
      bool free = true;
      for (int j = lo; j < hi && free; ++j) free = (rw[j] & other[j]) == 0;
      if (!free) continue;
      other[w >> 6] |= bit(w);
      cls[w >> 6] &= ~bit(w);
      cls[v >> 6] |= bit(v);
      return true;
    }
  }
  return false;
}

// The nodes of core at least `core`, highest cores first (the reverse of the
// peeling order).
std::vector<int> nodes_of_core(const Cores &cores, int core) {
  std::vector<int> keep;
  for (auto it = cores.order.rbegin(); it != cores.order.rend(); ++it) {
    if (cores.core[*it] >= core) keep.push_back(*it);
  }
  return keep;
}

}  // namespace

Result largest_clique(const DockBits &g, const Options &options) {
  Result r;
  if (g.n <= 0) return r;
  const Cores cores = degeneracy(g);
  r.clique = greedy_clique(g, cores, options.greedy_starts);
  r.size = std::max(static_cast<int>(r.clique.size()), options.lower_bound);
  if (r.size > static_cast<int>(r.clique.size())) r.clique.clear();  // known, not found
  // A clique of more than r.size nodes has nodes of core r.size or more only.
  if (r.size <= cores.max_core) {
    Search s(g, nodes_of_core(cores, r.size), options, cores.max_core + 1);
    s.run(Goal::kLargest, r.size + 1);
    r.branches += s.branches();
    if (s.found()) {
      r.size = s.best_size();
      r.clique = s.best_clique();
    }
    r.timed_out = s.timed_out();
  }
  if (options.count && r.size > 0 && !r.timed_out) {
    Search s(g, nodes_of_core(cores, r.size - 1), options, r.size);
    s.run(Goal::kCount, r.size);
    r.branches += s.branches();
    r.timed_out = s.timed_out();
    // Cut short, a clique of that size is still known to exist.
    r.count = r.timed_out ? std::max(s.count(), 1) : s.count();
    if (r.clique.empty()) r.clique = s.best_clique();
  }
  return r;
}

bool has_clique(const DockBits &g, int k, const Options &options) {
  if (k <= 0 || k <= options.lower_bound) return true;
  if (k > g.n) return false;
  const Cores cores = degeneracy(g);
  if (k > cores.max_core + 1) return false;
  if (static_cast<int>(greedy_clique(g, cores, options.greedy_starts).size()) >= k) return true;
  Search s(g, nodes_of_core(cores, k - 1), options, k);
  s.run(Goal::kAny, k);
  return s.found();
}

Result largest_docked(const DockBits &graph, const DNODE *nodes, Options options) {
  std::vector<int> e1(graph.n), e2(graph.n);
  for (int v = 0; v < graph.n; ++v) {
    e1[v] = nodes[v].e1;
    e2[v] = nodes[v].e2;
  }
  options.side1 = e1;
  options.side2 = e2;
  options.count = true;
  return largest_clique(graph, options);
}

}  // namespace maxclique
