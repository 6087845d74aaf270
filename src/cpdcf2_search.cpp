// The clique search: a depth-first branch and bound whose every step, sort
// and record follows one fixed order (see clifinder2), done on bit rows.
//
// This file is compiled twice; CPDCF2_FLAVOUR names the namespace of each
// build (portable, or bmi2 with the bit-manipulation instructions enabled).
#include "cpdcf2_search.h"

#include "maxclique.h"
#include "mcsplit.h"

#include <chrono>
#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <numeric>
#include <optional>
#include <utility>
#include <vector>

#ifdef __BMI2__
#include <immintrin.h>
#endif
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#ifndef CPDCF2_FLAVOUR
#define CPDCF2_FLAVOUR portable
#endif

namespace cpdcf2::CPDCF2_FLAVOUR {

namespace {

using Word = std::uint64_t;

constexpr int kDefaultBudget = 15000;

// Colourings spent on following a level's search out of order before it
// is searched in order; more where cliques are only counted, since more
// levels are known in advance there (measured: 256 saves 12 % of a
// screen's search, and costs 4 % where cliques are listed).
constexpr int kSettleWork = 64;
constexpr int kSettleWorkCounted = 256;

// The sort by bit masks takes up to this many keys, all below 64.
constexpr int kSmallSortKeys = 256;

Word bit(int v) {
  return Word{1} << (v & 63);
}
void set_bit(Word *set, int v) {
  set[v >> 6] |= bit(v);
}
void clear_bit(Word *set, int v) {
  set[v >> 6] &= ~bit(v);
}
bool has_bit(const Word *set, int v) {
  return (set[v >> 6] >> (v & 63)) & 1u;
}

// Room for n values at the front of v. Buffers only grow: a sibling level
// of another size neither frees nor refills what it does not use.
template <class T>
T *room(std::vector<T> &v, std::size_t n) {
  if (v.size() < n) v.resize(n);
  return v.data();
}

// Bits below position v.
Word below(int v) {
  return bit(v) - 1;
}

// Sets positions 0 to n - 1 of a set of `words` words, and no others.
void set_first(Word *set, int words, int n) {
  for (int w = 0; w < words; ++w) {
    const int left = n - 64 * w;
    set[w] = left >= 64 ? ~Word{0} : left > 0 ? below(left) : 0;
  }
}

int count_common(const Word *a, const Word *b, int words) {
  int n = 0;
  for (int w = 0; w < words; ++w) n += std::popcount(a[w] & b[w]);
  return n;
}

// The bits of `src` at the positions set in `mask`, packed downwards.
Word extract_bits(Word src, Word mask) {
#ifdef __BMI2__
  return _pext_u64(src, mask);
#else
  Word out = 0;
  for (Word b = 1; mask != 0; b <<= 1, mask &= mask - 1)
    if (src & mask & (~mask + 1)) out |= b;
  return out;
#endif
}

// Sorts like the plain descending quicksort (pivot the first key; i stops at
// keys <= pivot, j at keys > pivot; exchange; recurse left then right),
// knowing that no key of the range exceeds `bound`.
//
// A partition whose pivot is at least every other key moves nothing and only
// peels the first element off the range; knowing an upper bound lets such
// partitions be skipped without their scan (after a partition around p the
// right part holds keys <= p only). With many equal keys this turns the
// quadratic peeling into a linear walk; every exchange still happens exactly
// as in the plain sort.
void quick_sort_bounded(int datnum, int *dat, int *dat2, int bound) {
  while (datnum >= 2) {
    const int p = dat[0];
    if (p >= bound) {
      ++dat;
      ++dat2;
      --datnum;
      continue;
    }
    int i = 0;
    int j = datnum - 1;
    for (;;) {
      while (i < datnum - 1 && dat[i] > p) ++i;
      while (j > 0 && dat[j] <= p) --j;
      if (i >= j) break;
      std::swap(dat[i], dat[j]);
      std::swap(dat2[i], dat2[j]);
    }
    // The two parts are sorted independently of each other: recurse into the
    // smaller one and loop on the larger one, for a stack of logarithmic depth.
    const int left = j + 1;
    const int right = datnum - left;
    if (left <= right) {
      quick_sort_bounded(left, dat, dat2, bound);
      dat += left;
      dat2 += left;
      datnum = right;
      bound = p;
    } else {
      quick_sort_bounded(right, dat + left, dat2 + left, p);
      datnum = left;
    }
  }
}

// Packs sets over a space down to the members of one set of it (`set`, of
// `words` words): the r-th member by index becomes bit r.
class Compressor {
 public:
  Compressor(const Word *set, int words, int count)
      : set_(set), words_(words), packed_((count + 63) / 64) {
    // Into a single word, the set's non-empty words (at most 64) are each
    // extracted to their place.
    if (packed_ == 1) {
      for (int u = 0, out = 0; u < words; ++u) {
        if (set[u] == 0) continue;
        used_[used_words_] = u;
        shift_[used_words_++] = out;
        out += std::popcount(set[u]);
      }
    }
  }

  void operator()(const Word *src, Word *dst) const {
    if (packed_ == 1) {
      Word bits = 0;
      for (int k = 0; k < used_words_; ++k)
        bits |= extract_bits(src[used_[k]], set_[used_[k]]) << shift_[k];
      dst[0] = bits;
      return;
    }
    std::fill_n(dst, packed_, Word{0});
    int out = 0;
    for (int u = 0; u < words_; ++u) {
      const Word mask = set_[u];
      if (mask == 0) continue;
      const Word bits = extract_bits(src[u], mask);
      const int shift = out & 63;
      dst[out >> 6] |= bits << shift;
      const int width = std::popcount(mask);
      if (shift + width > 64) dst[(out >> 6) + 1] |= bits >> (64 - shift);
      out += width;
    }
  }

 private:
  const Word *set_;
  int words_;
  int packed_;
  int used_words_ = 0;
  int used_[64];
  int shift_[64];
};

// Transposes a 64 x 64 bit block in place: bit c of word r goes to bit r of
// word c. Each round exchanges the off-diagonal quarters of blocks of half
// the size.
void transpose64(Word *a) {
  Word m = 0x00000000FFFFFFFFull;
  for (int j = 32; j != 0; j >>= 1, m ^= m << j) {
    for (int k = 0; k < 64; k = ((k | j) + 1) & ~j) {
      const Word t = ((a[k] >> j) ^ a[k | j]) & m;
      a[k] ^= t << j;
      a[k | j] ^= t;
    }
  }
}

// Sets of up to 64 * W positions as W words.
template <int W>
struct Positions {
  Word w[W];

  static Positions span(int lo, int hi) {  // lo..hi inclusive
    Positions s;
    for (int k = 0; k < W; ++k) {
      const int first = k * 64;
      const int a = std::max(lo - first, 0);
      const int b = std::min(hi - first, 63);
      s.w[k] = a > b ? 0 : (b >= 63 ? ~Word{0} : bit(b + 1) - 1) & ~below(a);
    }
    return s;
  }
  Positions operator&(const Positions &o) const {
    Positions r;
    for (int k = 0; k < W; ++k) r.w[k] = w[k] & o.w[k];
    return r;
  }
  Positions operator~() const {
    Positions r;
    for (int k = 0; k < W; ++k) r.w[k] = ~w[k];
    return r;
  }
  Positions &operator|=(const Positions &o) {
    for (int k = 0; k < W; ++k) w[k] |= o.w[k];
    return *this;
  }
  bool empty() const {
    Word any = 0;
    for (int k = 0; k < W; ++k) any |= w[k];
    return any == 0;
  }
  int count() const {
    int n = 0;
    for (int k = 0; k < W; ++k) n += std::popcount(w[k]);
    return n;
  }
  int lowest() const {  // of a non-empty set
    for (int k = 0; k < W; ++k)
      if (w[k] != 0) return k * 64 + std::countr_zero(w[k]);
    return -1;
  }
  int highest() const {  // of a non-empty set
    for (int k = W - 1; k >= 0; --k)
      if (w[k] != 0) return k * 64 + 63 - std::countl_zero(w[k]);
    return -1;
  }
  void flip(int v) { w[v >> 6] ^= bit(v); }
  void clear(int v) { w[v >> 6] &= ~bit(v); }
};

// The same sort for at most 64 * W keys below 64. A partition around p
// exchanges, pair by pair, the lowest key <= p in the first g positions with
// the highest key > p after them (g keys exceed p): the keys above p are
// found for the whole range at once (bytes compared sixteen at a time) and
// the pairs by bit scans, instead of element by element. Each range carries
// the set of key values it may hold (the values above p go left, the others
// right), so a range of one value is left alone, and a pivot above every
// other key peels off without a scan, as in the plain sort.
template <int W>
class SmallSort {
 public:
  SmallSort(int *dat, int *dat2, int datnum) : dat_(dat), dat2_(dat2) {
    for (int k = 0; k < datnum; ++k) {
      key_[k] = static_cast<std::uint8_t>(dat[k]);
      values_ |= bit(dat[k]);
    }
  }

  Word values() const { return values_; }

