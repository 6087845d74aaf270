// The clique finder as first written: a plain byte-matrix search kept as the
// reference that the tests and benchmarks hold the engine's finder to. Every
// search order, step count and recorded clique of the engine must equal it.
#include "cpdcf2_ref.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <numeric>
#include <utility>
#include <vector>

#include "cpddock.h"
#include "exe1.h"

namespace cpdcf2_ref {

void quick_sort(int datnum, int *dat, int *dat2) {
  // After a partition the two ranges are sorted independently of each other,
  // so recursing into the smaller one and looping on the larger one gives the
  // same result as sorting left then right, with a stack of logarithmic depth.
  while (datnum >= 2) {
    const int p = dat[0];
    int i = 0;
    int j = datnum - 1;
    for (;;) {
      while (i < datnum - 1 && dat[i] > p) ++i;
      while (j > 0 && dat[j] <= p) --j;
      if (i >= j) break;
      std::swap(dat[i], dat[j]);
      std::swap(dat2[i], dat2[j]);
    }
    const int left = j + 1;
    const int right = datnum - left;
    if (left <= right) {
      quick_sort(left, dat, dat2);
      dat += left;
      dat2 += left;
      datnum = right;
    } else {
      quick_sort(right, dat + left, dat2 + left);
      datnum = left;
    }
  }
}

int compare_int(const int *x, const int *y) {
  if (*x > *y) return 1;
  if (*x < *y) return -1;
  return 0;
}

}  // namespace cpdcf2_ref

namespace {

using cpdcf2::SearchProbe;
using cpdcf2_ref::quick_sort;

constexpr int kDefaultBudget = 15000;

int compare_int_qsort(const void *x, const void *y) {
  return cpdcf2_ref::compare_int(static_cast<const int *>(x), static_cast<const int *>(y));
}

// One clique search. Every piece of search state lives here, so separate
// searches share nothing.
class CliqueSearch {
 public:
  CliqueSearch(int nodenum, const char *matrix, int repeat, MCS *list, SearchProbe *probe)
      : max_repeat_(repeat >= 0 ? repeat : kDefaultBudget),
        repeat_changeover_(nodenum / 2),
        mcslist_(list),
        connected_(matrix),
        alloc_(probe && probe->alloc ? probe->alloc : std::malloc),
        release_(probe && probe->release ? probe->release : std::free) {}

  void run(int nodenum) {
    std::vector<int> old(nodenum);
    std::iota(old.begin(), old.end(), 0);
    selected_.assign(nodenum, 0);
    explore_sum(old.data(), nodenum);
  }

  int mcsnum() const { return mcsnum_; }
  int maxsize() const { return maxsize_; }
  long long steps() const { return repeat_; }

 private:
  // Scratch of one search level: the key per candidate and the candidate list
  // handed to the next level. Buffers are kept per depth and reused by
  // sibling levels, so they grow to the largest candidate list seen there.
  struct Level {
    std::vector<int> key;
    std::vector<int> next;
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

  // The candidates after position pos (up to end) that are adjacent to old[pos], in order.
  int gather_next(const int *old, int pos, int end, int *next) const {
    const char *row = connected_ + static_cast<std::size_t>(old[pos]) * DOCK_STRIDE;
    int n = 0;
    for (int k = pos + 1; k < end; ++k)
      if (row[old[k]] != 0) next[n++] = old[k];
    return n;
  }

  void explore_sum(int *old, int oldnum);
  void explore_numonly(int *old, int oldnum);
  void record(const int *tail, int tailnum);

