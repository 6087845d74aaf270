#include "mcsplit.h"

#include "bitcount.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <map>
#include <numeric>

namespace mcsplit {

namespace {

// A class to start from: the atoms of side s (0 the first compound, 1 the
// second) in atoms[s] may pair with those of the other side.
struct Class {
  std::vector<int> atoms[2];
};

enum class Goal { kLargest, kCount, kList, kAny };

// Each atom's bonds among the problem's atoms, per side.
struct Degrees {
  std::vector<int> side[2];
};

Degrees degrees_of(const Problem &p) {
  Degrees d;
  for (int s : {0, 1}) {
    const int n = s == 0 ? p.left : p.right;
    const std::vector<unsigned char> &bonds = s == 0 ? p.bonds_left : p.bonds_right;
    d.side[s].assign(static_cast<std::size_t>(n), 0);
    for (int v = 0; v < n; ++v) {
      for (int u = 0; u < n; ++u)
        d.side[s][v] += u != v && bonds[static_cast<std::size_t>(v) * n + u] != 0 ? 1 : 0;
    }
  }
  return d;
}

// The search's goals, from the classes it is started on.
class Engine {
 public:
  virtual ~Engine() = default;
  virtual void start(const std::vector<Class> &classes) = 0;
  // Whether a mapping of `size` pairs exists made of the given pairs only
  // (left atom, right atom).
  virtual bool any(int size, std::span<const std::pair<int, int>> pairs) = 0;
  // The largest mapping, at least `lower_bound` pairs (known to exist).
  virtual int largest(int lower_bound) = 0;
  // Mappings of `size` pairs, the largest size, counted up to `cap`.
  virtual int count(int size, int cap) = 0;
  // The same, each kept as the docking nodes of its pairs, found up to
  // `cap` + 1: the nodes are kept only when there are no more than `cap`.
  virtual int list(int size, int cap, std::vector<int> &nodes) = 0;
  // The docking nodes of the mapping that any() found last.
  virtual void found(std::vector<int> &nodes) = 0;
  virtual long long branches() const = 0;
  // Every search of this engine gives up at `when` (the clock's epoch: never).
  void give_up_at(std::chrono::steady_clock::time_point when) {
    timed_ = when != std::chrono::steady_clock::time_point{};
    deadline_ = when;
  }
  bool timed_out() const { return timed_out_; }

 protected:
  // Read every 1024 branches; true once the deadline has passed.
  bool out_of_time(long long branches) {
    if (!timed_ || (branches & 1023) != 0) return timed_out_;
    if (std::chrono::steady_clock::now() >= deadline_) timed_out_ = true;
    return timed_out_;
  }

 private:
  bool timed_ = false;
  bool timed_out_ = false;
  std::chrono::steady_clock::time_point deadline_;
};

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

// The search for a problem, its sets as narrow as the compounds allow; none
// for compounds of more than 4096 atoms.
constexpr int kMostAtoms = 4096;
std::unique_ptr<Engine> engine_for(const Problem &p, const Degrees &degrees) {
  const int atoms = std::max(p.left, p.right);
  if (atoms > kMostAtoms) return nullptr;
  if (atoms <= 64) return std::make_unique<BitSearch<1>>(p, degrees);
  if (atoms <= 128) return std::make_unique<BitSearch<2>>(p, degrees);
  if (atoms <= 256) return std::make_unique<BitSearch<4>>(p, degrees);
  if (atoms <= 1024) return std::make_unique<BitSearch<16>>(p, degrees);
  return std::make_unique<BitSearch<64>>(p, degrees);
}

}  // namespace

std::optional<Result> largest(const Problem &p, const Options &options) {
  if (p.left > std::min(options.max_atoms, kMostAtoms) ||
      p.right > std::min(options.max_atoms, kMostAtoms))
    return std::nullopt;
  // Each left atom's partners; atoms with the same partners form a class,
  // and two classes must not share a partner.
  std::vector<std::vector<int>> partners(static_cast<std::size_t>(p.left));
  for (const auto &[i, j] : p.pairs) partners[i].push_back(j);
  std::map<std::vector<int>, std::vector<int>> classes;  // partners -> left atoms
  for (int v = 0; v < p.left; ++v) {
    std::vector<int> &s = partners[v];
    std::sort(s.begin(), s.end());
    s.erase(std::unique(s.begin(), s.end()), s.end());
    if (!s.empty()) classes[s].push_back(v);
  }
  std::vector<char> taken(static_cast<std::size_t>(p.right), 0);
  std::vector<Class> start;
  for (const auto &[s, atoms] : classes) {
    for (int w : s) {
      if (taken[w]) return std::nullopt;
      taken[w] = 1;
    }
    start.push_back({{atoms, s}});
  }
  const Degrees degrees = degrees_of(p);
  const std::unique_ptr<Engine> search = engine_for(p, degrees);
  search->start(start);
  search->give_up_at(options.deadline);
  Result r;
  r.size = options.size_known ? options.lower_bound : search->largest(options.lower_bound);
  if (search->timed_out()) {
    r.timed_out = true;
    r.count = r.size > 0 ? 1 : 0;  // a mapping of that size is known to exist
  } else if (r.size > 0 && options.list_cap >= r.size) {
    const int listed = options.list_cap / r.size;
    const int found = search->list(r.size, std::max(listed, options.count_cap), r.nodes);
    r.count = std::min(found, options.count_cap);
    if (found > listed) r.nodes.clear();
  } else if (r.size > 0 && options.count_cap > 0) {
    r.count = search->count(r.size, options.count_cap);
  }
  if (search->timed_out() && !r.timed_out) {
    r.timed_out = true;
    r.count = std::max(r.count, 1);
    r.nodes.clear();
  }
  r.branches = search->branches();
  return r;
}

// The pairs of a subset that may still be mapped fall apart into the
// connected parts of their bipartite graph (atoms joined by the pairs); each
// part is a class to start from, whose atoms pair only as the flags allow.
struct Decider::State {
  explicit State(const Problem &p)
      : problem(p),
        degrees(degrees_of(p)),
        search(engine_for(p, degrees)),
        parent(static_cast<std::size_t>(p.left + p.right)),
        part(static_cast<std::size_t>(p.left + p.right), -1) {}