  void sort(int lo, int hi, Word values) {
    while (hi > lo && std::popcount(values) > 1) {
      const int p = key_[lo];
      const Word upto_p = p >= 63 ? ~Word{0} : bit(p + 1) - 1;
      if ((values & ~upto_p) == 0) {
        // No key exceeds the pivot: the partition moves nothing.
        ++lo;
        continue;
      }
      const Positions<W> range = Positions<W>::span(lo, hi);
      const Positions<W> gt = above(p, lo, hi) & range;
      const int g = gt.count();
      if (g == 0) {
        ++lo;
        values &= upto_p;
        continue;
      }
      Positions<W> a = range & ~gt & Positions<W>::span(lo, lo + g - 1);
      Positions<W> b = gt & Positions<W>::span(lo + g, hi);
      while (!a.empty()) {
        const int i = a.lowest();
        const int j = b.highest();
        std::swap(key_[i], key_[j]);
        std::swap(dat_[i], dat_[j]);
        std::swap(dat2_[i], dat2_[j]);
        a.clear(i);
        b.clear(j);
      }
      const Word left_values = values & ~upto_p;
      const Word right_values = values & upto_p;
      if (g <= hi - lo + 1 - g) {
        sort(lo, lo + g - 1, left_values);
        lo += g;
        values = right_values;
      } else {
        sort(lo + g, hi, right_values);
        hi = lo + g - 1;
        values = left_values;
      }
    }
  }

 private:
  // Positions lo..hi (and others of the same 16-key blocks) whose key exceeds p.
  Positions<W> above(int p, int lo, int hi) const {
    Positions<W> r{};
#ifdef __SSE2__
    const __m128i pivot = _mm_set1_epi8(static_cast<char>(p));
    for (int c = lo / 16; c <= hi / 16; ++c) {
      const __m128i k = _mm_load_si128(reinterpret_cast<const __m128i *>(key_ + 16 * c));
      const Word bits = static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpgt_epi8(k, pivot)));
      r.w[c / 4] |= bits << (16 * (c % 4));
    }
#else
    for (int k = lo; k <= hi; ++k)
      if (key_[k] > p) r.w[k >> 6] |= bit(k);
#endif
    return r;
  }

  int *dat_;
  int *dat2_;
  alignas(16) std::uint8_t key_[64 * W];
  Word values_ = 0;
};

template <int W>
void sort_small(int datnum, int *dat, int *dat2) {
  SmallSort<W> s(dat, dat2, datnum);
  s.sort(0, datnum - 1, s.values());
}

// What a search known in advance counts: its steps, and the cliques as large
// as the best that it finds (known in advance only where cliques are counted,
// not listed).
struct Tally {
  long long steps = 0;
  long long records = 0;
};

// Scratch of one search level, kept per depth and reused by sibling levels
// and by later searches of the same thread.
struct Level {
  const Word *rows = nullptr;  // the level's space: adjacency rows of `words` words
  int words = 0;
  int size = 0;                // indices in the space
  const int *ids = nullptr;    // node number of each index
  std::vector<Word> own_rows;  // a space packed for this level
  std::vector<int> own_ids;
  std::vector<int> order;      // the candidates (space indices) in search order
  std::vector<int> key;        // sum or colour per candidate
  std::vector<Word> rest;      // the candidates, then those not yet tried (space bits)
  std::vector<Word> members;   // colour classes (space bits), `colours` of them
  std::vector<Word> touched;   // per colour: the candidates adjacent to one of its members
  std::vector<int> colour_of;  // colour per space index
  int colours = 0;
  bool by_colour = false;        // the order is by descending colour of `members`
  bool listed = false;           // ordered by sums, with its space in list order
  int from = 0;                  // the parent's position of the node chosen last,
  int end = 0;                   // and the end of its candidate list
  std::vector<int> rank;         // packing: new index of each index of the space
  std::vector<Word> outer;       // packing: the candidates in the space before it
  std::vector<Word> settled;     // candidates whose try is known to go no deeper
  std::vector<Word> resolved;    // candidates whose try's whole search is known,
  std::vector<Tally> sub_tally;  // with what it counts (by space index),
  int looked_max = 0;            // for this best size
  bool any_settled = false;
  int reuse = -1;         // the candidate whose next level is coloured already
  bool coloured = false;  // this level's colouring is done (by its parent's look-ahead)
  bool doomed = false;    // its look-ahead stopped at a level that records, below `reuse`
  std::vector<int> tail;  // node numbers of a clique's last nodes
  // With the largest cliques known: those this level's search can reach
  // (every node chosen above is in them, their other nodes are candidates),
  // and by candidate position p, grouped[group_at[p], group_at[p + 1]) those
  // of the try at p (the clique's candidate first in the order).
  std::vector<int> live;
  std::vector<int> grouped;
  std::vector<int> group_at;
  // With the largest size known: per atom of either compound, the candidates
  // not yet tried that pair it, and how many atoms they pair.
  std::vector<int> uses[2];
  int atoms_left[2] = {0, 0};
  std::vector<Word> work;  // one set of the level's width
  // Packed before its colouring, with the parent's colour classes in its
  // own space.
  bool packed_first = false;
  std::vector<Word> groups;

  // A next level starts in its parent's space.
  void share_space(const Level &parent) {
    rows = parent.rows;
    words = parent.words;
    size = parent.size;
    ids = parent.ids;
  }
};

// Colouring a group (see CliqueSearch::colour_by_groups), a colour not used
// yet, with members m, takes all the members of the group that are left:
// `take` gets them, and the colour's neighbourhood t starts empty.
template <int W>
inline void open_colour(int words, const Word *left, Word *take, Word *t, Word *m) {
  if (W > 0) words = W;
  for (int w = 0; w < words; ++w) {
    take[w] = left[w];
    m[w] = left[w];
    t[w] = 0;
  }
}

// Colouring a group, a colour with members m and neighbourhood tc takes
// the members of the group (`left`) that none of its members is adjacent
// to: they leave `left` and join m, `take` gets them, and t starts as tc.
// Returns the members left then.
template <int W>
inline Word join_colour(int words, Word *left, Word *take, Word *t, Word *m, const Word *tc) {
  if (W > 0) words = W;
  Word rest = 0;
  for (int w = 0; w < words; ++w) {
    take[w] = left[w] & ~tc[w];
    left[w] &= ~take[w];
    rest |= left[w];
    m[w] |= take[w];
    t[w] = tc[w];
  }
  return rest;
}

// Adds the rows of the members a colour has just taken (`take`) to its
// neighbourhood t, and stores that as the colour's, tc.
template <int W>
inline void widen_colour(int words, const Word *rows, const Word *take, Word *t, Word *tc) {
  if (W > 0) words = W;
  for (int w = 0; w < words; ++w) {
    for (Word b = take[w]; b != 0; b &= b - 1) {
      const int s = w * 64 + std::countr_zero(b);
      const Word *row = rows + static_cast<std::size_t>(s) * words;
      for (int u = 0; u < words; ++u) t[u] |= row[u];
    }
  }
  for (int w = 0; w < words; ++w) tc[w] = t[w];
}

// What a thread keeps between its searches, so that a search of a small
// graph allocates nothing.
struct Scratch {
  // Levels by depth, each in its own allocation: references to a level stay
  // valid while deeper ones are added.
  std::vector<std::unique_ptr<Level>> levels;
  std::vector<int> selected;
};

// One clique search. Its state lives here and in the thread's scratch, whose
// buffers a search reuses but whose contents it never reads before writing.
//
// Each level keeps its candidates in their search order, as the order of the
// search demands, and beside them as bits of a "space": an indexing of a set
// of nodes with adjacency rows over that indexing. The first level's space is
// the whole graph; a level that goes on to search packs its parent's rows
// down to its own candidates, so that levels of up to 64 candidates work on
// single words.
//
// The colouring of a level needs no per-candidate scan. A level searched by
// colours hands its candidates on in descending colour order, and each of
// its colours is an independent set. The next level's candidates therefore
// arrive as groups, one per colour of the parent, whose members are not
// adjacent to each other: a member's colour depends only on the groups
// before it. Whole groups are coloured at once: the members that no earlier
// member of colour c is adjacent to take colour c, the rest try c + 1, with
// the neighbourhood of each colour kept as bits. A level whose colour count
// cannot reach the best size (about half of them) is done right there, its
// list never gathered.
class CliqueSearch {
 public:
  CliqueSearch(const DockBits &graph, int repeat, MCS *list, SearchProbe *probe, Scratch &scratch)
      : max_repeat_(repeat >= 0 ? repeat : kDefaultBudget),
        timed_(probe != nullptr && probe->deadline != std::chrono::steady_clock::time_point{}),
        deadline_(probe != nullptr ? probe->deadline : std::chrono::steady_clock::time_point{}),
        repeat_changeover_(graph.n / 2),
        mcslist_(list),
        graph_(graph),
        alloc_(probe && probe->alloc ? probe->alloc : std::malloc),
        release_(probe && probe->release ? probe->release : std::free),
        selected_(scratch.selected),
        levels_(scratch.levels) {}

  void run() {
    const int nodenum = graph_.n;
    selected_.assign(nodenum, 0);
    Level &top = level(0);
    top.own_ids.resize(nodenum);
    std::iota(top.own_ids.begin(), top.own_ids.end(), 0);
    top.ids = top.own_ids.data();
    top.rows = graph_.bits.data();
    top.words = graph_.words;
    top.size = nodenum;
    top.rest.resize(graph_.words);
    set_first(top.rest.data(), graph_.words, nodenum);
    top.order = top.own_ids;
    if (!known_cliques_.empty()) {
      top.live.resize(known_cliques_.size() / known_);
      std::iota(top.live.begin(), top.live.end(), 0);
    }
    explore_sum(top.order.data(), nodenum);
  }

