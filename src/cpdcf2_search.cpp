// The clique search: a depth-first branch and bound whose every step, sort
// and record follows one fixed order (see clifinder2), done on bit rows.
//
// This file is compiled twice; CPDCF2_FLAVOUR names the namespace of each
// build (portable, or bmi2 with the bit-manipulation instructions enabled).
#include "cpdcf2_search.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdlib>
#include <deque>
#include <numeric>
#include <utility>
#include <vector>

#ifdef __BMI2__
#include <immintrin.h>
#endif

#ifndef CPDCF2_FLAVOUR
#define CPDCF2_FLAVOUR portable
#endif

namespace cpdcf2::CPDCF2_FLAVOUR {

namespace {

using Word = std::uint64_t;

constexpr int kDefaultBudget = 15000;

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

// Bits below position v.
Word below(int v) {
  return bit(v) - 1;
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

// The same sort for at most 64 keys below 64, on one bit mask of positions
// per key value. A partition around p exchanges, pair by pair, the lowest
// key <= p in the first g positions with the highest key > p after them (g
// keys exceed p): the pairs are found with bit scans instead of element-wise
// comparisons, and a range holding one key value or already in descending
// order is left alone, as the plain sort would leave it.
class SmallSort {
 public:
  SmallSort(int *dat, int *dat2, int datnum) : dat_(dat), dat2_(dat2) {
    for (int k = 0; k < datnum; ++k) {
      const int v = dat[k];
      while (keys_ <= v) mask_[keys_++] = 0;
      mask_[v] |= bit(k);
    }
  }

  void sort(int lo, int hi, int bound) {
    while (hi > lo) {
      const int p = dat_[lo];
      if (p >= bound) {
        ++lo;
        continue;
      }
      const Word range = span(lo, hi);
      // Keys above p, and whether the range is already non-increasing (each
      // key value's positions all before those of smaller values).
      Word gt = 0;
      bool ordered = true;
      Word seen = 0;
      for (int v = std::min(bound, keys_ - 1); v >= 0; --v) {
        const Word m = mask_[v] & range;
        if (m == 0) continue;
        if (v > p) gt |= m;
        if (seen != 0 && std::countr_zero(m) < 63 - std::countl_zero(seen)) ordered = false;
        seen |= m;
      }
      if (ordered) return;
      const int g = std::popcount(gt);
      if (g == 0) {
        ++lo;
        bound = p;
        continue;
      }
      Word a = range & ~gt & span(lo, lo + g - 1);
      Word b = gt & span(lo + g, hi);
      while (a != 0) {
        const int i = std::countr_zero(a);
        const int j = 63 - std::countl_zero(b);
        exchange(i, j);
        a &= a - 1;
        b &= ~bit(j);
      }
      const int left = g;
      const int right = hi - lo + 1 - g;
      if (left <= right) {
        sort(lo, lo + g - 1, bound);
        lo += g;
        bound = p;
      } else {
        sort(lo + g, hi, p);
        hi = lo + g - 1;
      }
    }
  }

 private:
  static Word span(int lo, int hi) {
    const Word upto = hi >= 63 ? ~Word{0} : bit(hi + 1) - 1;
    return upto & ~below(lo);
  }
  void exchange(int i, int j) {
    const Word both = bit(i) | bit(j);
    mask_[dat_[i]] ^= both;
    mask_[dat_[j]] ^= both;
    std::swap(dat_[i], dat_[j]);
    std::swap(dat2_[i], dat2_[j]);
  }

  int *dat_;
  int *dat2_;
  Word mask_[64];
  int keys_ = 0;
};

// One clique search. Every piece of search state lives here, so separate
// searches share nothing.
//
// Each level keeps its candidates in their search order, as the order of the
// search demands, and beside them as bits of a "space": an indexing of a set
// of nodes with adjacency rows over that indexing. The first level's space is
// the whole graph; every deeper level packs its parent's rows down to its own
// candidates, so that a level of up to 64 candidates works on single words:
// colour tests are one AND, neighbour counts one popcount.
class CliqueSearch {
 public:
  CliqueSearch(const DockBits &graph, int repeat, MCS *list, SearchProbe *probe)
      : max_repeat_(repeat >= 0 ? repeat : kDefaultBudget),
        repeat_changeover_(graph.n / 2),
        mcslist_(list),
        graph_(graph),
        alloc_(probe && probe->alloc ? probe->alloc : std::malloc),
        release_(probe && probe->release ? probe->release : std::free) {}

  void run() {
    const int nodenum = graph_.n;
    selected_.assign(nodenum, 0);
    Level &top = level(0);
    top.own_ids.resize(nodenum);
    std::iota(top.own_ids.begin(), top.own_ids.end(), 0);
    top.ids = top.own_ids.data();
    top.rows = graph_.bits.data();
    top.words = graph_.words;
    top.rest.assign(graph_.words, 0);
    for (int v = 0; v < nodenum; ++v) set_bit(top.rest.data(), v);
    top.order = top.own_ids;
    explore_sum(top.order.data(), nodenum);
  }

  int mcsnum() const { return mcsnum_; }
  int maxsize() const { return maxsize_; }
  long long steps() const { return repeat_; }

 private:
  // Scratch of one search level, kept per depth and reused by sibling levels.
  struct Level {
    const Word *rows = nullptr;  // the level's space: adjacency rows of `words` words
    int words = 0;
    const int *ids = nullptr;  // and the node number of each index
    std::vector<Word> own_rows;
    std::vector<int> own_ids;
    std::vector<int> order;     // the candidates (space indices) in search order
    std::vector<int> key;       // sum or colour per candidate
    std::vector<Word> rest;     // candidates not yet tried (space bits)
    std::vector<Word> classes;  // colouring: members of each colour (space bits)
    std::vector<Word> common;   // the next level's candidates (space bits)
    std::vector<int> rank;      // packing: new index of each index of the space
    std::vector<int> tail;      // node numbers of a clique's last nodes
  };

  // A deque keeps references to existing levels valid while deeper ones are added.
  Level &level(int depth) {
    while (static_cast<int>(levels_.size()) <= depth) levels_.emplace_back();
    return levels_[depth];
  }

  // Counts one pass of a candidate loop; true when the budget is used up.
  bool count_step() {
    if (max_repeat_ == 0) return false;
    ++repeat_;
    return repeat_ > max_repeat_;
  }

  void descend(Level &lv, const int *old, int pos, int end, int count);
  template <bool kSum>
  void branch(Level &lv, int *old, int cutnum);
  void explore_sum(int *old, int oldnum);
  void explore_numonly(int *old, int oldnum);
  void record(const int *tail, int tailnum);
  void record_space(const Level &lv, const int *old, int num);

  long long max_repeat_;  // 0: no budget
  long long repeat_ = 0;  // step counter; 64 bits so a budget near INT_MAX cannot overflow it
  int repeat_changeover_;
  int mcsnum_ = 0;
  MCS *mcslist_;
  const DockBits &graph_;
  std::vector<int> selected_;
  int degree_ = 0;
  int maxsize_ = 0;
  std::deque<Level> levels_;
  void *(*alloc_)(std::size_t);
  void (*release_)(void *);
};

void CliqueSearch::record(const int *tail, int tailnum) {
  const int s = degree_ + tailnum;
  if (s < maxsize_) return;
  if (s == maxsize_ && mcsnum_ == CPD_MAX) return;

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
}

// Records the clique of `selected` followed by the given candidates of a level.
void CliqueSearch::record_space(const Level &lv, const int *old, int num) {
  if (degree_ + num < maxsize_) return;
  std::vector<int> &tail = levels_[degree_].tail;
  tail.resize(num);
  for (int k = 0; k < num; ++k) tail[k] = lv.ids[old[k]];
  record(tail.data(), num);
}

// Sets up the next level: the `count` candidates after position pos of `lv`
// adjacent to its candidate there (lv.common), packed into a space of their
// own (index r for the r-th of them by index), in search order.
void CliqueSearch::descend(Level &lv, const int *old, int pos, int end, int count) {
  Level &next = level(degree_ + 1);
  const Word *set = lv.common.data();
  const int words = lv.words;
  const int packed = (count + 63) / 64;
  next.words = packed;
  next.own_ids.resize(count);
  next.order.resize(count);
  next.rest.assign(packed, 0);
  for (int k = 0; k < count; ++k) set_bit(next.rest.data(), k);
  next.own_rows.resize(static_cast<std::size_t>(count) * packed);
  Word *rows = next.own_rows.data();
  int *ids = next.own_ids.data();
  int *order = next.order.data();

  if (words == 1) {
    const Word g = set[0];
    int r = 0;
    for (Word bits = g; bits != 0; bits &= bits - 1, ++r) {
      const int s = std::countr_zero(bits);
      rows[r] = extract_bits(lv.rows[s], g);
      ids[r] = lv.ids[s];
    }
    int n = 0;
    for (int k = pos + 1; k < end; ++k) {
      const int s = old[k];
      if ((g >> s) & 1u) order[n++] = std::popcount(g & below(s));
    }
  } else {
    next.rank.resize(static_cast<std::size_t>(words) * 64);
    std::fill(rows, rows + static_cast<std::size_t>(count) * packed, Word{0});
    int r = 0;
    for (int w = 0; w < words; ++w) {
      for (Word bits = set[w]; bits != 0; bits &= bits - 1, ++r) {
        const int s = w * 64 + std::countr_zero(bits);
        next.rank[s] = r;
        ids[r] = lv.ids[s];
        const Word *src = lv.rows + static_cast<std::size_t>(s) * words;
        Word *dst = rows + static_cast<std::size_t>(r) * packed;
        int out = 0;
        for (int u = 0; u < words; ++u) {
          const Word mask = set[u];
          if (mask == 0) continue;
          const Word bits_u = extract_bits(src[u], mask);
          const int shift = out & 63;
          dst[out >> 6] |= bits_u << shift;
          const int width = std::popcount(mask);
          if (shift + width > 64) dst[(out >> 6) + 1] |= bits_u >> (64 - shift);
          out += width;
        }
      }
    }
    int n = 0;
    for (int k = pos + 1; k < end; ++k)
      if (has_bit(set, old[k])) order[n++] = next.rank[old[k]];
  }
  next.rows = rows;
  next.ids = ids;
}

// The candidate loop shared by both strategies: candidates by descending
// key, each tried as the next node of the clique while its key and the
// candidates left can still reach the best size.
template <bool kSum>
void CliqueSearch::branch(Level &lv, int *old, int cutnum) {
  const int *key = lv.key.data();
  const int words = lv.words;
  // `rest` holds the candidates after the current position: the next level's
  // list is their common bits with the candidate's row, counted before it is
  // gathered, so a list too short to matter costs one count.
  Word *rest = lv.rest.data();
  lv.common.resize(words);
  Word *common = lv.common.data();
  for (int i = 0; i < cutnum; ++i) {
    if (count_step()) return;
    const int t = maxsize_ - degree_;
    const int bound = kSum ? key[i] : key[i] + 1;
    if (cutnum - i < t || bound < t) return;
    clear_bit(rest, old[i]);
    const Word *row = lv.rows + static_cast<std::size_t>(old[i]) * words;
    int newnum = 0;
    for (int w = 0; w < words; ++w) {
      common[w] = row[w] & rest[w];
      newnum += std::popcount(common[w]);
    }
    if (newnum > 0) {
      if (newnum + 1 < t) continue;
      descend(lv, old, i, cutnum, newnum);
      selected_[degree_++] = lv.ids[old[i]];
      int *next = levels_[degree_].order.data();
      if (kSum && repeat_ < repeat_changeover_)
        explore_sum(next, newnum);
      else
        explore_numonly(next, newnum);
      --degree_;
    } else {
      record_space(lv, &old[i], 1);
    }
  }
}

void CliqueSearch::explore_sum(int *old, int oldnum) {
  Level &lv = levels_[degree_];
  lv.key.resize(oldnum);
  int *sum = lv.key.data();
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
  branch<true>(lv, old, cutnum);
}

void CliqueSearch::explore_numonly(int *old, int oldnum) {
  Level &lv = levels_[degree_];
  lv.key.resize(oldnum);
  int *num = lv.key.data();
  const int words = lv.words;

  // Greedy colouring in arrival order: each candidate takes the smallest
  // colour that none of its earlier neighbours has, the members of a colour
  // being kept as bits so that a colour is tried with one AND per word. The
  // colour count bounds any clique among the candidates.
  if (lv.classes.size() < static_cast<std::size_t>(oldnum) * words)
    lv.classes.resize(static_cast<std::size_t>(oldnum) * words);
  Word *classes = lv.classes.data();
  int colours = 0;
  if (words == 1) {
    for (int k = 0; k < oldnum; ++k) {
      const int s = old[k];
      const Word row = lv.rows[s];
      int c = 0;
      while (c < colours && (row & classes[c]) != 0) ++c;
      if (c == colours) classes[colours++] = 0;
      classes[c] |= bit(s);
      num[k] = c;
    }
  } else {
    for (int k = 0; k < oldnum; ++k) {
      const int s = old[k];
      const Word *row = lv.rows + static_cast<std::size_t>(s) * words;
      int c = 0;
      while (c < colours &&
             count_common(row, classes + static_cast<std::size_t>(c) * words, words) != 0)
        ++c;
      if (c == colours)
        std::fill_n(classes + static_cast<std::size_t>(colours++) * words, words, Word{0});
      set_bit(classes + static_cast<std::size_t>(c) * words, s);
      num[k] = c;
    }
  }
  if (degree_ + colours < maxsize_) return;

  if (oldnum <= 64 && colours <= 64)
    quick_sort_small(oldnum, num, old);
  else
    quick_sort(oldnum, num, old);
  branch<false>(lv, old, oldnum);
}

}  // namespace

void quick_sort(int datnum, int *dat, int *dat2) {
  if (datnum < 2) return;
  quick_sort_bounded(datnum, dat, dat2, *std::max_element(dat, dat + datnum));
}

void quick_sort_small(int datnum, int *dat, int *dat2) {
  if (datnum < 2) return;
  SmallSort s(dat, dat2, datnum);
  s.sort(0, datnum - 1, *std::max_element(dat, dat + datnum));
}

void search(const DockBits &graph, int repeat, int *ret_num, MCS *ret_mcs, int *ret_max,
            SearchProbe *probe) {
  CliqueSearch search(graph, repeat, ret_mcs, probe);
  if (graph.n > 0) search.run();
  *ret_num = search.mcsnum();
  *ret_max = search.maxsize();
  if (probe != nullptr) probe->steps = search.steps();
}

}  // namespace cpdcf2::CPDCF2_FLAVOUR