  int root(int x) {
    while (parent[x] != x) x = parent[x] = parent[parent[x]];
    return x;
  }

  const Problem &problem;
  Degrees degrees;
  std::unique_ptr<Engine> search;
  std::vector<std::pair<int, int>> pairs;
  std::vector<int> parent, part, atoms;
};

Decider::Decider(const Problem &problem) : state_(std::make_unique<State>(problem)) {}
Decider::~Decider() = default;

long long Decider::branches() const {
  return state_->search ? state_->search->branches() : 0;
}

bool Decider::holds(std::span<const int> pairs, int k, std::vector<int> *witness) {
  if (k <= 0) return true;
  if (static_cast<int>(pairs.size()) < k) return false;
  State &st = *state_;
  if (!st.search) return true;  // compounds too large to search: it may
  const Problem &p = st.problem;
  const int right_at = p.left;  // right atoms follow the left ones
  st.atoms.clear();
  st.pairs.clear();
  for (int q : pairs) {
    const auto [i, j] = p.pairs[q];
    for (int x : {i, right_at + j}) {
      if (st.part[x] == -1) {
        st.part[x] = -2;  // met
        st.parent[x] = x;
        st.atoms.push_back(x);
      }
    }
    st.pairs.emplace_back(i, j);
    const int a = st.root(i), b = st.root(right_at + j);
    if (a != b) st.parent[a] = b;
  }
  // One class per part.
  std::vector<Class> start;
  for (int x : st.atoms) {
    const int r = st.root(x);
    if (st.part[r] < 0) {
      st.part[r] = static_cast<int>(start.size());
      start.emplace_back();
    }
  }
  for (int x : st.atoms) {
    Class &c = start[st.part[st.root(x)]];
    if (x < right_at)
      c.atoms[0].push_back(x);
    else
      c.atoms[1].push_back(x - right_at);
  }
  int bound = 0;
  for (const Class &c : start)
    bound += static_cast<int>(std::min(c.atoms[0].size(), c.atoms[1].size()));
  bool found = false;
  if (bound >= k) {
    st.search->start(start);
    found = st.search->any(k, st.pairs);
    if (found && witness != nullptr) st.search->found(*witness);
  }
  for (int x : st.atoms) st.part[x] = -1;
  return found;
}

Problem problem_of(const CPDMOL &a, const CPDMOL &b, const DNODE *nodes, int n) {
  // Only atoms that take part in some pair matter; they are numbered anew.
  std::vector<int> left_of(static_cast<std::size_t>(a.nodenum), -1);
  std::vector<int> right_of(static_cast<std::size_t>(b.nodenum), -1);
  std::vector<int> left_atoms, right_atoms;
  Problem p;
  for (int k = 0; k < n; ++k) {
    int &i = left_of[nodes[k].e1];
    int &j = right_of[nodes[k].e2];
    if (i < 0) {
      i = static_cast<int>(left_atoms.size());
      left_atoms.push_back(nodes[k].e1);
    }
    if (j < 0) {
      j = static_cast<int>(right_atoms.size());
      right_atoms.push_back(nodes[k].e2);
    }
    p.pairs.emplace_back(i, j);
  }
  const auto bonds = [](const CPDMOL &mol, const std::vector<int> &atoms) {
    const std::size_t m = atoms.size();
    std::vector<unsigned char> out(m * m, 0);
    for (std::size_t x = 0; x < m; ++x) {
      const char *row = mol.matrix + static_cast<std::size_t>(atoms[x]) * mol.nodenum;
      for (std::size_t y = 0; y < m; ++y) out[x * m + y] = row[atoms[y]] != 0 ? 1 : 0;
    }
    return out;
  };
  p.left = static_cast<int>(left_atoms.size());
  p.right = static_cast<int>(right_atoms.size());
  p.bonds_left = bonds(a, left_atoms);
  p.bonds_right = bonds(b, right_atoms);
  return p;
}

}  // namespace mcsplit