  // The size of the largest clique known beforehand, with each node's atom
  // in either compound: a listing search without a budget then leaves every
  // branch whose candidates cannot pair enough atoms to reach the best size
  // found so far. Such a branch records nothing and holds no clique test
  // (those record a clique of the best size or more), so the best size
  // grows as before, the lists of the branches searched are the same, and
  // so are the cliques, their order and the steps, until the list is full
  // at the known size, when the search ends.
  void know_size(int size, const int *side1, const int *side2) {
    if (max_repeat_ != 0 || timed_ || mcslist_ == nullptr || size <= 0) return;
    known_ = size;
    side_[0] = side1;
    side_[1] = side2;
    int atoms[2] = {0, 0};
    for (int v = 0; v < graph_.n; ++v)
      for (int s : {0, 1}) atoms[s] = std::max(atoms[s], side_[s][v] + 1);
    for (int s : {0, 1}) {
      seen_[s].assign(static_cast<std::size_t>(atoms[s]), -1);
      number_[s].resize(static_cast<std::size_t>(atoms[s]));
      match_[s].resize(static_cast<std::size_t>(atoms[s]));
      atom_count_[s] = atoms[s];
    }
  }

  // The graph as a problem on the compounds (node k is pair k), whose search
  // decides the large branches instead of the clique solver.
  void know_pairs(const mcsplit::Problem *pairs) {
    if (known_ > 0 && pairs != nullptr && static_cast<int>(pairs->pairs.size()) == graph_.n) {
      decider_.emplace(*pairs);
      mark_.assign(static_cast<std::size_t>(graph_.n), 0);
    }
  }

  // Every clique of the known size: once the search has found that size, a
  // branch holds a clique it would record (or a clique test, which records
  // one as large as the best) exactly when it holds one of these.
  void know_cliques(std::span<const int> cliques, ListJudge *judge) {
    if (known_ == 0 || cliques.empty() || cliques.size() % known_ != 0) return;
    known_cliques_ = cliques;
    judge_ = judge;
    chosen_.assign(static_cast<std::size_t>(graph_.n), 0);
    position_.assign(static_cast<std::size_t>(graph_.n), 0);
  }

  int mcsnum() const { return mcsnum_; }
  int maxsize() const { return maxsize_; }
  long long steps() const { return repeat_; }
  // True when the budget or the deadline ended the search: a larger clique
  // may exist.
  bool cut() const { return cut_; }
  bool gave_up() const { return gave_up_; }
  // Without a budget: end after this many candidate-loop passes (0: any
  // number), or at that time (the clock's epoch: never), unfinished.
  void give_up_after(long long passes, std::chrono::steady_clock::time_point at,
                     const std::atomic<bool> *on) {
    if (max_repeat_ != 0) return;
    give_up_after_ = passes;
    give_up_at_ = at;
    give_up_on_ = on;
    if (give_up_after_ == 0 && (at != std::chrono::steady_clock::time_point{} || on != nullptr))
      give_up_after_ = LLONG_MAX;
  }

 private:
  Level &level(int depth) {
    if (depth >= static_cast<int>(levels_.size())) [[unlikely]]
      add_levels(depth);
    return *levels_[depth];
  }
  void add_levels(int depth) {
    while (static_cast<int>(levels_.size()) <= depth) levels_.push_back(std::make_unique<Level>());
  }

  // Counts one pass of a candidate loop; true when the budget is used up.
  bool count_step() {
    if (timed_) [[unlikely]] {
      if (past_deadline()) return true;
    }
    if (give_up_after_ > 0) [[unlikely]] {
      if (gave_up_ || ++passes_ > give_up_after_ || ((passes_ & 255) == 0 && past_give_up())) {
        gave_up_ = true;
        return true;
      }
    }
    // A full list of cliques of the known largest size takes no more: the
    // search has nothing left to find.
    if (known_ > 0 && mcsnum_ >= CPD_MAX && maxsize_ >= known_) [[unlikely]]
      return true;
    if (settled_) [[unlikely]]
      return true;
    if (max_repeat_ == 0) return false;
    ++repeat_;
    if (repeat_ <= max_repeat_) return false;
    cut_ = true;
    return true;
  }

  template <bool kSum>
  void branch(Level &lv, int *old, int cutnum);
  // Past the changeover the best size found so far decides nothing but
  // which branches are searched: no level sorts by sums any more, and the
  // clique tests no longer count towards anything. The search then goes on
  // as if it had found a clique of the known size already, its list still
  // empty, and finds the same cliques of that size in the same order.
  void reach_known() {
    maxsize_ = known_;
    mcsnum_ = 0;
  }
  // The clique a branch at threshold t must be able to hold to be searched:
  // one that reaches the best size (t - 1 nodes below the branch's node),
  // whose recording or clique test counts; once the list is full and the
  // clique tests no longer matter, only a larger one does (t nodes).
  int worth(int t) const { return mcsnum_ >= CPD_MAX && repeat_ >= repeat_changeover_ ? t : t - 1; }
  bool atoms_reach(const Level &lv, const Word *set, int words, int need);
  void group_live(Level &lv, const int *old, int cutnum);
  void record_known(int q) {
    std::vector<int> &tail = levels_[degree_]->tail;
    tail.clear();
    const int *nodes = known_cliques_.data() + static_cast<std::size_t>(q) * known_;
    for (int k = 0; k < known_; ++k)
      if (!chosen_[nodes[k]]) tail.push_back(nodes[k]);
    record(tail.data(), static_cast<int>(tail.size()));
  }
  void count_atoms(Level &lv, const int *old, int cutnum) {
    for (int s : {0, 1}) {
      lv.uses[s].assign(static_cast<std::size_t>(atom_count_[s]), 0);
      lv.atoms_left[s] = 0;
      for (int k = 0; k < cutnum; ++k)
        if (lv.uses[s][side_[s][lv.ids[old[k]]]]++ == 0) ++lv.atoms_left[s];
    }
  }
  void drop_atoms(Level &lv, int id) {
    for (int s : {0, 1})
      if (--lv.uses[s][side_[s][id]] == 0) --lv.atoms_left[s];
  }
  // Whether the try at position i of the level can be left: it holds no
  // clique large enough to matter.
  bool leave_try(Level &lv, int i, const Word *set, int words, int t) {
    if (!known_cliques_.empty()) {
      // A try holding a clique of the known size holds one of any size below.
      if (lv.group_at[i] != lv.group_at[i + 1]) return false;
      if (maxsize_ >= known_) return true;
    }
    return known_ > 0 && !atoms_reach(lv, set, words, worth(t));
  }
  // Past the changeover, records the known cliques of the try at position i
  // without searching it, where its branch would record just those and in an
  // order that tells nothing: one clique, or several the judge cannot tell
  // apart that all fit in the list.
  bool record_try(const Level &lv, int i) {
    const int from = lv.group_at[i];
    const int count = lv.group_at[i + 1] - from;
    if (count == 1) {
      record_known(lv.grouped[from]);
      return true;
    }
    if (judge_ == nullptr || count == 0 || mcsnum_ + count > CPD_MAX ||
        !judge_->any_order({lv.grouped.data() + from, static_cast<std::size_t>(count)}))
      return false;
    for (int g = from; g < from + count; ++g) record_known(lv.grouped[g]);
    return true;
  }
  bool clique_in(const Level &lv, const Word *set, int words, int nodes, int need);
  bool witnessed(int need);
  // Every largest clique is known, and the search has reached their size.
  bool found_all_known() const { return !known_cliques_.empty() && maxsize_ >= known_; }
  // When to ask again whether the candidates left still matter: after one,
  // two, four... tries left while they did.
  struct Backoff {
    int wait = 0, gap = 1;
  };
  bool rest_spent(Level &lv, int words, int t, Backoff &ask);
  // Branches of more nodes than this are decided by the exact solver.
  static constexpr int kDecideAbove = 48;
  bool augment(int u, int stamp);
  bool matching_of_lists(const int *count, int need);
  bool matching_of_words(const int *count, int need);
  template <bool kKeys>
  void gather(const Level &parent, Level &lv, int count, const Word *set);
  bool pack(Level &lv, int count);
  template <int W>
  bool settle_tries(Level &lv, int depth, int count, Tally &tally, int &work, bool top);
  // What the look-ahead learns of one try (see follow_try).
  enum class Try { kSettled, kResolved, kStopped };
  template <int W>
  Try follow_try(Level &lv, Level &next, int depth, int s, const Word *lower, Tally &below,
                 int &work, bool top);
  void count_known(const Tally &tally);
  static void forget_look_ahead(Level &lv) {
    lv.any_settled = false;
    lv.reuse = -1;
  }
  bool within_budget(long long steps) const;
  bool settled_whole(Level &lv, int count);
  template <int W>
  void colour_by_groups(const Word *groups, int group_count, Level &lv, int need,
                        bool enough = false);
  bool pack_first(const Level &parent, Level &lv, int count);
  void list_from(Level &lv, int *old, int first, int cutnum);
  template <int W>
  void colour_in_order(Level &lv, int count, int need);
  static void colours_by_index(Level &lv);
  // Runs fn.template operator()<W>() with W the level's word count when it
  // is small (the loops over words then unroll), else with W = 0.
  template <class Fn>
  static void by_width(int words, Fn &&fn) {
    switch (words) {
      case 1:
        fn.template operator()<1>();
        break;
      case 2:
        fn.template operator()<2>();
        break;
      case 3:
        fn.template operator()<3>();
        break;
      case 4:
        fn.template operator()<4>();
        break;
      default:
        fn.template operator()<0>();
        break;
    }
  }
  void explore_sum(int *old, int oldnum);
  void explore_numonly(int oldnum);
  void colour_level(const Level &parent, Level &lv, int oldnum);
  bool list_after_colours(const Level &parent, Level &lv, int oldnum, bool looked);
  bool list_after_sums(Level &lv, int oldnum);
  void record_each(const Level &parent, Level &lv, int count);
  void record(const int *tail, int tailnum);
  void record_space(const Level &lv, const int *old, int num);

