#include "depict/schematic.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <deque>
#include <iterator>
#include <numbers>
#include <set>

namespace depict::schematic {

namespace {

using Graph = std::vector<std::vector<int>>;

constexpr std::size_t kMaxAtoms = 60;  // larger records keep the circle
constexpr std::size_t kMaxRings = 12;  // smallest rings combined into outer rings
constexpr int kRelaxSteps = 500;

std::vector<XY> circle(std::size_t n) {
  std::vector<XY> at(n);
  const double r = std::max(1.0, static_cast<double>(n)) / (2 * std::numbers::pi);
  for (std::size_t k = 0; n > 1 && k < n; k++) {
    const double t = 2 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(n);
    at[k] = {r * std::cos(t), r * std::sin(t)};
  }
  return at;
}

bool connected(const Graph &g) {
  std::vector<char> seen(g.size(), 0);
  std::deque<int> queue{0};
  seen[0] = 1;
  std::size_t count = 1;
  while (!queue.empty()) {
    const int v = queue.front();
    queue.pop_front();
    for (int w : g[v]) {
      if (seen[w] == 0) {
        seen[w] = 1;
        count++;
        queue.push_back(w);
      }
    }
  }
  return count == g.size();
}

// The atoms left when atoms with one neighbour are taken off again and again
// (the ring systems and the chains between them); `parent` gets, for each atom
// taken off, the neighbour it hung from, and `peeled` the order they went in.
std::vector<char> core_of(const Graph &g, std::vector<int> &parent, std::vector<int> &peeled) {
  const std::size_t n = g.size();
  std::vector<char> core(n, 1);
  std::vector<std::size_t> degree(n);
  std::deque<int> leaves;
  for (std::size_t v = 0; v < n; v++) {
    degree[v] = g[v].size();
    if (degree[v] <= 1) leaves.push_back(static_cast<int>(v));
  }
  parent.assign(n, -1);
  while (!leaves.empty()) {
    const int v = leaves.front();
    leaves.pop_front();
    core[v] = 0;
    peeled.push_back(v);
    for (int w : g[v]) {
      if (core[w] == 0) continue;
      parent[v] = w;
      if (--degree[w] == 1) leaves.push_back(w);
    }
  }
  return core;
}

// The smallest ring through each bond of the core, each ring once, in the
// order of its atoms; the shortest first.
std::vector<std::vector<int>> rings(const Graph &g, const std::vector<char> &core) {
  std::set<std::vector<int>> seen;
  std::vector<std::vector<int>> out;
  for (std::size_t a = 0; a < g.size(); a++) {
    for (int b : g[a]) {
      if (core[a] == 0 || core[b] == 0 || b < static_cast<int>(a)) continue;
      // Shortest path from b back to a without the bond a-b.
      std::vector<int> from(g.size(), -2);
      std::deque<int> queue{b};
      from[b] = -1;
      while (!queue.empty() && from[a] == -2) {
        const int v = queue.front();
        queue.pop_front();
        for (int w : g[v]) {
          if (core[w] == 0 || from[w] != -2 || (v == b && w == static_cast<int>(a))) continue;
          from[w] = v;
          queue.push_back(w);
        }
      }
      if (from[a] == -2) continue;
      std::vector<int> ring;
      for (int v = static_cast<int>(a); v != -1; v = from[v]) ring.push_back(v);
      std::vector<int> key = ring;
      std::sort(key.begin(), key.end());
      if (seen.insert(key).second) out.push_back(ring);
    }
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const auto &x, const auto &y) { return x.size() < y.size(); });
  if (out.size() > kMaxRings) out.resize(kMaxRings);
  return out;
}

using Edge = std::pair<int, int>;

std::set<Edge> edges_of(const std::vector<int> &ring) {
  std::set<Edge> out;
  for (std::size_t i = 0; i < ring.size(); i++) {
    const int a = ring[i], b = ring[(i + 1) % ring.size()];
    out.emplace(std::min(a, b), std::max(a, b));
  }
  return out;
}

// The atoms of a set of bonds in their order around it, when the bonds form
// one ring; empty otherwise.
std::vector<int> as_ring(const std::set<Edge> &edges, std::size_t atoms) {
  std::vector<std::vector<int>> next(atoms);
  for (const auto &[a, b] : edges) {
    next[a].push_back(b);
    next[b].push_back(a);
  }
  if (edges.empty()) return {};
  for (const auto &list : next) {
    if (!list.empty() && list.size() != 2) return {};
  }
  std::vector<int> ring{edges.begin()->first};
  for (int prev = -1, v = ring[0];;) {
    const int w = next[v][0] != prev ? next[v][0] : next[v][1];
    if (w == ring[0]) break;
    ring.push_back(w);
    prev = v;
    v = w;
  }
  return ring.size() == edges.size() ? ring : std::vector<int>{};
}

// The rings to try on the outside: the smallest rings, and the ring around
// each two of them that share a path (the six-ring of norbornane around its
// two five-rings), each once.
std::vector<std::vector<int>> outer_rings(const Graph &g, const std::vector<char> &core) {
  std::vector<std::vector<int>> out = rings(g, core);
  std::set<std::set<Edge>> seen;
  std::vector<std::set<Edge>> edges;
  for (const auto &ring : out) seen.insert(edges.emplace_back(edges_of(ring)));
  const std::size_t smallest = out.size();
  for (std::size_t i = 0; i < smallest; i++) {
    for (std::size_t j = i + 1; j < smallest; j++) {
      std::set<Edge> around;
      std::set_symmetric_difference(edges[i].begin(), edges[i].end(), edges[j].begin(),
                                    edges[j].end(), std::inserter(around, around.end()));
      std::vector<int> ring = as_ring(around, g.size());
      if (!ring.empty() && seen.insert(around).second) out.push_back(std::move(ring));
    }
  }
  return out;
}

// The ring on a regular polygon of side 1, every other core atom at the mean
// of its core neighbours (relaxed in place until it settles).
void barycentric(const Graph &g, const std::vector<char> &core, const std::vector<int> &ring,
                 std::vector<XY> &at) {
  std::vector<char> fixed(g.size(), 0);
  const auto k = static_cast<double>(ring.size());
  const double r = 0.5 / std::sin(std::numbers::pi / k);
  for (std::size_t i = 0; i < ring.size(); i++) {
    const double t = 2 * std::numbers::pi * static_cast<double>(i) / k;
    at[ring[i]] = {r * std::cos(t), r * std::sin(t)};
    fixed[ring[i]] = 1;
  }
  for (int step = 0; step < kRelaxSteps; step++) {
    double moved = 0;
    for (std::size_t v = 0; v < g.size(); v++) {
      if (core[v] == 0 || fixed[v] != 0) continue;
      XY mean;
      int count = 0;
      for (int w : g[v]) {
        if (core[w] == 0) continue;
        mean = {mean.x + at[w].x, mean.y + at[w].y};
        count++;
      }
      mean = {mean.x / count, mean.y / count};
      moved = std::max(moved, std::hypot(mean.x - at[v].x, mean.y - at[v].y));
      at[v] = mean;
    }
    if (moved < 1e-9) break;
  }
}

// The atoms taken off the core, set out from the atom they hang from at one
// unit, away from its other neighbours; several fan out over up to half a turn.
void attach_chains(const Graph &g, const std::vector<char> &core, const std::vector<int> &parent,
                   std::vector<XY> &at) {
  std::vector<char> placed(core.begin(), core.end());
  std::deque<int> queue;
  for (std::size_t v = 0; v < g.size(); v++) {
    if (core[v] != 0) queue.push_back(static_cast<int>(v));
  }
  while (!queue.empty()) {
    const int p = queue.front();
    queue.pop_front();
    std::vector<int> children;
    XY away;
    for (int w : g[p]) {
      if (placed[w] == 0 && parent[w] == p) {
        children.push_back(w);
      } else if (placed[w] != 0) {
        away = {away.x + at[p].x - at[w].x, away.y + at[p].y - at[w].y};
      }
    }
    if (children.empty()) continue;
    const double base = away.x == 0 && away.y == 0 ? 0.0 : std::atan2(away.y, away.x);
    const double c = static_cast<double>(children.size());
    const double spread = std::min(2 * std::numbers::pi / 3 * (c - 1), std::numbers::pi);
    for (std::size_t i = 0; i < children.size(); i++) {
      const double t =
          base + (children.size() == 1 ? 0.0 : spread * (static_cast<double>(i) / (c - 1) - 0.5));
      at[children[i]] = {at[p].x + std::cos(t), at[p].y + std::sin(t)};
      placed[children[i]] = 1;
      queue.push_back(children[i]);
    }
  }
}

double side(XY a, XY b, XY c) {
  return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

double to_segment(XY p, XY a, XY b) {
  const double dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
  const double t =
      len2 > 0 ? std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / len2, 0.0, 1.0) : 0;
  return std::hypot(p.x - a.x - t * dx, p.y - a.y - t * dy);
}

// How well a layout draws: its faults (pairs of bonds that cross, atoms lying
// on a bond of two others, pairs of atoms nearly on one spot), and the least
// distance between two atoms, both measured against the median bond length.
struct Quality {
  int faults = 0;
  double spread = 0.0;
  bool operator<(const Quality &o) const {
    return faults != o.faults ? faults > o.faults : spread < o.spread;
  }
};

Quality quality(const Graph &g, const std::vector<XY> &at) {
  std::vector<std::pair<int, int>> bonds;
  std::vector<double> lengths;
  for (std::size_t a = 0; a < g.size(); a++) {
    for (int b : g[a]) {
      if (b <= static_cast<int>(a)) continue;
      bonds.emplace_back(static_cast<int>(a), b);
      lengths.push_back(std::hypot(at[a].x - at[b].x, at[a].y - at[b].y));
    }
  }
  std::nth_element(lengths.begin(), lengths.begin() + lengths.size() / 2, lengths.end());
  const double unit = lengths.empty() ? 1.0 : lengths[lengths.size() / 2];
  if (!(unit > 0)) return {static_cast<int>(g.size() * g.size()), 0.0};
  const double eps = 1e-9 * unit * unit;
  int count = 0;
  double least = HUGE_VAL;
  for (std::size_t i = 0; i < bonds.size(); i++) {
    const auto [a, b] = bonds[i];
    for (std::size_t j = i + 1; j < bonds.size(); j++) {
      const auto [p, q] = bonds[j];
      if (p == a || p == b || q == a || q == b) continue;
      const double s1 = side(at[a], at[b], at[p]), s2 = side(at[a], at[b], at[q]);
      const double s3 = side(at[p], at[q], at[a]), s4 = side(at[p], at[q], at[b]);
      if (s1 * s2 < -eps * eps && s3 * s4 < -eps * eps) count++;
    }
    for (std::size_t v = 0; v < g.size(); v++) {
      const int w = static_cast<int>(v);
      if (w != a && w != b && to_segment(at[v], at[a], at[b]) < 0.15 * unit) count++;
    }
  }
  for (std::size_t u = 0; u < g.size(); u++) {
    for (std::size_t v = u + 1; v < g.size(); v++) {
      const double d = std::hypot(at[u].x - at[v].x, at[u].y - at[v].y);
      if (d < 0.3 * unit) count++;
      least = std::min(least, d);
    }
  }
  return {count, least / unit};
}

}  // namespace

std::vector<XY> layout(const Graph &g) {
  const std::size_t n = g.size();
  std::vector<XY> best = circle(n);
  if (n < 4 || n > kMaxAtoms || !connected(g)) return best;
  Quality best_quality = quality(g, best);
  if (best_quality.faults == 0) return best;  // the circle where it is clean
  std::vector<int> parent, peeled;
  const std::vector<char> core = core_of(g, parent, peeled);
  // The fewest faults, then the atoms farthest apart (the first of equals).
  for (const std::vector<int> &ring : outer_rings(g, core)) {
    std::vector<XY> at(n);
    barycentric(g, core, ring, at);
    attach_chains(g, core, parent, at);
    const Quality q = quality(g, at);
    if (best_quality < q) {
      best = std::move(at);
      best_quality = q;
    }
  }
  return best;
}

}  // namespace depict::schematic
