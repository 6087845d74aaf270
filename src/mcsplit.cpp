#include "mcsplit.h"

#include <algorithm>
#include <map>

namespace mcsplit {

namespace {

// Atoms still free in one label class: atoms_[s][at[s], at[s] + len[s]) of
// side s (0 the first compound, 1 the second) may pair with those of the
// other side, and all of them have the same bonds to every atom mapped so
// far.
struct Bidomain {
  int at[2] = {0, 0};
  int len[2] = {0, 0};
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

class Search {
 public:
  Search(const Problem &p, const Degrees &degrees)
      : p_(p), degree_(degrees.side), domains_(static_cast<std::size_t>(p.left + p.right) + 2) {}

  // The classes the search starts from, their atoms listed by side.
  void start(std::vector<Bidomain> start, std::vector<int> left, std::vector<int> right) {
    start_ = std::move(start);
    atoms_[0] = std::move(left);
    atoms_[1] = std::move(right);
  }

  // Whether a mapping of `size` pairs exists whose pairs are all `allowed`
  // (left * right flags; null: any pair of a class).
  bool any(int size, const std::vector<char> *allowed) {
    goal_ = Goal::kAny;
    target_ = size;
    stop_ = false;
    allowed_ = allowed;
    run();
    allowed_ = nullptr;
    return stop_;
  }

  // The largest mapping, at least `lower_bound` pairs (known to exist).
  int largest(int lower_bound) {
    goal_ = Goal::kLargest;
    best_ = lower_bound;
    run();
    return best_;
  }

  // Mappings of `size` pairs, the largest size, counted up to `cap`.
  int count(int size, int cap) {
    goal_ = Goal::kCount;
    target_ = size;
    cap_ = cap;
    count_ = 0;
    stop_ = false;
    run();
    return count_;
  }

  // Mappings of `size` pairs, the largest size, each as the docking nodes of
  // its pairs, found up to `cap` + 1: the nodes are kept only when there are
  // no more than `cap`. Returns how many were found.
  int list(int size, int cap, std::vector<int> &nodes) {
    goal_ = Goal::kList;
    target_ = size;
    cap_ = cap + 1;
    count_ = 0;
    stop_ = false;
    nodes_ = &nodes;
    node_of_.assign(static_cast<std::size_t>(p_.left), {});
    for (int k = 0; k < static_cast<int>(p_.pairs.size()); ++k)
      node_of_[p_.pairs[k].first].emplace_back(p_.pairs[k].second, k);
    mapped_.clear();
    run();
    nodes_ = nullptr;
    if (count_ > cap) nodes.clear();
    return count_;
  }

  long long branches() const { return branches_; }

 private:
  bool bonded(int side, int v, int u) const {
    return side == 0 ? p_.bonds_left[static_cast<std::size_t>(v) * p_.left + u] != 0
                     : p_.bonds_right[static_cast<std::size_t>(v) * p_.right + u] != 0;
  }

  void run() {
    domains_[0] = start_;
    solve(0, 0);
  }

  // Moves the atoms of side s in [start, start + len) bonded to v to the
  // front; returns how many there are.
  int partition(int s, int start, int len, int v) {
    std::vector<int> &a = atoms_[s];
    int front = 0;
    for (int k = 0; k < len; ++k) {
      if (bonded(s, v, a[start + k])) std::swap(a[start + front++], a[start + k]);
    }
    return front;
  }

  // The classes once atom[0] is mapped onto atom[1]: each splits into the
  // atoms bonded to them and those not.
  void split(const std::vector<Bidomain> &from, const int (&atom)[2], std::vector<Bidomain> &to) {
    to.clear();
    for (const Bidomain &d : from) {
      if (d.len[0] == 0 || d.len[1] == 0) continue;
      Bidomain bonded_part, other;
      bool both = true, none = true;
      for (int s : {0, 1}) {
        const int b = partition(s, d.at[s], d.len[s], atom[s]);
        bonded_part.at[s] = d.at[s];
        bonded_part.len[s] = b;
        other.at[s] = d.at[s] + b;
        other.len[s] = d.len[s] - b;
        both = both && b > 0;
        none = none && d.len[s] > b;
      }
      if (none) to.push_back(other);
      if (both) to.push_back(bonded_part);
    }
  }

