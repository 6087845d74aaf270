#include "depict/depict.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <numbers>

#include "cpdgraph.h"
#include "depict/schematic.h"
#include "exe1.h"

namespace depict {

namespace {

struct Point {
  double x = 0.0, y = 0.0;
};

struct Bond {
  int a = 0, b = 0;  // 0-based atoms
  int order = 0;     // 1, 2, 3; 0 when the record gives none of these
};

// A record as the drawing needs it: labels, coordinates and bonds.
struct Molecule {
  std::vector<std::string> element;  // label: element symbol, else the type, else "?"
  std::vector<std::string> type;
  std::vector<Point> at;  // record coordinates (y up)
  std::vector<Bond> bonds;
  std::vector<std::vector<int>> neighbours;
  bool has_coordinates = true;
  std::vector<int> hydrogens;  // hydrogens shown in the atom's label (0: none)
  std::vector<char> folded;    // an H atom shown in its neighbour's label instead
};

// Atoms placed on the page (y down), in pixels.
struct Placement {
  std::vector<Point> p;
  double width = 0.0, height = 0.0;
  double unit = 0.0;  // drawn bond length
};

// Blank-separated fields of a record line, its line end excluded.
std::vector<std::string_view> fields(const char *line) {
  std::vector<std::string_view> out;
  if (line == nullptr) return out;
  std::string_view s(line);
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n')) i++;
    const std::size_t start = i;
    while (i < s.size() && s[i] != ' ' && s[i] != '\t' && s[i] != '\r' && s[i] != '\n') i++;
    if (i > start) out.push_back(s.substr(start, i - start));
  }
  return out;
}

bool real_field(const std::vector<std::string_view> &f, std::size_t k, double &out) {
  if (k >= f.size()) return false;
  const std::string text(f[k]);
  char *end = nullptr;
  out = std::strtod(text.c_str(), &end);
  return end != text.c_str() && *end == '\0' && std::isfinite(out);
}

int int_field(const std::vector<std::string_view> &f, std::size_t k) {
  if (k >= f.size()) return 0;
  const std::string text(f[k]);
  char *end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || *end != '\0' || errno != 0 || v < INT_MIN || v > INT_MAX) return 0;
  return static_cast<int>(v);
}

Molecule molecule_of(const CPDMOL &mol) {
  Molecule m;
  const int n = std::max(0, mol.nodenum);
  m.neighbours.resize(n);
  for (int k = 0; k < n; k++) {
    const auto f = fields(static_cast<const char *>(complist_getdata(mol.node, k + 1)));
    m.type.emplace_back(f.size() > 1 ? f[1] : "");
    m.element.emplace_back(f.size() > 2 ? f[2] : f.size() > 1 ? f[1] : "?");
    Point p;
    m.has_coordinates = real_field(f, 3, p.x) && real_field(f, 4, p.y) && m.has_coordinates;
    m.at.push_back(p);
  }
  // All atoms on one spot is how records without a depiction come.
  if (n >= 2 && std::all_of(m.at.begin(), m.at.end(),
                            [&](const Point &p) { return p.x == m.at[0].x && p.y == m.at[0].y; })) {
    m.has_coordinates = false;
  }
  const int lines = mol.connect != nullptr ? complist_numberof(mol.connect) : 0;
  for (int k = 1; k <= lines; k++) {
    const auto f = fields(static_cast<const char *>(complist_getdata(mol.connect, k)));
    const int a = int_field(f, 1), b = int_field(f, 2);
    // Lines that do not name two atoms of the record are ignored, as the engine does.
    if (a < 1 || a > n || b < 1 || b > n || a == b) continue;
    const int order = int_field(f, 3);
    m.bonds.push_back({a - 1, b - 1, order >= 1 && order <= 3 ? order : 0});
    auto &na = m.neighbours[a - 1];
    if (std::find(na.begin(), na.end(), b - 1) == na.end()) {
      na.push_back(b - 1);
      m.neighbours[b - 1].push_back(a - 1);
    }
  }
  return m;
}

bool heteroatom(std::string_view e) {
  return !e.empty() && e != "C" && e != "H" && e != "R" && e != "*" && e != "?";
}

// Whether the record's H atoms are all of its hydrogens: every carbon has its
// four bonds, each with its order. Records that keep only some hydrogens (at
// stereocentres, say) fail, and then no count is shown at all.
bool all_hydrogens_written(const Molecule &m) {
  std::vector<int> valence(m.element.size(), 0);
  for (const Bond &b : m.bonds) {
    if (b.order == 0) return false;
    valence[b.a] += b.order;
    valence[b.b] += b.order;
  }
  for (std::size_t k = 0; k < valence.size(); k++) {
    if (m.element[k] == "C" && valence[k] != 4) return false;
  }
  return true;
}