  long long max_repeat_;  // 0: no budget
  long long repeat_ = 0;  // step counter; 64 bits so a budget near INT_MAX cannot overflow it
  int repeat_changeover_;
  int mcsnum_ = 0;
  MCS *mcslist_;
  const char *connected_;
  std::vector<int> selected_;
  int degree_ = 0;
  int maxsize_ = 0;
  std::deque<Level> levels_;
  std::vector<std::vector<int>> colour_class_;  // colouring scratch: members per colour
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
  std::qsort(vlist, static_cast<std::size_t>(s), sizeof(int), compare_int_qsort);
  ++mcsnum_;
}

void CliqueSearch::explore_sum(int *old, int oldnum) {
  Level &lv = level(degree_);
  std::vector<int> &sum = lv.key;
  sum.assign(oldnum, 1);
  for (int k = 0; k < oldnum; ++k) {
    const char *row = connected_ + static_cast<std::size_t>(old[k]) * DOCK_STRIDE;
    for (int l = k + 1; l < oldnum; ++l) {
      if (row[old[l]] != 0) {
        ++sum[k];
        ++sum[l];
      }
    }
  }
  quick_sort(oldnum, sum.data(), old);

  // Every candidate adjacent to every other: the candidates complete one clique.
  if (sum[oldnum - 1] == oldnum) {
    ++repeat_;
    record(old, oldnum);
    return;
  }

  // Candidates whose neighbourhood cannot reach the best size are dropped.
  int cutnum = oldnum;
  {
    const int t = maxsize_ - degree_;
    for (int k = 0; k < oldnum; ++k) {
      if (sum[k] < t) {
        cutnum = k;
        break;
      }
    }
  }
  if (cutnum == 0) return;

  if (static_cast<int>(lv.next.size()) < cutnum) lv.next.resize(cutnum);
  int *next = lv.next.data();
  for (int i = 0; i < cutnum; ++i) {
    if (count_step()) return;
    const int t = maxsize_ - degree_;
    if (cutnum - i < t || sum[i] < t) return;
    const int newnum = gather_next(old, i, cutnum, next);
    if (newnum > 0) {
      if (newnum + 1 < t) continue;
      selected_[degree_++] = old[i];
      if (repeat_ < repeat_changeover_)
        explore_sum(next, newnum);
      else
        explore_numonly(next, newnum);
      --degree_;
    } else {
      record(&old[i], 1);
    }
  }
}

void CliqueSearch::explore_numonly(int *old, int oldnum) {
  Level &lv = level(degree_);
  std::vector<int> &num = lv.key;
  num.assign(oldnum, 0);

  // Greedy colouring in arrival order: each candidate takes the smallest
  // colour that none of its earlier neighbours has. Keeping the members of
  // each colour lets the test of a colour stop at its first neighbour.
  // The colour count bounds any clique among the candidates.
  int colours = 0;
  for (int k = 0; k < oldnum; ++k) {
    const char *row = connected_ + static_cast<std::size_t>(old[k]) * DOCK_STRIDE;
    int c = 0;
    for (; c < colours; ++c) {
      const std::vector<int> &members = colour_class_[c];
      bool taken = false;
      for (const int v : members) {
        if (row[v] != 0) {
          taken = true;
          break;
        }
      }
      if (!taken) break;
    }
    if (c == colours) {
      if (static_cast<int>(colour_class_.size()) == colours) colour_class_.emplace_back();
      colour_class_[colours++].clear();
    }
    colour_class_[c].push_back(old[k]);
    num[k] = c;
  }
  if (degree_ + colours < maxsize_) return;

  quick_sort(oldnum, num.data(), old);

  if (static_cast<int>(lv.next.size()) < oldnum) lv.next.resize(oldnum);
  int *next = lv.next.data();
  for (int i = 0; i < oldnum; ++i) {
    if (count_step()) return;
    const int t = maxsize_ - degree_;
    if (oldnum - i < t || num[i] + 1 < t) return;
    const int newnum = gather_next(old, i, oldnum, next);
    if (newnum > 0) {
      if (newnum + 1 < t) continue;
      selected_[degree_++] = old[i];
      explore_numonly(next, newnum);
      --degree_;
    } else {
      record(&old[i], 1);
    }
  }
}

}  // namespace

namespace cpdcf2_ref {

void clifinder2(int nodenum, const char *matrix, int repeat, int *ret_num, MCS *ret_mcs,
                int *ret_max, SearchProbe *probe) {
  CliqueSearch search(nodenum, matrix, repeat, ret_mcs, probe);
  if (nodenum > 0 && nodenum <= DOCK_STRIDE && matrix != nullptr) search.run(nodenum);
  *ret_num = search.mcsnum();
  *ret_max = search.maxsize();
  if (probe != nullptr) probe->steps = search.steps();
}

}  // namespace cpdcf2_ref

namespace cpdcf2_ref {

void engine_finder(int nodenum, const char *matrix, int repeat, int *ret_num, MCS *ret_mcs,
                   int *ret_max) {
  clifinder2(nodenum, matrix, repeat, ret_num, ret_mcs, ret_max);
}

namespace {

// One report form of the pair; with `alignment` false, computed as the
// score line needs it.
std::string report(CPDMOL *a, CPDMOL *b, int atom_mode, int exec_mode, int repeat, int form,
                   bool alignment) {
  char *buf = nullptr;
  std::size_t len = 0;
  FILE *fp = open_memstream(&buf, &len);
  if (fp == nullptr) return {};
  init_exe1(atom_mode, exec_mode, form, repeat, CPD_MAX);
  dock_pair(a, b);
  compute_docked(alignment);
  output_similarity(fp);
  std::fclose(fp);
  std::string text(buf, len);
  std::free(buf);
  return text;
}

}  // namespace

std::string all_reports(CPDMOL *a, CPDMOL *b, int atom_mode, int exec_mode, int repeat) {
  std::string all;
  for (int form : {1, 4, 32}) all += report(a, b, atom_mode, exec_mode, repeat, form, true);
  return all;
}

std::string score_line(CPDMOL *a, CPDMOL *b, int atom_mode, int exec_mode, int repeat) {
  return report(a, b, atom_mode, exec_mode, repeat, 1, false);
}

}  // namespace cpdcf2_ref