  // The class to branch on: the one with the fewest atoms on its larger
  // side; its smaller side is branched on.
  static int choose(const std::vector<Bidomain> &ds) {
    int best = -1, width = 0;
    for (int k = 0; k < static_cast<int>(ds.size()); ++k) {
      const Bidomain &d = ds[k];
      if (d.len[0] == 0 || d.len[1] == 0) continue;
      const int w = std::max(d.len[0], d.len[1]);
      if (best < 0 || w < width) {
        best = k;
        width = w;
      }
    }
    return best;
  }

  // Takes the atom of side s with the most bonds out of the class: it goes
  // last, outside the class's range.
  int take_widest(Bidomain &d, int s) {
    std::vector<int> &a = atoms_[s];
    const std::vector<int> &deg = degree_[s];
    int at = d.at[s];
    for (int k = at + 1; k < d.at[s] + d.len[s]; ++k) {
      if (deg[a[k]] > deg[a[at]] || (deg[a[k]] == deg[a[at]] && a[k] < a[at])) at = k;
    }
    const int v = a[at];
    std::swap(a[at], a[d.at[s] + d.len[s] - 1]);
    --d.len[s];
    return v;
  }

  // The atom of side s that comes next after `previous` by number, moved
  // last and out of the class's range; children reorder the range.
  int take_after(Bidomain &d, int s, int previous) {
    std::vector<int> &a = atoms_[s];
    int at = -1;
    for (int k = d.at[s]; k < d.at[s] + d.len[s]; ++k) {
      if (a[k] > previous && (at < 0 || a[k] < a[at])) at = k;
    }
    const int w = a[at];
    std::swap(a[at], a[d.at[s] + d.len[s] - 1]);
    --d.len[s];
    return w;
  }

  void solve(int depth, int size) {
    ++branches_;
    std::vector<Bidomain> &ds = domains_[depth];
    int bound = size;
    for (const Bidomain &d : ds) bound += std::min(d.len[0], d.len[1]);
    if (goal_ == Goal::kLargest) {
      best_ = std::max(best_, size);
      if (bound <= best_) return;
    } else {
      if (bound < target_) return;
      if (goal_ == Goal::kAny && size == target_) {
        stop_ = true;
        return;
      }
      // Every mapping is reached once: its pairs are decided in one order.
      if (size == target_) {
        if (goal_ == Goal::kList && count_ < cap_ - 1) keep_mapping();
        if (++count_ >= cap_) stop_ = true;
        return;
      }
    }
    const int k = choose(ds);
    if (k < 0) return;
    // The atom of the smaller side meets each partner in turn, then none.
    const int s = ds[k].len[0] <= ds[k].len[1] ? 0 : 1;
    int atom[2];
    atom[s] = take_widest(ds[k], s);
    const int options = ds[k].len[1 - s];
    int previous = -1;
    for (int n = 0; n < options && !stop_; ++n) {
      atom[1 - s] = previous = take_after(ds[k], 1 - s, previous);
      if (allowed_ != nullptr &&
          !(*allowed_)[static_cast<std::size_t>(atom[0]) * p_.right + atom[1]]) {
        ++ds[k].len[1 - s];
        continue;
      }
      split(ds, atom, domains_[depth + 1]);
      mapped_.emplace_back(atom[0], atom[1]);
      solve(depth + 1, size + 1);
      mapped_.pop_back();
      ++ds[k].len[1 - s];
    }
    if (stop_) return;
    domains_[depth + 1] = ds;  // the atom left unmapped
    solve(depth + 1, size);
  }

  // The docking node of each mapped pair.
  void keep_mapping() {
    for (const auto &[i, j] : mapped_) {
      for (const auto &[partner, node] : node_of_[i]) {
        if (partner == j) {
          nodes_->push_back(node);
          break;
        }
      }
    }
  }