  bool past_give_up() const {
    if (give_up_on_ != nullptr && give_up_on_->load(std::memory_order_relaxed)) return true;
    return give_up_at_ != std::chrono::steady_clock::time_point{} &&
           std::chrono::steady_clock::now() >= give_up_at_;
  }
  // A deadline is read every 256 steps; results depend on the clock only
  // when one is set.
  bool past_deadline() {
    if (cut_) return true;
    if ((++clock_steps_ & 255u) != 0) return false;
    cut_ = std::chrono::steady_clock::now() >= deadline_;
    return cut_;
  }

  long long max_repeat_;  // 0: no budget
  bool timed_;            // a deadline is set
  std::chrono::steady_clock::time_point deadline_;
  unsigned clock_steps_ = 0;
  bool cut_ = false;  // the budget or the deadline ended the search
  long long give_up_after_ = 0;
  std::chrono::steady_clock::time_point give_up_at_{};  // the epoch: never
  const std::atomic<bool> *give_up_on_ = nullptr;
  long long passes_ = 0;
  bool gave_up_ = false;
  long long repeat_ = 0;  // step counter; 64 bits so a budget near INT_MAX cannot overflow it
  int repeat_changeover_;
  int mcsnum_ = 0;
  MCS *mcslist_;
  const DockBits &graph_;
  int degree_ = 0;
  int maxsize_ = 0;
  // The largest size known beforehand (0: not known) and what bounds a
  // branch by it: the nodes' atoms, and a matching of a branch's atoms.
  int known_ = 0;
  const int *side_[2] = {nullptr, nullptr};
  std::vector<int> seen_[2];                // atom -> the stamp of the branch that met it last
  std::vector<int> number_[2];              // atom -> its number in that branch
  std::vector<int> match_[2];               // by number: the partner, or -1
  std::vector<std::pair<int, int>> pairs_;  // the branch's atom pairs, by number
  std::vector<int> first_, partners_;       // the partners of each first atom: flat
  std::vector<int> visit_;
  int stamp_ = 0;
  DockBits sub_;  // the graph of a branch for the exact solver
  std::vector<int> sub_local_, sub_side_[2];
  int atom_count_[2] = {0, 0};
  std::optional<mcsplit::Decider> decider_;
  // The cliques of the decider's last few answers yes, and a mark per node.
  static constexpr int kWitnesses = 8;
  std::vector<int> witnesses_[kWitnesses];
  int next_witness_ = 0;
  std::vector<int> mark_;
  int mark_stamp_ = 0;
  std::vector<int> branch_ids_;         // node numbers of a branch for the decider
  std::span<const int> known_cliques_;  // known_ node numbers each
  ListJudge *judge_ = nullptr;
  bool settled_ = false;       // the judge wants no more cliques
  std::vector<char> chosen_;   // node -> chosen on the current path
  std::vector<int> position_;  // node -> its position in the level grouping
  std::vector<int> first_try_, fill_at_;
  void *(*alloc_)(std::size_t);
  void (*release_)(void *);
  std::vector<int> &selected_;
  std::vector<std::unique_ptr<Level>> &levels_;
};

void CliqueSearch::record(const int *tail, int tailnum) {
  const int s = degree_ + tailnum;
  if (s < maxsize_) return;
  if (s == maxsize_ && mcsnum_ == CPD_MAX) return;
  if (mcslist_ == nullptr) {
    // Counted only: the list's count and size, without the list.
    if (s > maxsize_) {
      maxsize_ = s;
      mcsnum_ = 0;
    }
    ++mcsnum_;
    return;
  }

  // Without its vertex array the clique cannot be kept: leave the list, the
  // count and the size as they were, as if it had not been found.
  int *vlist = static_cast<int *>(alloc_(sizeof(int) * static_cast<std::size_t>(s)));
  if (vlist == nullptr) return;

  if (s > maxsize_) {
    maxsize_ = s;
    mcsnum_ = 0;
  }
  MCS &entry = mcslist_[mcsnum_];
  entry.vnum = s;
  if (entry.vlist != nullptr) release_(entry.vlist);
  entry.vlist = vlist;
  std::copy(selected_.begin(), selected_.begin() + degree_, vlist);
  std::copy(tail, tail + tailnum, vlist + degree_);
  // Node numbers are distinct, so any ascending sort gives the same array.
  std::sort(vlist, vlist + s);
  ++mcsnum_;
  if (judge_ != nullptr && s == known_) {
    judge_->recorded({vlist, static_cast<std::size_t>(s)});
    settled_ = judge_->settled();
  }
}

// Records the clique of `selected` followed by the given candidates of a level.
void CliqueSearch::record_space(const Level &lv, const int *old, int num) {
  if (degree_ + num < maxsize_) return;
  if (mcslist_ == nullptr) return record(nullptr, num);
  std::vector<int> &tail = levels_[degree_]->tail;
  tail.resize(num);
  for (int k = 0; k < num; ++k) tail[k] = lv.ids[old[k]];
  record(tail.data(), num);
}

// The level's list: the parent's candidates after the chosen one that are
// in the level's set, in the parent's order, with their colours as keys when
// the level is coloured already.
template <bool kKeys>
void CliqueSearch::gather(const Level &parent, Level &lv, int count, const Word *set) {
  // Written without a branch: every candidate is stored, and kept when it
  // belongs to the set, so the lists need one spare slot.
  int *order = room(lv.order, static_cast<std::size_t>(count) + 1);
  int *key = kKeys ? room(lv.key, static_cast<std::size_t>(count) + 1) : nullptr;
  const int *colour_of = lv.colour_of.data();
  const int *from = parent.order.data();
  int n = 0;
  for (int k = lv.from + 1; k < lv.end && n < count; ++k) {
    const int s = from[k];
    order[n] = s;
    if constexpr (kKeys) key[n] = colour_of[s];
    n += has_bit(set, s);
  }
}

// Gives the level a space of its own when its candidates fit in fewer words:
// index r for the r-th candidate by index (`rank`), rows and colour classes
// translated; the set in the space before is kept in `outer`. True when the
// level was packed.
bool CliqueSearch::pack(Level &lv, int count) {
  const int words = lv.words;
  const int packed = (count + 63) / 64;
  if (packed >= words) return false;
  // Each packed level keeps rows of its own, so a deep search whose levels
  // shrink slowly would hold many copies of nearly the whole graph (a
  // symmetric 100-atom pair: over 200 MB). Large levels pack only when that
  // halves their rows at least, which bounds the packed rows of one search
  // path by about a third more than the first packed level's; small ones
  // (up to 64 KB of rows) pack whenever they can.
  constexpr std::size_t kSmallRows = 8192;  // words
  if (static_cast<std::size_t>(count) * static_cast<std::size_t>(packed) > kSmallRows &&
      2 * packed > words) {
    return false;
  }
  const Word *set = std::copy_n(lv.rest.data(), words, room(lv.outer, words)) - words;
  const Compressor compress(set, words, count);
  std::vector<Word> &rows = lv.own_rows;
  rows.resize(static_cast<std::size_t>(count) * packed);
  lv.own_ids.resize(count);
  lv.rank.resize(static_cast<std::size_t>(words) * 64);
  int r = 0;
  for (int w = 0; w < words; ++w) {
    for (Word bits = set[w]; bits != 0; bits &= bits - 1, ++r) {
      const int s = w * 64 + std::countr_zero(bits);
      lv.rank[s] = r;
      lv.own_ids[r] = lv.ids[s];
      compress(lv.rows + static_cast<std::size_t>(s) * words,
               rows.data() + static_cast<std::size_t>(r) * packed);
    }
  }
  Word *dst = room(lv.work, packed);
  for (int c = 0; c < lv.colours; ++c) {
    compress(lv.members.data() + static_cast<std::size_t>(c) * words, dst);
    std::copy_n(dst, packed, lv.members.data() + static_cast<std::size_t>(c) * packed);
  }
  auto move = [&](std::vector<Word> &set) {
    compress(set.data(), dst);
    std::copy_n(dst, packed, set.data());
  };
  // What a look-ahead learnt here moves along, and so do the colour classes
  // of the chain of next levels it coloured (see settle_tries), all in this
  // space so far. Their sets are written anew when they are entered.
  for (int depth = degree_;; ++depth) {
    Level &x = *levels_[depth];
    if (depth > degree_) {
      for (int c = 0; c < x.colours; ++c) {
        compress(x.members.data() + static_cast<std::size_t>(c) * words, dst);
        std::copy_n(dst, packed, x.members.data() + static_cast<std::size_t>(c) * packed);
      }
    }
    if (x.any_settled) {
      move(x.settled);
      // Ranks never exceed indices, so the counts move down in place.
      for (int w = 0; w < words; ++w)
        for (Word b = x.resolved[w]; b != 0; b &= b - 1) {
          const int s = w * 64 + std::countr_zero(b);
          x.sub_tally[lv.rank[s]] = x.sub_tally[s];
        }
      move(x.resolved);
    }
    if (x.reuse < 0) break;
    x.reuse = lv.rank[x.reuse];
  }
  lv.rows = rows.data();
  lv.ids = lv.own_ids.data();
  lv.words = packed;
  lv.size = count;
  set_first(room(lv.rest, packed), packed, count);
  return true;
}