// The hydrogens each heteroatom's label shows: its H atoms (type H, bonded to
// it alone), folded into the label, when the record writes all its hydrogens;
// and with `implicit` (one count per atom, as a converter kept them from the
// molecule) those not written as atoms. Without either nothing is counted:
// no label shows a count that the record does not give.
void count_hydrogens(Molecule &m, std::span<const int> implicit) {
  const std::size_t n = m.element.size();
  m.hydrogens.assign(n, 0);
  m.folded.assign(n, 0);
  const bool kept = implicit.size() == n;
  if (!kept && !all_hydrogens_written(m)) return;
  for (std::size_t k = 0; k < n; k++) {
    if (m.type[k] != "H" || m.neighbours[k].size() != 1) continue;
    const int to = m.neighbours[k][0];
    if (!heteroatom(m.element[to])) continue;
    m.folded[k] = 1;
    m.hydrogens[to]++;
  }
  for (std::size_t k = 0; kept && k < n; k++) {
    if (heteroatom(m.element[k])) m.hydrogens[k] += std::max(0, implicit[k]);
  }
}

double distance(const Point &p, const Point &q) {
  return std::hypot(p.x - q.x, p.y - q.y);
}

double median(std::vector<double> v) {
  if (v.empty()) return 0.0;
  std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
  return v[v.size() / 2];
}

// The piece whose atoms decide the orientation: the largest (the first of
// equal ones), the common core the eye follows; an alignment's small pieces
// often sit where the core's symmetry puts them rather than where they would
// fit. 0, meaning every aligned atom, when no piece has two atoms.
int core_piece(std::span<const AlignedAtom> aligned) {
  std::vector<int> sizes;
  for (const AlignedAtom &x : aligned) {
    if (x.piece < 1) continue;
    if (static_cast<int>(sizes.size()) < x.piece) sizes.resize(x.piece, 0);
    sizes[x.piece - 1]++;
  }
  const auto largest = std::max_element(sizes.begin(), sizes.end());
  return largest != sizes.end() && *largest >= 2 ? static_cast<int>(largest - sizes.begin()) + 1
                                                 : 0;
}

// Turns the second compound's coordinates so that its aligned atoms (those of
// the core piece) lie over those of the first: the rotation, after a
// reflection where that fits better, that makes the sum of squared distances
// between them least once both sets are centred. Each drawing is scaled to its own bond length
// afterwards, so scale does not enter; neither does where the drawing sits.
// Left as it is with fewer than two aligned atoms, when the atoms fitted in
// either compound share one spot, or without coordinates on either side.
void orient(Molecule &b, const Molecule &a, std::span<const AlignedAtom> aligned) {
  if (!a.has_coordinates || !b.has_coordinates) return;
  const int core = core_piece(aligned);
  std::vector<std::pair<Point, Point>> pairs;  // (first compound, second)
  const auto na = static_cast<int>(a.at.size()), nb = static_cast<int>(b.at.size());
  for (const AlignedAtom &x : aligned) {
    if (core != 0 && x.piece != core) continue;
    if (x.a >= 1 && x.a <= na && x.b >= 1 && x.b <= nb)
      pairs.emplace_back(a.at[x.a - 1], b.at[x.b - 1]);
  }
  if (pairs.size() < 2) return;
  Point ca, cb;
  for (const auto &[p, q] : pairs) {
    ca = {ca.x + p.x, ca.y + p.y};
    cb = {cb.x + q.x, cb.y + q.y};
  }
  const auto count = static_cast<double>(pairs.size());
  ca = {ca.x / count, ca.y / count};
  cb = {cb.x / count, cb.y / count};
  // p . R(t) q = cos t * dot + sin t * cross, largest at t = atan2(cross, dot);
  // the same with q reflected (y -> -y) gives the mirrored fit.
  double dot = 0, crs = 0, dot_m = 0, crs_m = 0, size_a = 0, size_b = 0;
  for (const auto &[p0, q0] : pairs) {
    const Point p{p0.x - ca.x, p0.y - ca.y}, q{q0.x - cb.x, q0.y - cb.y};
    dot += p.x * q.x + p.y * q.y;
    crs += p.y * q.x - p.x * q.y;
    dot_m += p.x * q.x - p.y * q.y;
    crs_m += p.y * q.x + p.x * q.y;
    size_a += p.x * p.x + p.y * p.y;
    size_b += q.x * q.x + q.y * q.y;
  }
  if (size_a <= 0 || size_b <= 0) return;
  const double plain = std::hypot(dot, crs), mirrored = std::hypot(dot_m, crs_m);
  // A reflection only where it fits clearly better: symmetric sets fit both
  // ways, and then the drawing keeps its handedness.
  const bool mirror = mirrored > plain * (1 + 1e-9) + 1e-12 * std::sqrt(size_a * size_b);
  const double t = mirror ? std::atan2(crs_m, dot_m) : std::atan2(crs, dot);
  const double c = std::cos(t), s = std::sin(t);
  for (Point &q : b.at) {
    const double x = q.x - cb.x, y = mirror ? cb.y - q.y : q.y - cb.y;
    q = {c * x - s * y, s * x + c * y};
  }
}