  const Problem &p_;
  const std::vector<int> *degree_;  // per side
  std::vector<Bidomain> start_;
  std::vector<int> atoms_[2];
  std::vector<std::vector<Bidomain>> domains_;  // per depth
  const std::vector<char> *allowed_ = nullptr;
  Goal goal_ = Goal::kLargest;
  int best_ = 0;
  int target_ = 0;
  int cap_ = CPD_MAX;
  int count_ = 0;
  bool stop_ = false;
  long long branches_ = 0;
  std::vector<std::pair<int, int>> mapped_;                // the pairs mapped on the current path
  std::vector<std::vector<std::pair<int, int>>> node_of_;  // left atom -> (right atom, node)
  std::vector<int> *nodes_ = nullptr;
};

}  // namespace

std::optional<Result> largest(const Problem &p, const Options &options) {
  if (p.left > options.max_atoms || p.right > options.max_atoms) return std::nullopt;
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
  std::vector<Bidomain> start;
  std::vector<int> left, right;
  for (const auto &[s, atoms] : classes) {
    for (int w : s) {
      if (taken[w]) return std::nullopt;
      taken[w] = 1;
    }
    Bidomain d;
    d.at[0] = static_cast<int>(left.size());
    d.at[1] = static_cast<int>(right.size());
    d.len[0] = static_cast<int>(atoms.size());
    d.len[1] = static_cast<int>(s.size());
    start.push_back(d);
    left.insert(left.end(), atoms.begin(), atoms.end());
    right.insert(right.end(), s.begin(), s.end());
  }
  const Degrees degrees = degrees_of(p);
  Search search(p, degrees);
  search.start(std::move(start), std::move(left), std::move(right));
  Result r;
  r.size = search.largest(options.lower_bound);
  if (r.size > 0 && options.list_cap > 0) {
    const int found = search.list(r.size, std::max(options.list_cap, options.count_cap), r.nodes);
    r.count = std::min(found, options.count_cap);
    if (found > options.list_cap) r.nodes.clear();
  } else if (r.size > 0)
    r.count = search.count(r.size, options.count_cap);
  r.branches = search.branches();
  return r;
}

// The pairs of a subset that may still be mapped fall apart into the
// connected parts of their bipartite graph (atoms joined by the pairs); each
// part is a class to start from, whose atoms pair only as the flags allow.
struct Decider::State {
  explicit State(const Problem &p)
      : problem(p),
        degrees(degrees_of(p)),
        search(p, degrees),
        allowed(static_cast<std::size_t>(p.left) * p.right, 0),
        parent(static_cast<std::size_t>(p.left + p.right)),
        part(static_cast<std::size_t>(p.left + p.right), -1) {}

  int root(int x) {
    while (parent[x] != x) x = parent[x] = parent[parent[x]];
    return x;
  }

  const Problem &problem;
  Degrees degrees;
  Search search;
  std::vector<char> allowed;
  std::vector<int> parent, part, atoms;
};

Decider::Decider(const Problem &problem) : state_(std::make_unique<State>(problem)) {}
Decider::~Decider() = default;

long long Decider::branches() const {
  return state_->search.branches();
}

bool Decider::holds(std::span<const int> pairs, int k) {
  if (k <= 0) return true;
  if (static_cast<int>(pairs.size()) < k) return false;
  State &st = *state_;
  const Problem &p = st.problem;
  const int right_at = p.left;  // right atoms follow the left ones
  st.atoms.clear();
  for (int q : pairs) {
    const auto [i, j] = p.pairs[q];
    for (int x : {i, right_at + j}) {
      if (st.part[x] == -1) {
        st.part[x] = -2;  // met
        st.parent[x] = x;
        st.atoms.push_back(x);
      }
    }
    st.allowed[static_cast<std::size_t>(i) * p.right + j] = 1;
    const int a = st.root(i), b = st.root(right_at + j);
    if (a != b) st.parent[a] = b;
  }
  // One class per part, its atoms listed by side.
  std::vector<Bidomain> start;
  std::vector<int> left, right;
  std::vector<int> index;  // per class: the root
  std::vector<std::vector<int>> members[2];
  for (int x : st.atoms) {
    const int r = st.root(x);
    if (st.part[r] < 0) {
      st.part[r] = static_cast<int>(index.size());
      index.push_back(r);
      members[0].emplace_back();
      members[1].emplace_back();
    }
  }
  for (int x : st.atoms) {
    const int c = st.part[st.root(x)];
    if (x < right_at)
      members[0][c].push_back(x);
    else
      members[1][c].push_back(x - right_at);
  }
  int bound = 0;
  for (std::size_t c = 0; c < index.size(); ++c) {
    Bidomain d;
    d.at[0] = static_cast<int>(left.size());
    d.at[1] = static_cast<int>(right.size());
    d.len[0] = static_cast<int>(members[0][c].size());
    d.len[1] = static_cast<int>(members[1][c].size());
    bound += std::min(d.len[0], d.len[1]);
    start.push_back(d);
    left.insert(left.end(), members[0][c].begin(), members[0][c].end());
    right.insert(right.end(), members[1][c].begin(), members[1][c].end());
  }
  bool found = false;
  if (bound >= k) {
    st.search.start(std::move(start), std::move(left), std::move(right));
    found = st.search.any(k, &st.allowed);
  }
  for (int q : pairs)
    st.allowed[static_cast<std::size_t>(p.pairs[q].first) * p.right + p.pairs[q].second] = 0;
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
