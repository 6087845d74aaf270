// The search on the compounds: this file is compiled twice; MCSPLIT_FLAVOUR
// names the namespace of each build (portable, or popcnt with the
// instruction enabled).
#include "mcsplit_search.h"

#include "bitcount.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <numeric>

#ifndef MCSPLIT_FLAVOUR
#define MCSPLIT_FLAVOUR portable
#endif

namespace mcsplit::MCSPLIT_FLAVOUR {

namespace {

// The search on bit sets, for compounds of at most 64 * W atoms each: a
// class is a set of atoms per side, and mapping a pair splits every class
// with two word operations per side. The class with the fewest atoms on its
// larger side is branched on, from its smaller side: its atom with the most
// bonds meets each partner in turn, then stays unmapped. Atoms are numbered
// by descending bonds (then by number), so that atom is the class's lowest
// bit. Every mapping has one path of decisions, so each is found once.
template <int W>
class BitSearch final : public Engine {
  using Word = std::uint64_t;
  struct Set {
    Word w[W] = {};
    bool any() const {
      Word x = 0;
      for (int k = 0; k < W; ++k) x |= w[k];
      return x != 0;
    }
    int count() const {
      int c = 0;
      for (int k = 0; k < W; ++k) c += bitcount(w[k]);
      return c;
    }
    int lowest() const {
      for (int k = 0; k < W; ++k)
        if (w[k] != 0) return 64 * k + std::countr_zero(w[k]);
      return -1;
    }
    void add(int v) { w[v >> 6] |= Word{1} << (v & 63); }
    void drop(int v) { w[v >> 6] &= ~(Word{1} << (v & 63)); }
    bool has(int v) const { return (w[v >> 6] >> (v & 63)) & 1u; }
  };
  struct Domain {
    Set side[2];
    int len[2] = {0, 0};
  };

 public:
  BitSearch(const Problem &p, const Degrees &degrees) : p_(p) {
    for (int s : {0, 1}) {
      const int n = s == 0 ? p.left : p.right;
      const std::vector<unsigned char> &bonds = s == 0 ? p.bonds_left : p.bonds_right;
      std::vector<int> order(static_cast<std::size_t>(n));
      std::iota(order.begin(), order.end(), 0);
      const std::vector<int> &deg = degrees.side[s];
      std::stable_sort(order.begin(), order.end(),
                       [&deg](int a, int b) { return deg[a] > deg[b]; });
      number_[s].resize(static_cast<std::size_t>(n));
      for (int k = 0; k < n; ++k) number_[s][order[k]] = k;
      bonds_[s].assign(static_cast<std::size_t>(n), Set{});
      for (int v = 0; v < n; ++v)
        for (int u = 0; u < n; ++u)
          if (u != v && bonds[static_cast<std::size_t>(v) * n + u] != 0)
            bonds_[s][number_[s][v]].add(number_[s][u]);
    }
    domains_.resize(static_cast<std::size_t>(p.left + p.right) + 2);
  }

  void start(const std::vector<Class> &classes) override {
    start_.clear();
    for (const Class &c : classes) {
      Domain d;
      for (int s : {0, 1}) {
        for (int v : c.atoms[s]) d.side[s].add(number_[s][v]);
        d.len[s] = static_cast<int>(c.atoms[s].size());
      }
      start_.push_back(d);
    }
  }