// Scaled so that the median bond (or, without bonds, the median distance to
// the nearest atom) has the common bond length; records without coordinates
// get a schematic layout.
Placement place(const Molecule &m, const Options &o) {
  const std::size_t n = m.at.size();
  std::vector<Point> at = m.at;
  if (!m.has_coordinates) {
    const std::vector<schematic::XY> xy = schematic::layout(m.neighbours);
    for (std::size_t k = 0; k < n; k++) at[k] = {xy[k].x, xy[k].y};
  }
  std::vector<double> lengths;
  for (const Bond &b : m.bonds) {
    const double d = distance(at[b.a], at[b.b]);
    if (d > 0) lengths.push_back(d);
  }
  if (lengths.empty() && n >= 2 && n <= 500) {
    for (std::size_t i = 0; i < n; i++) {
      double best = 0.0;
      for (std::size_t j = 0; j < n; j++) {
        const double d = distance(at[i], at[j]);
        if (j != i && d > 0 && (best == 0.0 || d < best)) best = d;
      }
      if (best > 0) lengths.push_back(best);
    }
  }
  const double typical = median(lengths);
  double scale = typical > 0 ? o.bond_length / typical : o.bond_length;
  Point lo{0, 0}, hi{0, 0};
  if (n > 0) {
    lo = hi = at[0];
    for (const Point &p : at) {
      lo = {std::min(lo.x, p.x), std::min(lo.y, p.y)};
      hi = {std::max(hi.x, p.x), std::max(hi.y, p.y)};
    }
  }
  const double inner = std::max(1.0, o.max_side - 2 * o.margin);
  const double extent = std::max(hi.x - lo.x, hi.y - lo.y) * scale;
  if (extent > inner) scale *= inner / extent;
  Placement out;
  out.unit = (typical > 0 ? typical : 1.0) * scale;
  for (const Point &p : at) {
    out.p.push_back({(p.x - lo.x) * scale + o.margin, (hi.y - p.y) * scale + o.margin});
  }
  out.width = (hi.x - lo.x) * scale + 2 * o.margin;
  out.height = (hi.y - lo.y) * scale + 2 * o.margin;
  return out;
}

bool labelled(const Molecule &m, int atom) {
  return m.element[atom] != "C" || m.neighbours[atom].empty();
}

std::string_view element_colour(std::string_view e) {
  if (e == "N") return "#2343c8";
  if (e == "O") return "#d42a1e";
  if (e == "S") return "#a08400";
  if (e == "P") return "#d06a00";
  if (e == "F" || e == "Cl") return "#1b8f2a";
  if (e == "Br") return "#9a2b2b";
  if (e == "I") return "#7a2aa0";
  if (e == "R" || e == "*") return "#7a5a8c";
  return "#222222";
}

void fmt(std::string &out, double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", std::abs(v) < 0.05 ? 0.0 : v);
  out += buf;
}

void line(std::string &out, Point p, Point q, const char *extra = "") {
  out += "<line x1=\"";
  fmt(out, p.x);
  out += "\" y1=\"";
  fmt(out, p.y);
  out += "\" x2=\"";
  fmt(out, q.x);
  out += "\" y2=\"";
  fmt(out, q.y);
  out += '"';
  out += extra;
  out += "/>";
}

void text(std::string &out, Point p, std::string_view content, std::string_view attrs = "") {
  out += "<text x=\"";
  fmt(out, p.x);
  out += "\" y=\"";
  fmt(out, p.y);
  // Centred on y by a shift rather than dominant-baseline, which librsvg
  // (the PNG renderer) does not honour; 0.35 em is the middle of the em box.
  out += "\" dy=\"0.35em\"";
  out += attrs;
  out += '>';
  out += escape(content);
  out += "</text>";
}

