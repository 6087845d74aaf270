#include "mcsplit.h"

#include "mcsplit_search.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <map>
#include <numeric>

namespace mcsplit {

namespace {

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

// The popcnt build where the processor has the instruction.
std::unique_ptr<Engine> engine_for(const Problem &p, const Degrees &degrees) {
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__) && !defined(TAVIRON_NO_POPCNT)
  static const bool fast = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("popcnt") != 0;
  }();
  if (fast) return popcnt::engine_for(p, degrees);
#endif
  return portable::engine_for(p, degrees);
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
  search->give_up_at(options.deadline, options.stop);
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
