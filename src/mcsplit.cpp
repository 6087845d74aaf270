#include "mcsplit.h"

#include <algorithm>
#include <map>

namespace mcsplit {

namespace {

// Atoms still free in one label class: left_[l, l + ll) may pair with
// right_[r, r + rl), and all of them have the same bonds to every atom
// mapped so far.
struct Bidomain {
  int l = 0, r = 0, ll = 0, rl = 0;
};

enum class Goal { kLargest, kCount };

class Search {
 public:
  Search(const Problem &p, std::vector<Bidomain> start, std::vector<int> left,
         std::vector<int> right)
      : p_(p),
        start_(std::move(start)),
        left_(std::move(left)),
        right_(std::move(right)),
        domains_(static_cast<std::size_t>(p.left) + 2),
        degree_(static_cast<std::size_t>(p.left), 0) {
    for (int v = 0; v < p.left; ++v) {
      for (int u = 0; u < p.left; ++u) degree_[v] += u != v && bonded_left(v, u) ? 1 : 0;
    }
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

  long long branches() const { return branches_; }

 private:
  bool bonded_left(int v, int u) const {
    return p_.bonds_left[static_cast<std::size_t>(v) * p_.left + u] != 0;
  }
  bool bonded_right(int w, int u) const {
    return p_.bonds_right[static_cast<std::size_t>(w) * p_.right + u] != 0;
  }

  void run() {
    domains_[0] = start_;
    solve(0, 0);
  }

  // Moves the atoms of a[start, start + len) bonded to `v` to the front;
  // returns how many there are.
  template <typename Bonded>
  static int partition(std::vector<int> &a, int start, int len, Bonded bonded) {
    int front = 0;
    for (int k = 0; k < len; ++k) {
      if (bonded(a[start + k])) std::swap(a[start + front++], a[start + k]);
    }
    return front;
  }

  // The classes once v is mapped onto w: each splits into the atoms bonded
  // to v (to w) and those not.
  void split(const std::vector<Bidomain> &from, int v, int w, std::vector<Bidomain> &to) {
    to.clear();
    for (const Bidomain &d : from) {
      if (d.ll == 0 || d.rl == 0) continue;
      const int la = partition(left_, d.l, d.ll, [&](int u) { return bonded_left(v, u); });
      const int ra = partition(right_, d.r, d.rl, [&](int u) { return bonded_right(w, u); });
      if (d.ll > la && d.rl > ra) to.push_back({d.l + la, d.r + ra, d.ll - la, d.rl - ra});
      if (la > 0 && ra > 0) to.push_back({d.l, d.r, la, ra});
    }
  }

  // The class to branch on: the one with the fewest atoms on its larger side.
  static int choose(const std::vector<Bidomain> &ds) {
    int best = -1, width = 0;
    for (int k = 0; k < static_cast<int>(ds.size()); ++k) {
      const Bidomain &d = ds[k];
      if (d.ll == 0 || d.rl == 0) continue;
      const int w = std::max(d.ll, d.rl);
      if (best < 0 || w < width) {
        best = k;
        width = w;
      }
    }
    return best;
  }

  // Takes the left atom with the most bonds out of the class: it goes last,
  // outside the class's range.
  int take_left(Bidomain &d) {
    int at = d.l;
    for (int k = d.l + 1; k < d.l + d.ll; ++k) {
      const int u = left_[k], b = left_[at];
      if (degree_[u] > degree_[b] || (degree_[u] == degree_[b] && u < b)) at = k;
    }
    const int v = left_[at];
    std::swap(left_[at], left_[d.l + d.ll - 1]);
    --d.ll;
    return v;
  }

  // The right atom of the class that comes next after `previous` by number,
  // moved last and out of the class's range; children reorder the range.
  int take_right_after(Bidomain &d, int previous) {
    int at = -1;
    for (int k = d.r; k < d.r + d.rl; ++k) {
      if (right_[k] > previous && (at < 0 || right_[k] < right_[at])) at = k;
    }
    const int w = right_[at];
    std::swap(right_[at], right_[d.r + d.rl - 1]);
    --d.rl;
    return w;
  }

  void solve(int depth, int size) {
    ++branches_;
    std::vector<Bidomain> &ds = domains_[depth];
    int bound = size;
    for (const Bidomain &d : ds) bound += std::min(d.ll, d.rl);
    if (goal_ == Goal::kLargest) {
      best_ = std::max(best_, size);
      if (bound <= best_) return;
    } else {
      if (bound < target_) return;
      // Every mapping is reached once: its pairs are decided in one order.
      if (size == target_) {
        if (++count_ >= cap_) stop_ = true;
        return;
      }
    }
    const int k = choose(ds);
    if (k < 0) return;
    const int v = take_left(ds[k]);
    const int options = ds[k].rl;
    int previous = -1;
    for (int n = 0; n < options && !stop_; ++n) {
      const int w = take_right_after(ds[k], previous);
      previous = w;
      split(ds, v, w, domains_[depth + 1]);
      solve(depth + 1, size + 1);
      ++ds[k].rl;
    }
    if (stop_) return;
    domains_[depth + 1] = ds;  // v left unmapped
    solve(depth + 1, size);
  }

  const Problem &p_;
  const std::vector<Bidomain> start_;
  std::vector<int> left_, right_;
  std::vector<std::vector<Bidomain>> domains_;  // per depth
  std::vector<int> degree_;
  Goal goal_ = Goal::kLargest;
  int best_ = 0;
  int target_ = 0;
  int cap_ = CPD_MAX;
  int count_ = 0;
  bool stop_ = false;
  long long branches_ = 0;
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
    start.push_back({static_cast<int>(left.size()), static_cast<int>(right.size()),
                     static_cast<int>(atoms.size()), static_cast<int>(s.size())});
    left.insert(left.end(), atoms.begin(), atoms.end());
    right.insert(right.end(), s.begin(), s.end());
  }
  Search search(p, std::move(start), std::move(left), std::move(right));
  Result r;
  r.size = search.largest(options.lower_bound);
  if (r.size > 0) r.count = search.count(r.size, options.count_cap);
  r.branches = search.branches();
  return r;
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