// Colours the level's candidates group by group (see the class comment):
// the parent's colours from the highest down, as the parent's order has them.
//
// A group opens at most one new colour (its members are not adjacent to each
// other, so all that no earlier colour takes share the new one): the colours
// so far plus the non-empty groups still to come bound the final count, and
// a level that cannot reach `need` colours stops as soon as that bound says
// so, with the bound as its colour count. With `enough`, it stops as well
// once it has `need` colours (the classes are then incomplete).
template <int W>
void CliqueSearch::colour_by_groups(const Word *groups, int group_count, Level &lv, int need,
                                    bool enough) {
  const int words = W > 0 ? W : lv.words;
  const Word *set = lv.rest.data();
  const Word *rows = lv.rows;
  Word *members = room(lv.members, static_cast<std::size_t>(group_count) * words);
  Word *touched = room(lv.touched, static_cast<std::size_t>(group_count) * words);
  // Scratch sets: on the stack for the small widths, whose loops unroll.
  constexpr int kFixed = W > 0 ? W : 1;
  Word fixed_left[kFixed], fixed_take[kFixed], fixed_t[kFixed];
  Word *wide = W > 0 ? nullptr : room(lv.work, 3 * static_cast<std::size_t>(words));
  Word *left = W > 0 ? fixed_left : wide;
  Word *take = W > 0 ? fixed_take : wide + words;
  Word *t = W > 0 ? fixed_t : wide + 2 * words;
  auto group_of = [&](int g) { return groups + static_cast<std::size_t>(g) * words; };
  int groups_left = 0;
  for (int g = 0; g < group_count; ++g) groups_left += count_common(group_of(g), set, words) > 0;
  int colours = 0;
  for (int g = group_count - 1; g >= 0; --g) {
    Word any = 0;
    for (int w = 0; w < words; ++w) {
      left[w] = group_of(g)[w] & set[w];
      any |= left[w];
    }
    if (any == 0) continue;
    if (colours + groups_left < need) {
      lv.colours = colours + groups_left;
      return;
    }
    --groups_left;
    // The neighbourhoods of the colours serve the groups still to come: the
    // last group only takes its colours.
    const bool last = groups_left == 0;
    for (int c = 0;; ++c) {
      Word *m = members + static_cast<std::size_t>(c) * words;
      Word *tc = touched + static_cast<std::size_t>(c) * words;
      Word rest = 0;
      if (c == colours) {
        ++colours;
        open_colour<W>(words, left, take, t, m);
      } else {
        rest = join_colour<W>(words, left, take, t, m, tc);
      }
      if (!last) widen_colour<W>(words, rows, take, t, tc);
      if (rest == 0) break;
    }
    // Enough colours already, when that is all the caller asks.
    if (enough && colours >= need) {
      lv.colours = colours;
      return;
    }
  }
  lv.colours = colours;
}

// The colour of every candidate, from the colour classes: only a level that
// goes on to sort needs it per candidate.
void CliqueSearch::colours_by_index(Level &lv) {
  int *colour_of = room(lv.colour_of, lv.size);
  const int words = lv.words;
  for (int c = 0; c < lv.colours; ++c) {
    const Word *members = lv.members.data() + static_cast<std::size_t>(c) * words;
    for (int w = 0; w < words; ++w)
      for (Word b = members[w]; b != 0; b &= b - 1) colour_of[w * 64 + std::countr_zero(b)] = c;
  }
}

// Colours the level's candidates as the greedy colouring in list order
// does (each takes the smallest colour that none of its earlier neighbours
// has), for a level whose list is in index order: built class by class,
// each class taking in turn the lowest candidate left that no member taken
// so far is adjacent to, which gives the same classes. A level that cannot
// reach `need` colours stops as soon as that is certain, with a bound as its
// colour count.
template <int W>
void CliqueSearch::colour_in_order(Level &lv, int count, int need) {
  const int words = W > 0 ? W : lv.words;
  Word *members = room(lv.members, static_cast<std::size_t>(count) * words);
  constexpr int kFixed = W > 0 ? W : 1;
  Word fixed_left[kFixed], fixed_avail[kFixed];
  Word *wide = W > 0 ? nullptr : room(lv.work, 2 * static_cast<std::size_t>(words));
  Word *left = W > 0 ? fixed_left : wide;
  Word *avail = W > 0 ? fixed_avail : wide + words;
  std::copy_n(lv.rest.data(), words, left);
  int colours = 0;
  for (int uncoloured = count; uncoloured > 0; ++colours) {
    // Each candidate left opens at most one colour.
    if (colours + uncoloured < need) {
      lv.colours = colours + uncoloured;
      return;
    }
    Word *m = members + static_cast<std::size_t>(colours) * words;
    std::copy_n(left, words, avail);
    for (int w = 0; w < words; ++w) {
      m[w] = 0;
      while (avail[w] != 0) {
        const Word b = avail[w] & (~avail[w] + 1);
        const int s = w * 64 + std::countr_zero(avail[w]);
        m[w] |= b;
        avail[w] &= ~b;
        // Earlier words are done with: only the later part of the row matters.
        const Word *row = lv.rows + static_cast<std::size_t>(s) * words;
        for (int u = w; u < words; ++u) avail[u] &= ~row[u];
      }
      left[w] &= ~m[w];
      uncoloured -= std::popcount(m[w]);
    }
  }
  lv.colours = colours;
}

// Tries the level's candidates out of order, and the tries of the next
// levels that go on in turn, to learn what the level's search amounts to
// without its list or its sort. True when the whole search below the level
// is known: it leaves the best size as it is, and `tally` is what it counts
// (cliques of the best size only where they are counted, not listed).
//
// In a level ordered by colour the candidates tried are exactly those of
// colour t - 1 and above (t = maxsize - degree): the classes below hold at
// least t - 1 candidates, so the count of candidates left never ends the
// loop first. A tried candidate's next level is its neighbours of lower
// colours (its own class is independent, and higher classes come before
// it), whatever the order inside the classes; that level is coloured by
// groups, again whatever the order. So while no level below has t <= 1 (the
// only levels that record a clique as large as the best), nothing changes
// the best size, and the order decides nothing but the step counter: one
// step per try, one more for the first candidate not tried, plus the steps
// of the levels that go on. Should the budget run out within, it runs out
// with nothing recorded, in any order.
//
// The search stops being followed when `work` colourings are used up. The
// tries then known are kept for the loop: `settled` ones stop at their next
// level (a later, larger best size only stops them sooner), `resolved` ones
// count `sub_tally` while the best size is still `looked_max`.
template <int W>
bool CliqueSearch::settle_tries(Level &lv, int depth, int count, Tally &tally, int &work,
                                bool top) {
  lv.any_settled = false;
  lv.reuse = -1;
  lv.doomed = false;
  const int t = maxsize_ - depth;
  // With t <= 1 every candidate is tried and one alone is a clique to record.
  // When the cliques are only counted, a level of one colour is known: each
  // try is one step and one clique of the best size, in any order (see
  // record_each).
  if (t == 1 && lv.colours == 1 && mcslist_ == nullptr && !top) {
    tally.steps += count;
    tally.records += count;
    return true;
  }
  if (t < 2) {
    lv.doomed = true;
    return false;
  }
  const int words = W > 0 ? W : lv.words;
  Word *lower = std::copy_n(lv.rest.data(), words, room(lv.work, words)) - words;
  Word *settled = room(lv.settled, words);
  Word *resolved = room(lv.resolved, words);
  Tally *sub_tally = room(lv.sub_tally, lv.size);
  std::fill_n(settled, words, Word{0});
  std::fill_n(resolved, words, Word{0});
  lv.any_settled = true;
  lv.looked_max = maxsize_;
  Level &next = level(depth + 1);
  room(next.rest, words);
  int tried = 0;
  for (int c = lv.colours - 1; c >= t - 1; --c) {
    const Word *members = lv.members.data() + static_cast<std::size_t>(c) * words;
    for (int w = 0; w < words; ++w) lower[w] &= ~members[w];
    for (int w = 0; w < words; ++w) {
      for (Word b = members[w]; b != 0; b &= b - 1) {
        const int s = w * 64 + std::countr_zero(b);
        ++tried;
        Tally below;
        switch (follow_try<W>(lv, next, depth, s, lower, below, work, top)) {
          case Try::kSettled:
            set_bit(settled, s);
            break;
          case Try::kResolved:
            tally.steps += below.steps;
            tally.records += below.records;
            set_bit(resolved, s);
            sub_tally[s] = below;
            break;
          case Try::kStopped:
            return false;
        }
      }
    }
  }
  tally.steps += tried < count ? tried + 1 : tried;
  return true;
}