// Code points of a cleaned string, counted by their lead bytes.
std::size_t length(std::string_view s) {
  return static_cast<std::size_t>(
      std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// Invalid UTF-8 and characters XML forbids become U+FFFD.
std::string clean_utf8(std::string_view s) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::string out;
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    int len = c < 0x80             ? 1
              : (c & 0xE0) == 0xC0 ? 2
              : (c & 0xF0) == 0xE0 ? 3
              : (c & 0xF8) == 0xF0 ? 4
                                   : 0;
    unsigned cp = len == 1 ? c : len == 2 ? c & 0x1Fu : len == 3 ? c & 0x0Fu : c & 0x07u;
    bool ok = len > 0 && i + len <= s.size();
    for (int k = 1; ok && k < len; k++) {
      const auto d = static_cast<unsigned char>(s[i + k]);
      ok = (d & 0xC0) == 0x80;
      cp = (cp << 6) | (d & 0x3Fu);
    }
    static constexpr std::array<unsigned, 5> kMin = {0, 0, 0x80, 0x800, 0x10000};
    ok = ok && cp >= kMin[len] && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF) &&
         cp != 0xFFFE && cp != 0xFFFF;
    if (ok && cp < 0x20) ok = false;
    if (ok && cp == 0x7F) ok = false;
    if (ok) {
      out.append(s.substr(i, len));
      i += len;
    } else {
      out += c == '\t' ? std::string_view(" ") : kReplacement;
      i += 1;
    }
  }
  return out;
}

// At most `max` characters, an ellipsis marking a cut.
std::string shorten(std::string_view s, std::size_t max) {
  if (max == 0) return "";
  std::string clean = clean_utf8(s);
  if (length(clean) <= max) return clean;
  std::size_t kept = 0, i = 0;
  for (; i < clean.size(); i++) {
    if ((clean[i] & 0xC0) != 0x80 && kept++ == max - 1) break;
  }
  return clean.substr(0, i) + "\xE2\x80\xA6";
}

// Side (+1, -1) of the bond a-b on which its second line goes, and whether it
// lies in a ring (then the second line goes inside, shortened).
struct Side {
  int sign = 0;  // 0: both lines centred on the bond
  bool ring = false;
};

double cross(Point p, Point q, Point r) {
  return (q.x - p.x) * (r.y - p.y) - (q.y - p.y) * (r.x - p.x);
}

Side double_side(const Molecule &m, const Placement &pl, const Bond &b) {
  // Smallest ring through the bond: shortest path from a to b without it.
  constexpr int kMaxRing = 8;
  const std::size_t n = m.neighbours.size();
  std::vector<int> from(n, -2), depth(n, 0);
  std::deque<int> queue{b.a};
  from[b.a] = -1;
  while (!queue.empty() && from[b.b] == -2) {
    const int v = queue.front();
    queue.pop_front();
    if (depth[v] >= kMaxRing - 1) continue;
    for (int w : m.neighbours[v]) {
      if (from[w] != -2 || (v == b.a && w == b.b)) continue;
      from[w] = v;
      depth[w] = depth[v] + 1;
      queue.push_back(w);
    }
  }
  const Point p = pl.p[b.a], q = pl.p[b.b];
  if (from[b.b] != -2) {
    Point centre;
    int count = 0;
    for (int v = b.b; v != -1; v = from[v], count++) {
      centre.x += pl.p[v].x;
      centre.y += pl.p[v].y;
    }
    centre = {centre.x / count, centre.y / count};
    const double c = cross(p, q, centre);
    if (c != 0) return {c > 0 ? 1 : -1, true};
  }
  // Outside rings: towards the substituents, centred at a chain end.
  if (m.neighbours[b.a].size() < 2 || m.neighbours[b.b].size() < 2) return {};
  double sum = 0;
  for (int end : {b.a, b.b}) {
    for (int w : m.neighbours[end]) {
      if (w == b.a || w == b.b) continue;
      const double c = cross(p, q, pl.p[w]);
      sum += c > 0 ? 1 : c < 0 ? -1 : 0;
    }
  }
  return {sum > 0 ? 1 : sum < 0 ? -1 : 0, false};
}

// Distance kept free around a label.
double label_gap(const Molecule &m, int atom, const Options &o) {
  if (!labelled(m, atom)) return 0.0;
  return o.font_size * (m.element[atom].size() > 1 ? 0.75 : 0.55);
}

