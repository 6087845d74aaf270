#include "complist.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr const char *kModule = "complist";

// Fixed report numbers: each one names the place that reported.
constexpr int kWhereNewnum = 92;
constexpr int kWhereLimit = 122;
constexpr int kWhereBlock = 132;
constexpr int kWhereWrap = 324;

void report_memory(int where) {
  fprintf(stderr, "%s: can't allocate memory <%d>\n", kModule, where);
}

void report_limit(int where) {
  fprintf(stderr, "%s: exceed limitation <%d>\n", kModule, where);
}

bool is_live(const CompListBlock &b, size_t k) {
  return b.flag.empty() || b.flag[k] != 0;
}

// Calls fn(slot reference) for every live item in position order until fn
// returns true. Returns whether it was stopped.
template <typename Fn>
bool for_each_live(CompList *l, Fn fn) {
  for (CompListBlock &b : l->blocks) {
    if (b.datanum == 0) continue;
    for (size_t k = 0; k < b.data.size(); ++k) {
      if (is_live(b, k) && fn(b.data[k])) return true;
    }
  }
  return false;
}

bool matches(const void *item, const void *data, CompListFunc func) {
  return func != nullptr ? func(item, data) == 0 : item == data;
}

// Item at position num; reports its block and slot, or -1 and -1 when the
// position does not exist.
void *_getdata_(CompList *l, int num, int *blk, int *slot) {
  *blk = -1;
  *slot = -1;
  if (l == nullptr || num <= 0) return nullptr;
  for (size_t i = 0; i < l->blocks.size(); ++i) {
    CompListBlock &b = l->blocks[i];
    if (num > b.datanum) {
      num -= b.datanum;
      continue;
    }
    size_t k = 0;
    if (b.flag.empty()) {
      k = static_cast<size_t>(num - 1);  // no holes: the slot is the position
    } else {
      for (;; ++k) {
        if (b.flag[k] != 0 && --num == 0) break;
      }
    }
    *blk = static_cast<int>(i);
    *slot = static_cast<int>(k);
    return b.data[k];
  }
  return nullptr;
}

// First live item matching data and its position (0 when none matches).
void *_searchdata_(CompList *l, void *data, CompListFunc func, int *position) {
  *position = 0;
  if (l == nullptr) return nullptr;
  int count = 0;
  void *found = nullptr;
  for_each_live(l, [&](void *&item) {
    ++count;
    if (!matches(item, data, func)) return false;
    found = item;
    *position = count;
    return true;
  });
  return found;
}

int _printdata_(void *data, int num) {
  if (data == nullptr) {
    printf("%d:[(null)]\n", num);
  } else {
    printf("%d:[%s]\n", num, static_cast<const char *>(data));
  }
  return 0;
}

}  // namespace

CompList *complist_new() {
  return complist_newnum(1024);
}

CompList *complist_newnum(int b) {
  // The record is handed to the caller and lives until exit.
  auto *l = new (std::nothrow) CompList;
  if (l == nullptr) {
    report_memory(kWhereNewnum);
    return nullptr;
  }
  l->base = b > 0 ? b : 1024;
  l->lastidx_data = l->base - 1;
  return l;
}

void complist_add(CompList *l, void *data) {
  if (l == nullptr) return;
  int blk = l->lastidx_list;
  int slot = l->lastidx_data + 1;
  if (slot == l->base) {
    slot = 0;
    ++blk;
    // The cursor stays on the last slot, so every later addition is refused too.
    if (blk >= kCompListMaxBlocks) {
      report_limit(kWhereLimit);
      return;
    }
  }
  // Nothing changes unless the slot can be stored; the cursor only moves then,
  // so a later addition retries the same slot.
  try {
    if (static_cast<size_t>(blk) >= l->blocks.size()) l->blocks.emplace_back();
    CompListBlock &b = l->blocks[static_cast<size_t>(blk)];
    // A block re-entered after compaction keeps slots beyond the cursor; drop them.
    b.data.resize(static_cast<size_t>(slot));
    if (!b.flag.empty()) {
      b.flag.resize(static_cast<size_t>(slot));
      b.flag.reserve(static_cast<size_t>(slot) + 1);
    }
    b.data.push_back(data);
    if (!b.flag.empty()) b.flag.push_back(1);
    ++b.datanum;
  } catch (const std::bad_alloc &) {
    report_memory(kWhereBlock);
    return;
  }
  ++l->totalnum;
  l->lastidx_list = blk;
  l->lastidx_data = slot;
}

void complist_addif(CompList *l, void *data, CompListFunc func) {
  int position = 0;
  _searchdata_(l, data, func, &position);
  if (position == 0) complist_add(l, data);
}