// One try of settle_tries(): candidate s of level lv (at `depth`), whose
// next level is its neighbours among the candidates of lower colours,
// `lower`. That next level is `next`, whose set has room for lv's width.
// Settled when the try stops at its next level, resolved when the search
// below it is known (`below` is what it counts), stopped when the
// look-ahead ends here.
template <int W>
CliqueSearch::Try CliqueSearch::follow_try(Level &lv, Level &next, int depth, int s,
                                           const Word *lower, Tally &below, int &work, bool top) {
  const int words = W > 0 ? W : lv.words;
  const int t = maxsize_ - depth;
  const Word *row = lv.rows + static_cast<std::size_t>(s) * words;
  // A next level of fewer than t - 1 nodes is passed over, one of none
  // records a clique smaller than the best.
  const int newnum = count_common(row, lower, words);
  if (newnum + 1 < t) return Try::kSettled;
  // The level itself looks at every try; levels below it spend work.
  if (!top && --work < 0) return Try::kStopped;
  Word *child = next.rest.data();
  for (int u = 0; u < words; ++u) child[u] = row[u] & lower[u];
  next.share_space(lv);
  next.any_settled = false;
  next.doomed = false;
  // Whether the next level goes on needs only enough colours; what it does
  // then needs all of them.
  const bool whole = work > 0;
  colour_by_groups<W>(lv.members.data(), lv.colours, next, t - 1, !whole);
  if (next.colours < t - 1) return Try::kSettled;
  if (work > 0 && settle_tries<W>(next, depth + 1, newnum, below, work, false))
    return Try::kResolved;
  // The loop may well try this one first: its colouring is kept, and so is
  // what was learnt below it.
  if (whole) lv.reuse = s;
  lv.doomed = next.doomed;
  return Try::kStopped;
}

// Whether the budget, if any, lasts for these steps. Where a budget runs
// out below a level, every level above the one it runs out in counts one
// more step on its way back, so that depth depends on the order.
bool CliqueSearch::within_budget(long long steps) const {
  return max_repeat_ == 0 || repeat_ + steps <= max_repeat_;
}

// Counts a search known in advance that fits in the budget, or one that
// records nothing: the budget, if any, then runs out at its first step
// beyond.
void CliqueSearch::count_known(const Tally &tally) {
  // Steps beyond the budget: the search in order would have ended inside.
  if (max_repeat_ != 0 && repeat_ + tally.steps > max_repeat_) cut_ = true;
  if (max_repeat_ != 0) repeat_ = std::min(repeat_ + tally.steps, max_repeat_ + 1);
  if (tally.records > 0)
    mcsnum_ = static_cast<int>(std::min<long long>(mcsnum_ + tally.records, CPD_MAX));
}

// Whether the nodes of `set` (of level lv) can hold a clique of `need`
// nodes as far as their atoms tell: a clique pairs each atom once, so it is
// a matching between the atoms the nodes pair.
bool CliqueSearch::atoms_reach(const Level &lv, const Word *set, int words, int need) {
  if (++stamp_ == 0) {  // wrapped: every mark is stale again
    for (int s : {0, 1}) std::fill(seen_[s].begin(), seen_[s].end(), -1);
    stamp_ = 1;
  }
  int count[2] = {0, 0};
  pairs_.clear();
  branch_ids_.clear();
  for (int w = 0; w < words; ++w) {
    for (Word b = set[w]; b != 0; b &= b - 1) {
      const int id = lv.ids[w * 64 + std::countr_zero(b)];
      branch_ids_.push_back(id);
      int at[2];
      for (int s : {0, 1}) {
        const int atom = side_[s][id];
        // Atoms met first in this branch get the next number.
        if (seen_[s][atom] != stamp_) {
          seen_[s][atom] = stamp_;
          number_[s][atom] = count[s]++;
        }
        at[s] = number_[s][atom];
      }
      pairs_.emplace_back(at[0], at[1]);
    }
  }
  if (count[0] < need || count[1] < need) return false;
  if (count[0] <= 64 && count[1] <= 64) {
    if (!matching_of_words(count, need)) return false;
  } else if (!matching_of_lists(count, need)) {
    return false;
  }
  // A large branch is worth settling exactly: the exact solver's decision.
  const int nodes = static_cast<int>(branch_ids_.size());
  if (nodes < kDecideAbove) return true;
  if (decider_) {
    if (witnessed(need)) return true;
    std::vector<int> &w = witnesses_[next_witness_];
    w.clear();
    if (!decider_->holds(branch_ids_, need, &w)) return false;
    next_witness_ = (next_witness_ + 1) % kWitnesses;
    return true;
  }
  return clique_in(lv, set, words, nodes, need);
}

// Whether the branch's atom pairs (pairs_, atoms numbered below `count`
// on either side) match `need` atoms: Kuhn's augmenting paths over lists
// of partners.
bool CliqueSearch::matching_of_lists(const int *count, int need) {
  first_.assign(static_cast<std::size_t>(count[0]) + 1, 0);
  for (const auto &[a, b] : pairs_) ++first_[a + 1];
  for (int u = 0; u < count[0]; ++u) first_[u + 1] += first_[u];
  partners_.resize(pairs_.size());
  visit_.assign(first_.begin(), first_.end() - 1);  // the next free place of each
  for (const auto &[a, b] : pairs_) partners_[visit_[a]++] = b;
  std::fill_n(match_[0].begin(), count[0], -1);
  std::fill_n(match_[1].begin(), count[1], -1);
  visit_.assign(static_cast<std::size_t>(count[0]), -1);
  int matched = 0;
  for (int u = 0; u < count[0] && matched < need; ++u) {
    if (count[0] - u + matched < need) return false;
    if (augment(u, u)) ++matched;
  }
  return matched >= need;
}

// The same for up to 64 atoms a side, each atom's partners one word.
bool CliqueSearch::matching_of_words(const int *count, int need) {
  Word partners[64];
  int match[64];
  std::fill_n(partners, count[0], Word{0});
  std::fill_n(match, count[1], -1);
  for (const auto &[a, b] : pairs_) partners[a] |= Word{1} << b;
  // An augmenting path from u through atoms not `seen` on this attempt.
  auto augment_from = [&](auto &self, int u, Word &seen) -> bool {
    for (Word left = partners[u] & ~seen; left != 0; left = partners[u] & ~seen) {
      const int v = std::countr_zero(left);
      seen |= Word{1} << v;
      if (match[v] < 0 || self(self, match[v], seen)) {
        match[v] = u;
        return true;
      }
    }
    return false;
  };
  int matched = 0;
  for (int u = 0; u < count[0] && matched < need; ++u) {
    if (count[0] - u + matched < need) return false;
    Word seen = 0;
    if (augment_from(augment_from, u, seen)) ++matched;
  }
  return matched >= need;
}

// Whether a clique the decisions found before has `need` nodes among the
// branch's (branch_ids_): those are a clique of the branch. Deep branches
// of one that held a clique often hold most of it.
bool CliqueSearch::witnessed(int need) {
  if (++mark_stamp_ == 0) {  // wrapped: every mark is stale again
    std::fill(mark_.begin(), mark_.end(), 0);
    mark_stamp_ = 1;
  }
  for (int id : branch_ids_) mark_[id] = mark_stamp_;
  auto holds = [&](std::span<const int> w) {
    int in = 0, left = static_cast<int>(w.size());
    for (int id : w) {
      in += mark_[id] == mark_stamp_;
      if (in >= need) return true;
      if (in + --left < need) return false;
    }
    return false;
  };
  for (const std::vector<int> &w : witnesses_)
    if (holds(w)) return true;
  return false;
}

// Whether the nodes of `set` hold a clique of `need` nodes, by the exact
// solver on the graph they span.
bool CliqueSearch::clique_in(const Level &lv, const Word *set, int words, int nodes, int need) {
  std::vector<int> &local = sub_local_;
  local.clear();
  for (int w = 0; w < words; ++w)
    for (Word b = set[w]; b != 0; b &= b - 1) local.push_back(w * 64 + std::countr_zero(b));
  sub_.reset(nodes);
  sub_side_[0].resize(nodes);
  sub_side_[1].resize(nodes);
  for (int x = 0; x < nodes; ++x) {
    const Word *row = lv.rows + static_cast<std::size_t>(local[x]) * words;
    Word *to = sub_.row(x);
    for (int y = 0; y < nodes; ++y)
      if ((row[local[y] >> 6] >> (local[y] & 63)) & 1u) to[y >> 6] |= Word{1} << (y & 63);
    sub_side_[0][x] = side_[0][lv.ids[local[x]]];
    sub_side_[1][x] = side_[1][lv.ids[local[x]]];
  }
  maxclique::Options o;
  o.greedy_starts = 0;  // mostly a "no": a greedy clique rarely settles it
  o.side1 = sub_side_[0];
  o.side2 = sub_side_[1];
  return maxclique::has_clique(sub_, need, o);
}

// Whether the candidates after the current try (the level's `rest`) hold no
// clique that matters at threshold t: then no later try does either, its
// clique being its candidate and some of those. Asked when a try is left,
// most often in a run of such tries at a loop's end, where the answer costs
// about one try's decision and saves the rest; while the candidates left
// still matter, it is asked at growing intervals.
bool CliqueSearch::rest_spent(Level &lv, int words, int t, Backoff &ask) {
  // With every largest clique known and found, the tries are left by the
  // list, which ends the loop itself.
  if (found_all_known()) return false;
  if (--ask.wait >= 0) return false;
  if (!atoms_reach(lv, lv.rest.data(), words, worth(t) + 1)) return true;
  ask.wait = ask.gap;
  ask.gap *= 2;
  return false;
}