// The bond lines of one bond, inside their element.
void draw_bond(std::string &out, const Molecule &m, const Placement &pl, const Bond &b,
               const Options &o) {
  Point p = pl.p[b.a], q = pl.p[b.b];
  const double len = distance(p, q);
  out += "<g data-bond=\"" + std::to_string(b.a + 1) + '-' + std::to_string(b.b + 1) +
         "\" data-order=\"" + std::to_string(b.order) + '"';
  const bool folded = m.folded[b.a] != 0 || m.folded[b.b] != 0;
  out += folded ? " data-folded=\"1\">" : ">";
  if (len <= 0 || folded) {
    out += "</g>";
    return;
  }
  const Point u{(q.x - p.x) / len, (q.y - p.y) / len};
  const Point nrm{-u.y, u.x};
  const double ga = std::min(label_gap(m, b.a, o), 0.4 * len);
  const double gb = std::min(label_gap(m, b.b, o), 0.4 * len);
  p = {p.x + u.x * ga, p.y + u.y * ga};
  q = {q.x - u.x * gb, q.y - u.y * gb};
  auto shifted = [&](double off, double trim_a, double trim_b) {
    line(out, {p.x + nrm.x * off + u.x * trim_a, p.y + nrm.y * off + u.y * trim_a},
         {q.x + nrm.x * off - u.x * trim_b, q.y + nrm.y * off - u.y * trim_b});
  };
  const double gap = std::max(2.5, pl.unit * 0.16);
  switch (b.order) {
    case 2: {
      const Side side = double_side(m, pl, b);
      if (side.sign == 0) {
        shifted(gap / 2, 0, 0);
        shifted(-gap / 2, 0, 0);
      } else {
        // The side the second line takes is where a ring's centre (or the
        // substituents) lie; its ends are drawn in unless a label stops them.
        const double inset = pl.unit * 0.14;
        line(out, p, q);
        shifted(side.sign * gap, ga > 0 ? 0 : inset, gb > 0 ? 0 : inset);
      }
      break;
    }
    case 3:
      line(out, p, q);
      shifted(gap, 0, 0);
      shifted(-gap, 0, 0);
      break;
    case 1:
      line(out, p, q);
      break;
    default:  // no order given: dashed
      line(out, p, q, " stroke-dasharray=\"4 3\"");
      break;
  }
  out += "</g>";
}

// Half the drawn width of an element symbol, near enough for DejaVu Sans.
double symbol_half_width(std::string_view symbol, const Options &o) {
  double em = 0;
  for (char c : symbol) em += std::isupper(static_cast<unsigned char>(c)) ? 0.74 : 0.55;
  return em * o.font_size / 2;
}

// "H" and its count beside an atom's label, on the side (right, else left)
// whose nearest drawn bond is farther away.
void hydrogen_label(std::string &out, const Molecule &m, const Placement &pl, int atom,
                    const Options &o) {
  const Point at = pl.p[atom];
  double right = std::numbers::pi, left = std::numbers::pi;  // clearance of each side
  int drawn = 0;                                             // bonds drawn from the atom
  for (int w : m.neighbours[atom]) {
    if (m.folded[w] != 0) continue;
    const double dx = pl.p[w].x - at.x, dy = pl.p[w].y - at.y;
    if (dx == 0 && dy == 0) continue;
    drawn++;
    const double angle = std::abs(std::atan2(dy, dx));  // 0: to the right
    right = std::min(right, angle);
    left = std::min(left, std::numbers::pi - angle);
  }
  // Alone, oxygen and sulfur take theirs in front, as in H2O and H2S.
  const bool on_left =
      drawn == 0 ? m.element[atom] == "O" || m.element[atom] == "S" : left > right + 1e-9;
  const double half = symbol_half_width(shorten(m.element[atom], 4), o) + 0.5;
  text(out, {on_left ? at.x - half : at.x + half, at.y}, "H",
       std::string(" class=\"h\" text-anchor=\"") + (on_left ? "end" : "start") + "\" fill=\"" +
           std::string(element_colour(m.element[atom])) + '"');
  const int count = m.hydrogens[atom];
  if (count > 1) {
    // The count goes into the same text element as a lowered, smaller tspan.
    out.resize(out.size() - std::string_view("</text>").size());
    out += "<tspan dy=\"";
    fmt(out, o.font_size * 0.3);
    out += "\" font-size=\"";
    fmt(out, o.font_size * 0.75);
    out += "\">" + std::to_string(count) + "</tspan></text>";
  }
}

// The element of one atom: its title, the highlight of its piece, its label.
void draw_atom(std::string &out, const Molecule &m, const Placement &pl, int piece, int atom,
               const Options &o) {
  const auto k = static_cast<std::size_t>(atom);
  out += "<g data-atom=\"" + std::to_string(atom + 1) + '"';
  if (piece != 0) out += " data-piece=\"" + std::to_string(piece) + '"';
  if (m.folded[k] != 0) out += " data-folded=\"1\"";
  out += "><title>" + std::to_string(atom + 1) + ' ' + escape(shorten(m.type[k], 40)) + "</title>";
  if (piece != 0) {
    out += "<circle cx=\"";
    fmt(out, pl.p[k].x);
    out += "\" cy=\"";
    fmt(out, pl.p[k].y);
    out += "\" r=\"";
    fmt(out, std::max(pl.unit * 0.22, o.font_size * 0.46));
    out += "\" fill=\"" + std::string(piece_colour(piece)) + "\"/>";
  }
  if (m.folded[k] == 0 && labelled(m, atom)) {
    text(out, pl.p[k], shorten(m.element[k], 4),
         " fill=\"" + std::string(element_colour(m.element[k])) + '"');
    if (m.hydrogens[k] > 0) hydrogen_label(out, m, pl, atom, o);
  }
  out += "</g>";
}