void complist_merge(CompList *l1, CompList *l2, CompListFunc func) {
  if (l1 == nullptr || l2 == nullptr) return;
  // Snapshot first: l1 and l2 may be the same list.
  std::vector<void *> items;
  items.reserve(static_cast<size_t>(l2->totalnum));
  for_each_live(l2, [&](void *&item) {
    items.push_back(item);
    return false;
  });
  for (void *item : items) complist_addif(l1, item, func);
}

int complist_numberof(CompList *l) {
  return l != nullptr ? l->totalnum : 0;
}

void *complist_getdata(CompList *l, int num) {
  int blk = 0;
  int slot = 0;
  return _getdata_(l, num, &blk, &slot);
}

char complist_search(CompList *l, void *data, CompListFunc func) {
  int position = 0;
  _searchdata_(l, data, func, &position);
  return position != 0 ? 1 : 0;
}

int complist_search_num(CompList *l, void *data, CompListFunc func) {
  int position = 0;
  _searchdata_(l, data, func, &position);
  return position;
}

void *complist_search_data(CompList *l, void *data, CompListFunc func) {
  int position = 0;
  return _searchdata_(l, data, func, &position);
}

int complist_remove(CompList *l, void *data) {
  if (l == nullptr) return 0;
  int removed = 0;
  for (CompListBlock &b : l->blocks) {
    if (b.datanum == 0) continue;
    for (size_t k = 0; k < b.data.size(); ++k) {
      if (!is_live(b, k) || b.data[k] != data) continue;
      if (b.flag.empty()) b.flag.assign(b.data.size(), 1);
      b.flag[k] = 0;
      --b.datanum;
      --l->totalnum;
      ++removed;
    }
  }
  return removed;
}

void complist_gc(CompList *l) {
  if (l == nullptr) return;
  const size_t base = static_cast<size_t>(l->base);
  // Live items move down to the lowest global slots, keeping their order; the
  // write position never passes the read position, so this works in place.
  size_t w = 0;
  for (CompListBlock &b : l->blocks) {
    for (size_t k = 0; k < b.data.size(); ++k) {
      if (is_live(b, k)) {
        l->blocks[w / base].data[w % base] = b.data[k];
        ++w;
      }
    }
  }
  // Blocks past the last one used stay in the table, with no slots filled.
  size_t remaining = w;
  for (CompListBlock &b : l->blocks) {
    size_t used = remaining < base ? remaining : base;
    remaining -= used;
    b.data.resize(used);
    if (used == 0) b.data.shrink_to_fit();
    std::vector<char>().swap(b.flag);
    b.datanum = static_cast<int>(used);
  }
  if (w == 0) {
    l->lastidx_list = -1;
    l->lastidx_data = l->base - 1;
  } else {
    l->lastidx_list = static_cast<int>((w - 1) / base);
    l->lastidx_data = static_cast<int>((w - 1) % base);
  }
}

void complist_sort(CompList *l, CompListFunc func) {
  if (l == nullptr || l->totalnum <= 1) return;
  // Positions map to fixed slots during the sort (only item pointers move), so
  // the slots are resolved once instead of per comparison.
  std::vector<void **> slot;
  slot.reserve(static_cast<size_t>(l->totalnum));
  for_each_live(l, [&](void *&item) {
    slot.push_back(&item);
    return false;
  });
  const size_t n = slot.size();
  for (size_t i = 0; i + 1 < n; ++i) {
    for (size_t j = i + 1; j < n; ++j) {
      void *a = *slot[i];
      void *b = *slot[j];
      bool out_of_order;
      if (func != nullptr) {
        out_of_order = func(a, b) > 0;
      } else {
        // Sign of the address difference a - b.
        out_of_order = reinterpret_cast<std::uintptr_t>(a) > reinterpret_cast<std::uintptr_t>(b);
      }
      if (out_of_order) {
        *slot[i] = b;
        *slot[j] = a;
      }
    }
  }
}

void *complist_wrap(const void *data, int size) {
  if (data == nullptr || size < 0) return nullptr;
  const size_t n = static_cast<size_t>(size) + 1;
  void *copy = malloc(n);
  if (copy == nullptr) {
    report_memory(kWhereWrap);
    return nullptr;
  }
  memcpy(copy, data, n);
  return copy;
}

void complist_print(CompList *l, int (*func)(void *item, int position)) {
  if (l == nullptr) return;
  if (func == nullptr) func = _printdata_;
  int position = 0;
  for_each_live(l, [&](void *&item) {
    func(item, ++position);
    return false;
  });
}

void complist_clear(CompList *l) {
  if (l == nullptr) return;
  std::vector<CompListBlock>().swap(l->blocks);
  l->totalnum = 0;
  l->lastidx_list = -1;
  l->lastidx_data = l->base - 1;
}