// Sorts the level's live cliques by the try that reaches them: the try of
// the candidate of each that comes first in the order, since a try's next
// level holds only the candidates after it (and all of a clique's nodes are
// adjacent to each other).
void CliqueSearch::group_live(Level &lv, const int *old, int cutnum) {
  for (int k = 0; k < cutnum; ++k) position_[lv.ids[old[k]]] = k;
  lv.group_at.assign(static_cast<std::size_t>(cutnum) + 1, 0);
  std::vector<int> &first = first_try_;  // per live clique: its try
  first.resize(lv.live.size());
  for (std::size_t q = 0; q < lv.live.size(); ++q) {
    const int *nodes = known_cliques_.data() + static_cast<std::size_t>(lv.live[q]) * known_;
    int p = cutnum;
    for (int k = 0; k < known_; ++k) p = std::min(p, position_[nodes[k]]);
    first[q] = p;
    // Every live clique has a candidate left (it is larger than the nodes
    // chosen); one without would belong to no try.
    if (p < cutnum) ++lv.group_at[p + 1];
  }
  for (int p = 0; p < cutnum; ++p) lv.group_at[p + 1] += lv.group_at[p];
  lv.grouped.resize(lv.live.size());
  std::vector<int> &at = fill_at_;
  at.assign(lv.group_at.begin(), lv.group_at.end() - 1);
  for (std::size_t q = 0; q < lv.live.size(); ++q)
    if (first[q] < cutnum) lv.grouped[at[first[q]]++] = lv.live[q];
}

// An augmenting path from first-compound atom u (Kuhn's), `stamp` marking
// the atoms visited on this attempt.
bool CliqueSearch::augment(int u, int stamp) {
  visit_[u] = stamp;
  for (int k = first_[u]; k < first_[u + 1]; ++k) {
    const int v = partners_[k];
    const int m = match_[1][v];
    if (m < 0 || (visit_[m] != stamp && augment(m, stamp))) {
      match_[0][u] = v;
      match_[1][v] = u;
      return true;
    }
  }
  return false;
}

// The candidate loop shared by both strategies: candidates by descending
// key, each tried as the next node of the clique while its key and the
// candidates left can still reach the best size.
template <bool kSum>
void CliqueSearch::branch(Level &lv, int *old, int cutnum) {
  const int *key = lv.key.data();
  int words = lv.words;
  // `rest` holds the candidates after the current position: the next level's
  // list is their common bits with the candidate's row, counted before
  // anything else is done with them, so a list too short to matter costs one
  // count.
  Word *rest = lv.rest.data();
  // Levels are created on first use and never move, and buffers
  // only grow, so the next level and its set are found once for all tries.
  Level &next = level(degree_ + 1);
  Word *next_rest = room(next.rest, words);
  const bool grouped = !known_cliques_.empty();
  if (grouped) group_live(lv, old, cutnum);
  if (known_ > 0) count_atoms(lv, old, cutnum);
  Backoff ask_rest;
  int tried = -1;  // the node tried last (the space may be renumbered since)
  for (int i = 0; i < cutnum; ++i) {
    // Once the known size is found, the tries after the last one holding a
    // known clique record nothing and count nothing.
    if (found_all_known() && lv.group_at[i] == lv.group_at[cutnum]) return;
    if (known_ > 0) {
      // Nor do the tries left once their candidates pair too few atoms to
      // reach the best size.
      if (tried >= 0) drop_atoms(lv, tried);
      const int need = worth(maxsize_ - degree_) + 1;
      if (lv.atoms_left[0] < need || lv.atoms_left[1] < need) return;
      tried = lv.ids[old[i]];
    }
    if (count_step()) return;
    if (known_ > maxsize_ && repeat_ >= repeat_changeover_) [[unlikely]]
      reach_known();
    const int t = maxsize_ - degree_;
    const int bound = kSum ? key[i] : key[i] + 1;
    if (cutnum - i < t || bound < t) return;
    clear_bit(rest, old[i]);
    if (kSum && !lv.listed && repeat_ >= repeat_changeover_) {
      list_from(lv, old, i, cutnum);
      words = lv.words;
    }
    if (!kSum && lv.any_settled) {
      if (has_bit(lv.settled.data(), old[i])) continue;
      if (maxsize_ == lv.looked_max && has_bit(lv.resolved.data(), old[i]) &&
          within_budget(lv.sub_tally[old[i]].steps)) {
        count_known(lv.sub_tally[old[i]]);
        continue;
      }
    }
    // Past the changeover nothing but the cliques recorded tells a try from
    // another, so a try holding one known clique records just that one.
    if (found_all_known() && repeat_ >= repeat_changeover_ && record_try(lv, i)) continue;
    const Word *row = lv.rows + static_cast<std::size_t>(old[i]) * words;
    const int newnum = count_common(row, rest, words);
    if (newnum > 0) {
      if (newnum + 1 < t) continue;
      next.share_space(lv);
      for (int w = 0; w < words; ++w) next_rest[w] = row[w] & rest[w];
      if (leave_try(lv, i, next_rest, words, t)) {
        if (known_ > 0 && rest_spent(lv, words, t, ask_rest)) return;
        continue;
      }
      next.from = i;
      next.end = cutnum;
      if (grouped) {
        next.live.assign(lv.grouped.begin() + lv.group_at[i],
                         lv.grouped.begin() + lv.group_at[i + 1]);
        chosen_[lv.ids[old[i]]] = 1;
        position_[lv.ids[old[i]]] = INT_MAX;  // a candidate of no level below
      }
      selected_[degree_++] = lv.ids[old[i]];
      next.coloured = !kSum && lv.reuse == old[i];
      lv.reuse = -1;
      if (kSum && repeat_ < repeat_changeover_) {
        gather<false>(lv, next, newnum, next_rest);
        explore_sum(next.order.data(), newnum);
      } else {
        explore_numonly(newnum);
      }
      --degree_;
      if (grouped) chosen_[selected_[degree_]] = 0;
    } else {
      record_space(lv, &old[i], 1);
    }
  }
}

// Gives a level ordered by sums a space of its own indexed by list
// position, from position `first` on (the candidate about to be tried):
// the list of each of its next levels is then in index order, and their
// colouring in list order can be built class by class. Done once the next
// levels are searched by colours, for the candidates left then.
//
// The adjacency is symmetric, so re-indexing rows and columns by a
// permutation P (P A P^T) takes a row permutation (P A), a transpose
// ((P A)^T = A P^T) and another row permutation, instead of moving bit by
// bit: the transpose goes in 64 x 64 blocks.
void CliqueSearch::list_from(Level &lv, int *old, int first, int cutnum) {
  const int words = lv.words;
  const int count = cutnum - first;
  const int packed = (count + 63) / 64;
  const int padded = packed * 64;
  Word *set = std::copy_n(lv.rest.data(), words, room(lv.outer, words)) - words;
  set_bit(set, old[first]);
  // A: rows in list order, columns by rank in the set.
  const Compressor compress(set, words, count);
  Word *by_list = room(lv.work, static_cast<std::size_t>(padded) * packed);
  std::fill_n(by_list, static_cast<std::size_t>(padded) * packed, Word{0});
  for (int k = 0; k < count; ++k)
    compress(lv.rows + static_cast<std::size_t>(old[first + k]) * words,
             by_list + static_cast<std::size_t>(k) * packed);
  // Its transpose: rows by rank, columns in list order.
  std::vector<Word> &by_rank = lv.members;
  room(by_rank, static_cast<std::size_t>(padded) * packed);
  Word block[64];
  for (int bi = 0; bi < packed; ++bi)
    for (int bj = 0; bj < packed; ++bj) {
      for (int r = 0; r < 64; ++r)
        block[r] = by_list[static_cast<std::size_t>(bi * 64 + r) * packed + bj];
      transpose64(block);
      for (int c = 0; c < 64; ++c)
        by_rank[static_cast<std::size_t>(bj * 64 + c) * packed + bi] = block[c];
    }
  // Rows in list order again: the rank of each candidate in the set.
  int *rank = room(lv.rank, lv.size);
  for (int w = 0, r = 0; w < words; ++w)
    for (Word b = set[w]; b != 0; b &= b - 1) rank[w * 64 + std::countr_zero(b)] = r++;
  std::vector<Word> &rows = lv.own_rows;
  rows.resize(static_cast<std::size_t>(count) * packed);
  // The new ids go to a buffer of their own first: the first level's ids are
  // its own (the level's clique tail serves as that buffer).
  std::vector<int> &ids = lv.tail;
  ids.resize(count);
  for (int k = 0; k < count; ++k) {
    const int s = old[first + k];
    std::copy_n(by_rank.data() + static_cast<std::size_t>(rank[s]) * packed, packed,
                rows.data() + static_cast<std::size_t>(k) * packed);
    ids[k] = lv.ids[s];
    old[first + k] = k;
  }
  lv.own_ids.swap(ids);
  lv.rows = rows.data();
  lv.ids = lv.own_ids.data();
  lv.words = packed;
  lv.size = count;
  lv.listed = true;
  // The candidates after the one about to be tried.
  Word *rest = room(lv.rest, packed);
  set_first(rest, packed, count);
  clear_bit(rest, 0);
}

void CliqueSearch::explore_sum(int *old, int oldnum) {
  Level &lv = *levels_[degree_];
  lv.by_colour = false;
  lv.listed = false;
  lv.colours = 0;
  lv.any_settled = false;
  lv.reuse = -1;
  int *sum = room(lv.key, oldnum);
  Word *set = lv.rest.data();
  const int words = lv.words;
  // 1 plus the candidate's neighbours among the candidates (rows hold no
  // diagonal, so the candidate itself is not counted).
  for (int k = 0; k < oldnum; ++k)
    sum[k] = 1 + count_common(lv.rows + static_cast<std::size_t>(old[k]) * words, set, words);
  quick_sort(oldnum, sum, old);

  // Every candidate adjacent to every other: the candidates complete one clique.
  if (sum[oldnum - 1] == oldnum) {
    ++repeat_;
    record_space(lv, old, oldnum);
    return;
  }

  // Candidates whose neighbourhood cannot reach the best size are dropped.
  int cutnum = oldnum;
  const int t = maxsize_ - degree_;
  for (int k = 0; k < oldnum; ++k) {
    if (sum[k] < t) {
      cutnum = k;
      break;
    }
  }
  if (cutnum == 0) return;
  for (int k = cutnum; k < oldnum; ++k) clear_bit(set, old[k]);
  if (degree_ > 0 && pack(lv, cutnum))
    for (int k = 0; k < cutnum; ++k) old[k] = lv.rank[old[k]];
  branch<true>(lv, lv.order.data(), cutnum);
}