// One compound at (ox, oy); piece[k] is atom k's piece (0: not aligned).
void draw_molecule(std::string &out, const Molecule &m, const Placement &pl,
                   std::span<const int> piece, const Options &o, int compound, double ox,
                   double oy) {
  out +=
      "<g class=\"mol\" data-compound=\"" + std::to_string(compound) + "\" transform=\"translate(";
  fmt(out, ox);
  out += ',';
  fmt(out, oy);
  out += ")\">";
  // Highlights below everything: bonds whose two atoms lie in one piece, in
  // bands narrower than the labels so that crowded rings stay readable; then
  // atoms with their labels, then the bond lines (shortened at labels).
  out += "<g stroke-width=\"";
  fmt(out, pl.unit * 0.26);
  out += "\" stroke-linecap=\"round\">";
  for (const Bond &b : m.bonds) {
    if (piece[b.a] == 0 || piece[b.a] != piece[b.b]) continue;
    line(out, pl.p[b.a], pl.p[b.b],
         (" stroke=\"" + std::string(piece_colour(piece[b.a])) + '"').c_str());
  }
  out += "</g>";
  for (std::size_t k = 0; k < m.element.size(); k++) {
    draw_atom(out, m, pl, piece[k], static_cast<int>(k), o);
  }
  out += "<g stroke=\"#222222\" stroke-width=\"";
  fmt(out, std::max(1.2, pl.unit * 0.045));
  out += "\">";
  for (const Bond &b : m.bonds) draw_bond(out, m, pl, b, o);
  out += "</g></g>";
}

constexpr double kMinPanel = 220.0;
constexpr double kLine = 18.0;  // height of a line of text

void svg_open(std::string &out, double w, double h, const Options &o) {
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"";
  fmt(out, w);
  out += "\" height=\"";
  fmt(out, h);
  out += "\" viewBox=\"0 0 ";
  fmt(out, w);
  out += ' ';
  fmt(out, h);
  out += "\" font-family=\"DejaVu Sans, Arial, sans-serif\" font-size=\"";
  fmt(out, o.font_size);
  out +=
      "\" text-anchor=\"middle\">"
      "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>";
}

const char *kNote = " fill=\"#777777\" font-style=\"italic\" font-size=\"12\"";

// A panel: the drawing centred in `width`, with a note below when the record
// had no usable coordinates (or no atoms).
void draw_panel(std::string &out, const Molecule &m, const Placement &pl,
                std::span<const int> piece, const Options &o, int compound, double x, double y,
                double width, double height) {
  const double ox = x + (width - pl.width) / 2;
  const double oy = y + (height - kLine - pl.height) / 2;
  draw_molecule(out, m, pl, piece, o, compound, ox, oy);
  const Point note{x + width / 2, y + height - kLine / 2};
  if (m.element.empty()) {
    text(out, {x + width / 2, y + height / 2}, "no atoms", kNote);
  } else if (!m.has_coordinates) {
    text(out, note, "no 2D coordinates: schematic layout", kNote);
  }
}

constexpr double kPanelGap = 16.0;  // between the two compounds of a pair
constexpr double kEntry = 150.0;    // width of a legend entry

// Atom k's piece in each compound (0: not aligned), and the aligned pairs of
// each piece.
struct Marks {
  std::vector<int> a, b;
  std::vector<int> piece_atoms;
};

Marks marks_of(const PairInfo &info, std::size_t atoms_a, std::size_t atoms_b) {
  Marks m{std::vector<int>(atoms_a, 0), std::vector<int>(atoms_b, 0), {}};
  for (const AlignedAtom &x : info.aligned) {
    if (x.piece < 1) continue;
    if (x.a >= 1 && x.a <= static_cast<int>(atoms_a)) m.a[x.a - 1] = x.piece;
    if (x.b >= 1 && x.b <= static_cast<int>(atoms_b)) m.b[x.b - 1] = x.piece;
    if (static_cast<int>(m.piece_atoms.size()) < x.piece) m.piece_atoms.resize(x.piece, 0);
    m.piece_atoms[x.piece - 1]++;
  }
  return m;
}