  bool any(int size, std::span<const std::pair<int, int>> pairs) override {
    goal_ = Goal::kAny;
    target_ = size;
    stop_ = false;
    for (int s : {0, 1}) partners_[s].resize(number_[s].size());
    for (const auto &[i, j] : pairs) {
      partners_[0][number_[0][i]].add(number_[1][j]);
      partners_[1][number_[1][j]].add(number_[0][i]);
    }
    restricted_ = true;
    run();
    restricted_ = false;
    for (const auto &[i, j] : pairs) {
      partners_[0][number_[0][i]] = Set{};
      partners_[1][number_[1][j]] = Set{};
    }
    return stop_;
  }
  int largest(int lower_bound) override {
    goal_ = Goal::kLargest;
    best_ = lower_bound;
    stop_ = false;
    run();
    return best_;
  }
  int count(int size, int cap) override {
    goal_ = Goal::kCount;
    target_ = size;
    cap_ = cap;
    count_ = 0;
    stop_ = false;
    run();
    return count_;
  }
  int list(int size, int cap, std::vector<int> &nodes) override {
    goal_ = Goal::kList;
    target_ = size;
    cap_ = cap + 1;
    count_ = 0;
    stop_ = false;
    nodes_ = &nodes;
    // Room for all at once: a list of millions of numbers grown by doubling
    // costs more in copies than in finding the mappings.
    nodes.reserve(static_cast<std::size_t>(cap) * size);
    if (node_at_.empty()) index_nodes();
    run();
    nodes_ = nullptr;
    if (count_ > cap) nodes.clear();
    return count_;
  }
  void found(std::vector<int> &nodes) override {
    if (node_at_.empty()) index_nodes();
    nodes_ = &nodes;
    keep_mapping(found_at_);
    nodes_ = nullptr;
  }
  long long branches() const override { return branches_; }

 private:
  void run() {
    domains_[0] = start_;
    solve(0, 0);
  }

  // The classes once left atom a is mapped onto right atom b.
  void split(const std::vector<Domain> &from, int a, int b, std::vector<Domain> &to) const {
    to.clear();
    const Set &na = bonds_[0][a], &nb = bonds_[1][b];
    for (const Domain &d : from) {
      Domain bonded, other;
      for (int k = 0; k < W; ++k) {
        bonded.side[0].w[k] = d.side[0].w[k] & na.w[k];
        bonded.side[1].w[k] = d.side[1].w[k] & nb.w[k];
        other.side[0].w[k] = d.side[0].w[k] & ~na.w[k];
        other.side[1].w[k] = d.side[1].w[k] & ~nb.w[k];
      }
      other.side[0].drop(a);
      other.side[1].drop(b);
      for (Domain *x : {&other, &bonded}) {
        x->len[0] = x->side[0].count();
        if (x->len[0] == 0) continue;
        x->len[1] = x->side[1].count();
        if (x->len[1] != 0) to.push_back(*x);
      }
    }
  }

  // What the classes can still add once a is mapped onto b: the bound that
  // split() would give, counted without building the classes (most
  // mappings tried end right there).
  int bound_after(const std::vector<Domain> &from, int a, int b) const {
    const Set &na = bonds_[0][a], &nb = bonds_[1][b];
    int bound = 0;
    for (const Domain &d : from) {
      int in0 = 0, in1 = 0;
      for (int k = 0; k < W; ++k) {
        in0 += bitcount(d.side[0].w[k] & na.w[k]);
        in1 += bitcount(d.side[1].w[k] & nb.w[k]);
      }
      const int out0 = d.len[0] - in0 - d.side[0].has(a);
      const int out1 = d.len[1] - in1 - d.side[1].has(b);
      bound += std::min(in0, in1) + std::min(out0, out1);
    }
    return bound;
  }
  // Whether a search at `size` with classes that can add `bound` ends at
  // once, as solve() would find.
  bool ends(int size, int bound) const {
    return goal_ == Goal::kLargest ? size + bound <= best_ : size + bound < target_;
  }