// True when the level's whole search is known without its order (see
// settle_tries) and has been counted.
bool CliqueSearch::settled_whole(Level &lv, int count) {
  Tally tally;
  int work = mcslist_ != nullptr ? kSettleWork : kSettleWorkCounted;
  bool done = false;
  by_width(lv.words,
           [&]<int W>() { done = settle_tries<W>(lv, degree_, count, tally, work, true); });
  if (!done) return false;
  // A budget running out in the level's own loop ends it the same way in
  // any order; one running out deeper does not (see within_budget), and
  // only deeper levels record.
  if (!within_budget(tally.steps)) {
    const Word *resolved = lv.resolved.data();
    for (int w = 0; w < lv.words; ++w)
      if (resolved[w] != 0) return false;
  }
  count_known(tally);
  return true;
}

// The search of a level of one colour that passed its bound, in short: its
// candidates are pairwise non-adjacent, and one alone reaches the best size,
// so its look-ahead stops at once. Its loop tries every candidate in list
// order (equal keys keep their order in the sort), and each try records the
// clique ending in that candidate; those cliques are all of one size.
void CliqueSearch::record_each(const Level &parent, Level &lv, int count) {
  const Word *set = lv.rest.data();
  auto one = [&](int s) {
    if (count_step()) return false;
    const int id = lv.ids[s];
    record(&id, 1);
    return true;
  };
  if (mcslist_ == nullptr) {
    // Counted only, the order does not matter.
    for (int k = 0; k < count; ++k) {
      if (count_step()) return;
      record(nullptr, 1);
    }
    return;
  }
  if (parent.by_colour && count > 1) {
    gather<false>(parent, lv, count, set);
    for (int k = 0; k < count; ++k)
      if (!one(lv.order[k])) return;
    return;
  }
  // A parent ordered by sums has its space in list order (see list_from).
  for (int w = 0; w < lv.words; ++w)
    for (Word b = set[w]; b != 0; b &= b - 1)
      if (!one(w * 64 + std::countr_zero(b))) return;
}

// A level that holds a largest clique known goes on past its colouring
// (it has at least as many colours as the clique has candidates), so it is
// packed first and coloured in its own, narrower space, from the parent's
// colour classes packed down as well: the same classes, in fewer words.
bool CliqueSearch::pack_first(const Level &parent, Level &lv, int count) {
  if (known_cliques_.empty() || lv.live.empty() || known_ - degree_ < 2) return false;
  forget_look_ahead(lv);
  lv.colours = 0;
  const int words = lv.words;
  if (!pack(lv, count)) return false;
  const Compressor compress(lv.outer.data(), words, count);
  Word *to = room(lv.groups, static_cast<std::size_t>(parent.colours) * lv.words);
  for (int g = 0; g < parent.colours; ++g)
    compress(parent.members.data() + static_cast<std::size_t>(g) * words,
             to + static_cast<std::size_t>(g) * lv.words);
  lv.packed_first = true;
  return true;
}

// The greedy colouring in list order of a level about to be searched by
// colours; the colour count bounds any clique among the candidates.
void CliqueSearch::colour_level(const Level &parent, Level &lv, int oldnum) {
  lv.packed_first = false;
  if (oldnum == 1) {
    // One colour in any colouring; its parent let it in as a next level of
    // one node, so it passes the bound.
    lv.colours = 1;
  } else if (parent.by_colour) {
    // Coloured from the set alone; the list is gathered only for a level
    // whose tries can go deeper.
    if (lv.coloured) return;
    const Word *groups = parent.members.data();
    if (pack_first(parent, lv, oldnum)) groups = lv.groups.data();
    by_width(lv.words,
             [&]<int W>() { colour_by_groups<W>(groups, parent.colours, lv, maxsize_ - degree_); });
  } else {
    // The parent's space is in its list order (see list_from).
    by_width(lv.words, [&]<int W>() { colour_in_order<W>(lv, oldnum, maxsize_ - degree_); });
  }
}

// The list and keys of a level whose parent is ordered by colour, packed
// first; `looked` when an earlier look-ahead of this level still holds. True
// when the level's whole search is settled and counted instead.
bool CliqueSearch::list_after_colours(const Level &parent, Level &lv, int oldnum, bool looked) {
  // What an earlier look-ahead left here belongs to another search.
  if (!looked) forget_look_ahead(lv);
  const bool packed = lv.packed_first || pack(lv, oldnum);
  // Once every largest clique is known and found, the loop leaves each try
  // that holds none and enters the others, which record: a look-ahead
  // would learn nothing.
  if (!looked && !found_all_known() && settled_whole(lv, oldnum)) return true;
  colours_by_index(lv);
  if (packed) {
    gather<false>(parent, lv, oldnum, lv.outer.data());
    int *order = lv.order.data();
    int *key = room(lv.key, oldnum);
    for (int k = 0; k < oldnum; ++k) {
      order[k] = lv.rank[order[k]];
      key[k] = lv.colour_of[order[k]];
    }
  } else {
    gather<true>(parent, lv, oldnum, lv.rest.data());
  }
  return false;
}

// The list and keys of a level whose parent is ordered by sums: its space is
// in the parent's list order, so the list is the set read in index order.
// Packed after; true when the level's whole search is settled and counted
// instead.
bool CliqueSearch::list_after_sums(Level &lv, int oldnum) {
  colours_by_index(lv);
  int *order = room(lv.order, oldnum);
  int *key = room(lv.key, oldnum);
  const Word *set = lv.rest.data();
  for (int w = 0, n = 0; w < lv.words; ++w)
    for (Word b = set[w]; b != 0; b &= b - 1, ++n) {
      order[n] = w * 64 + std::countr_zero(b);
      key[n] = lv.colour_of[order[n]];
    }
  forget_look_ahead(lv);
  if (pack(lv, oldnum))
    for (int k = 0; k < oldnum; ++k) order[k] = lv.rank[order[k]];
  return settled_whole(lv, oldnum);
}

void CliqueSearch::explore_numonly(int oldnum) {
  Level &lv = *levels_[degree_];
  const Level &parent = *levels_[degree_ - 1];
  // A level entered first after its parent's look-ahead stopped below it
  // is coloured already, and its own look-ahead would stop at the same
  // place while the best size is the same.
  const bool looked = lv.coloured && lv.any_settled && lv.doomed && lv.looked_max == maxsize_;
  colour_level(parent, lv, oldnum);
  lv.coloured = false;
  if (degree_ + lv.colours < maxsize_) return;
  if (lv.colours == 1) {
    forget_look_ahead(lv);
    record_each(parent, lv, oldnum);
    return;
  }
  // A level that can reach the best size is packed before anything else is
  // done with it.
  const bool settled = parent.by_colour ? list_after_colours(parent, lv, oldnum, looked)
                                        : list_after_sums(lv, oldnum);
  if (settled) return;
  int *num = lv.key.data();
  int *old = lv.order.data();
  if (oldnum <= kSmallSortKeys && lv.colours <= 64)
    quick_sort_small(oldnum, num, old);
  else
    quick_sort(oldnum, num, old);
  lv.by_colour = true;
  branch<false>(lv, old, oldnum);
}

}  // namespace

void quick_sort(int datnum, int *dat, int *dat2) {
  if (datnum < 2) return;
  quick_sort_bounded(datnum, dat, dat2, *std::max_element(dat, dat + datnum));
}

void quick_sort_small(int datnum, int *dat, int *dat2) {
  if (datnum < 2) return;
  switch ((datnum + 63) / 64) {
    case 1:
      sort_small<1>(datnum, dat, dat2);
      break;
    case 2:
      sort_small<2>(datnum, dat, dat2);
      break;
    case 3:
      sort_small<3>(datnum, dat, dat2);
      break;
    default:
      sort_small<4>(datnum, dat, dat2);
      break;
  }
}

void search(const DockBits &graph, int repeat, int *ret_num, MCS *ret_mcs, int *ret_max,
            SearchProbe *probe) {
  // The buffers of a search grow with its graph: those of a large one are
  // given back rather than kept for the thread's life.
  constexpr int kKeptNodes = 2048;
  thread_local Scratch scratch;
  CliqueSearch search(graph, repeat, ret_mcs, probe, scratch);
  if (probe != nullptr && probe->known_size > 0 && probe->side1 != nullptr &&
      probe->side2 != nullptr) {
    search.know_size(probe->known_size, probe->side1, probe->side2);
    search.know_cliques(probe->known_cliques, probe->judge);
    search.know_pairs(probe->pairs);
  }
  if (probe != nullptr)
    search.give_up_after(probe->give_up_after, probe->give_up_at, probe->give_up_on);
  if (graph.n > 0) search.run();
  *ret_num = search.mcsnum();
  *ret_max = search.maxsize();
  if (probe != nullptr) {
    probe->steps = search.steps();
    probe->cut = search.cut();
    probe->gave_up = search.gave_up();
  }
  if (graph.n > kKeptNodes) scratch = Scratch{};
}

}  // namespace cpdcf2::CPDCF2_FLAVOUR