// The legend: what the score and the coefficient are, in words, then one
// entry of fixed width per piece, wrapped to the page.
struct Legend {
  std::vector<std::string> words;  // lines above the entries
  int pieces = 0;
  int listed = 0;   // pieces named
  int entries = 0;  // with "+N more"
  int per_row = 1;
  double height = 0.0;
};

std::string atoms_word(int n) {
  return std::to_string(n) + (n == 1 ? " atom" : " atoms");
}

Legend legend_layout(const PairInfo &info, std::span<const int> piece_atoms, const Options &o,
                     double width) {
  Legend l;
  l.pieces = static_cast<int>(piece_atoms.size());
  if (l.pieces == 0) {
    l.words.emplace_back("no aligned atoms");
  } else {
    l.words.push_back("score " + std::to_string(info.score) + ": atom pairs aligned, in " +
                      std::to_string(l.pieces) + (l.pieces == 1 ? " piece" : " pieces"));
    char ratio[160];
    std::snprintf(ratio, sizeof ratio,
                  "coefficient %f = %d / (%d + %d \xE2\x88\x92 %d), atoms other than H and *",
                  info.coefficient, info.score, info.atoms_a, info.atoms_b, info.score);
    l.words.emplace_back(ratio);
  }
  l.listed = std::min(l.pieces, std::max(0, o.legend_entries));
  l.entries = l.listed + (l.pieces > l.listed ? 1 : 0);
  l.per_row = std::max(1, static_cast<int>((width - 20) / kEntry));
  const int rows = (l.entries + l.per_row - 1) / l.per_row;
  l.height = (static_cast<double>(l.words.size()) + rows) * (kLine + 4) + 10;
  return l;
}

// Pieces are numbered as --align numbers them after "SCCS".
void draw_legend(std::string &out, const Legend &l, std::span<const int> piece_atoms, double ly) {
  out += "<g class=\"legend\" text-anchor=\"start\" font-size=\"12\">";
  for (const std::string &words : l.words) {
    text(out, {10, ly + 9}, words, " fill=\"#444444\"");
    ly += kLine + 4;
  }
  for (int k = 0; k < l.entries; k++) {
    const double x = 10 + (k % l.per_row) * kEntry;
    const double y = ly + (k / l.per_row) * (kLine + 4);
    std::string label;
    if (k < l.listed) {
      out += "<rect x=\"";
      fmt(out, x);
      out += "\" y=\"";
      fmt(out, y + 2);
      out += "\" width=\"14\" height=\"14\" rx=\"3\" fill=\"" + std::string(piece_colour(k + 1)) +
             "\"/>";
      label = "piece " + std::to_string(k + 1) + " \xE2\x80\x94 " + atoms_word(piece_atoms[k]);
    } else {
      label = "+";  // appended piecewise: g++ 12 warns falsely on "+" + std::string
      label += std::to_string(l.pieces - l.listed);
      label += " more";
    }
    text(out, {x + (k < l.listed ? 20 : 0), y + 9}, label);
  }
  out += "</g>";
}

// Identifier and name of one compound above its panel.
void heading(std::string &out, const CPDMOL &mol, double x, double w, double top) {
  text(out, {x + w / 2, top + kLine / 2}, shorten(mol.name != nullptr ? mol.name : "", 40),
       " font-weight=\"bold\"");
  text(out, {x + w / 2, top + kLine * 1.5},
       shorten(mol.definition != nullptr ? mol.definition : "", static_cast<std::size_t>(w / 8)),
       " fill=\"#444444\"");
}

}  // namespace

std::string_view piece_colour(int piece) {
  static constexpr std::array<std::string_view, 10> kPalette = {
      "#7fd17f", "#8cb4f0", "#f5ad66", "#d99be8", "#eed85a",
      "#6fd3cc", "#f29ab6", "#b5c268", "#cfa583", "#a9a6f5"};
  return kPalette[static_cast<std::size_t>(std::max(piece, 1) - 1) % kPalette.size()];
}