  void solve(int depth, int size) {
    ++branches_;
    if (out_of_time(branches_)) {
      stop_ = true;
      return;
    }
    std::vector<Domain> &ds = domains_[depth];
    int bound = size;
    for (const Domain &d : ds) bound += std::min(d.len[0], d.len[1]);
    if (goal_ == Goal::kLargest) {
      best_ = std::max(best_, size);
      if (bound <= best_) return;
    } else {
      if (bound < target_) return;
      if (size == target_) {
        if (goal_ == Goal::kAny) {
          stop_ = true;
          found_at_ = depth;
        } else {
          if (goal_ == Goal::kList && count_ < cap_ - 1) keep_mapping(depth);
          if (++count_ >= cap_) stop_ = true;
        }
        return;
      }
    }
    // The class with the fewest atoms on its larger side; an atom of its
    // smaller side meets each partner in turn, then none.
    int k = -1, width = 0;
    for (int c = 0; c < static_cast<int>(ds.size()); ++c) {
      const int w = std::max(ds[c].len[0], ds[c].len[1]);
      if (k < 0 || w < width) {
        k = c;
        width = w;
      }
    }
    if (k < 0) return;
    const int s = ds[k].len[0] <= ds[k].len[1] ? 0 : 1;
    const int x = ds[k].side[s].lowest();
    ds[k].side[s].drop(x);
    --ds[k].len[s];
    Set options = ds[k].side[1 - s];
    if (restricted_)
      for (int w = 0; w < W; ++w) options.w[w] &= partners_[s][x].w[w];
    for (int w = 0; w < W && !stop_; ++w) {
      for (Word bits = options.w[w]; bits != 0 && !stop_; bits &= bits - 1) {
        const int y = 64 * w + std::countr_zero(bits);
        const int a = s == 0 ? x : y, b = s == 0 ? y : x;
        if (ends(size + 1, bound_after(ds, a, b))) continue;
        split(ds, a, b, domains_[depth + 1]);
        mapped_[depth] = {a, b};
        solve(depth + 1, size + 1);
      }
    }
    if (stop_) return;
    // The atom left unmapped, its class without it already: often the
    // classes can no longer add enough.
    int could = 0;
    for (const Domain &d : ds) could += std::min(d.len[0], d.len[1]);
    if (ends(size, could)) return;
    if (ds[k].len[s] == 0) {
      ds[k] = ds.back();  // the class is used up
      ds.pop_back();
    }
    domains_[depth + 1] = ds;
    mapped_[depth] = {-1, -1};
    solve(depth + 1, size);
  }

  // Each pair's docking node (its first), in one table by search numbers: a
  // look-up per mapped pair (for the largest compounds searched, 4096 atoms
  // a side, the table takes 64 MB while a search lists).
  void index_nodes() {
    const std::size_t right = number_[1].size();
    node_at_.assign(number_[0].size() * right, -1);
    for (int k = 0; k < static_cast<int>(p_.pairs.size()); ++k) {
      const auto [i, j] = p_.pairs[k];
      int &node = node_at_[static_cast<std::size_t>(number_[0][i]) * right + number_[1][j]];
      if (node < 0) node = k;
    }
  }

  // The docking nodes of the pairs mapped on the path to `depth`.
  void keep_mapping(int depth) {
    const std::size_t right = number_[1].size();
    for (int d = 0; d < depth; ++d)
      if (mapped_[d].first >= 0)
        nodes_->push_back(node_at_[mapped_[d].first * right + mapped_[d].second]);
  }

  const Problem &p_;
  std::vector<int> number_[2];    // atom -> search number
  std::vector<Set> bonds_[2];     // by search number
  std::vector<Set> partners_[2];  // while restricted: each atom's partners, by search number
  std::vector<Domain> start_;
  std::vector<std::vector<Domain>> domains_;  // per depth
  std::vector<std::pair<int, int>> mapped_ =
      std::vector<std::pair<int, int>>(static_cast<std::size_t>(p_.left + p_.right) + 2);
  bool restricted_ = false;
  Goal goal_ = Goal::kLargest;
  int best_ = 0, target_ = 0, cap_ = CPD_MAX, count_ = 0;
  int found_at_ = 0;  // the depth of the mapping any() found
  bool stop_ = false;
  long long branches_ = 0;
  std::vector<int> node_at_;
  std::vector<int> *nodes_ = nullptr;
};

}  // namespace

std::unique_ptr<Engine> engine_for(const Problem &p, const Degrees &degrees) {
  const int atoms = std::max(p.left, p.right);
  if (atoms > kMostAtoms) return nullptr;
  if (atoms <= 64) return std::make_unique<BitSearch<1>>(p, degrees);
  if (atoms <= 128) return std::make_unique<BitSearch<2>>(p, degrees);
  if (atoms <= 256) return std::make_unique<BitSearch<4>>(p, degrees);
  if (atoms <= 1024) return std::make_unique<BitSearch<16>>(p, degrees);
  return std::make_unique<BitSearch<64>>(p, degrees);
}

}  // namespace mcsplit::MCSPLIT_FLAVOUR