std::string escape(std::string_view s) {
  std::string out;
  for (char c : clean_utf8(s)) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::vector<AlignedAtom> engine_alignment() {
  Exe1State &s = exe1_state();
  if (s.status != kStatusComputed && s.status != kStatusCliquesCut) return {};
  get_maxMCSinfo(&s.max_mcs_index, nullptr, nullptr, nullptr, nullptr);
  if (s.mcs_max == 0 || s.max_mcs_index < 0 || s.max_mcs_index >= s.mcsnum) return {};
  // The report's walk: the best clique's pieces in piece-list order, numbered
  // from 1, each piece's nodes in its own order.
  std::vector<AlignedAtom> out;
  const char *row =
      s.mcs_sccs_table + static_cast<std::size_t>(s.max_mcs_index) * cpdgraph_table_stride();
  int number = 0;
  for (int p = 0; p < s.sccsnum; p++) {
    if (row[p] == 0) continue;
    number++;
    const SCCS &piece = s.sccslist[p];
    for (int k = 0; k < piece.vnum; k++) {
      const DNODE &node = s.nodelist[piece.vlist[k]];
      out.push_back({node.e1 + 1, node.e2 + 1, number});
    }
  }
  return out;
}

PairInfo compute_pair(CPDMOL *a, CPDMOL *b) {
  compute_similarity(a, b);
  const Exe1State &s = exe1_state();
  PairInfo info;
  switch (s.status) {
    case kStatusComputed:
    case kStatusCliquesCut: {
      info.score = s.mcs_max;
      const int union_atoms = a->nodenum_sub + b->nodenum_sub - s.mcs_max;
      info.coefficient = union_atoms > 0 ? static_cast<double>(s.mcs_max) / union_atoms : 0.0;
      info.status = s.status == kStatusComputed ? "ok" : "cut:" + std::to_string(s.mcsnum_overflow);
      info.atoms_a = a->nodenum_sub;
      info.atoms_b = b->nodenum_sub;
      break;
    }
    case kStatusNoAtoms:
      info.status = "no-atoms";
      break;
    case kStatusEmptyGraph:
      info.status = "no-match";
      break;
    case kStatusGraphTooLarge:
      info.status = "too-large:" + std::to_string(s.nodenum);
      break;
    default:
      info.status = "missing";
  }
  info.aligned = engine_alignment();
  return info;
}

std::string compound_svg(const CPDMOL &mol, const Options &o, std::span<const int> hydrogens) {
  Molecule m = molecule_of(mol);
  count_hydrogens(m, hydrogens);
  const Placement pl = place(m, o);
  const std::vector<int> none(m.element.size(), 0);
  const double width = std::max(pl.width, kMinPanel);
  const double header = 2 * kLine + 8;
  const double body = std::max(pl.height, 60.0) + kLine;
  std::string out;
  svg_open(out, width, header + body, o);
  text(out, {width / 2, kLine}, mol.name != nullptr ? mol.name : "", " font-weight=\"bold\"");
  text(
      out, {width / 2, 2 * kLine},
      shorten(mol.definition != nullptr ? mol.definition : "", static_cast<std::size_t>(width / 8)),
      " fill=\"#444444\"");
  draw_panel(out, m, pl, none, o, 1, 0, header, width, body);
  out += "</svg>\n";
  return out;
}

std::string pair_svg(const CPDMOL &a, const CPDMOL &b, const PairInfo &info, const Options &o,
                     std::span<const int> hydrogens_a, std::span<const int> hydrogens_b) {
  Molecule ma = molecule_of(a), mb = molecule_of(b);
  count_hydrogens(ma, hydrogens_a);
  count_hydrogens(mb, hydrogens_b);
  orient(mb, ma, info.aligned);
  const Placement pa = place(ma, o), pb = place(mb, o);
  const Marks marks = marks_of(info, ma.element.size(), mb.element.size());

  const double wa = std::max(pa.width, kMinPanel), wb = std::max(pb.width, kMinPanel);
  const double width = wa + kPanelGap + wb;
  const double top = kLine + 10;        // score line
  const double header = 2 * kLine + 8;  // identifier and name of each compound
  const double body = std::max({pa.height, pb.height, 60.0}) + kLine;
  const Legend legend = legend_layout(info, marks.piece_atoms, o, width);
  const double height = top + header + body + legend.height;

  std::string out;
  svg_open(out, width, height, o);
  char numbers[96];
  std::snprintf(numbers, sizeof numbers, "score %d \xC2\xB7 coefficient %f", info.score,
                info.coefficient);
  std::string summary = numbers;
  if (info.status != "ok") summary += " \xC2\xB7 status " + info.status;
  text(out, {width / 2, kLine / 2 + 6}, summary, " font-weight=\"bold\"");
  heading(out, a, 0, wa, top);
  heading(out, b, wa + kPanelGap, wb, top);
  line(out, {wa + kPanelGap / 2, top}, {wa + kPanelGap / 2, top + header + body},
       " stroke=\"#dddddd\"");
  draw_panel(out, ma, pa, marks.a, o, 1, 0, top + header, wa, body);
  draw_panel(out, mb, pb, marks.b, o, 2, wa + kPanelGap, top + header, wb, body);
  draw_legend(out, legend, marks.piece_atoms, top + header + body + 6);
  out += "</svg>\n";
  return out;
}

}  // namespace depict
