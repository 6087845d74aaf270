#include "complist.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int compare_strings(const void *a, const void *b) {
  return strcmp(static_cast<const char *>(a), static_cast<const char *>(b));
}

int compare_ints(const void *a, const void *b) {
  return *static_cast<const int *>(a) - *static_cast<const int *>(b);
}

// Items in position order, read back through complist_getdata.
std::vector<void *> items_of(CompList *l) {
  std::vector<void *> out;
  for (int i = 1; i <= complist_numberof(l); ++i) out.push_back(complist_getdata(l, i));
  return out;
}

TEST(CompListCreate, NewListIsEmpty) {
  CompList *l = complist_new();
  ASSERT_NE(l, nullptr);
  EXPECT_EQ(l->base, 1024);
  EXPECT_EQ(complist_numberof(l), 0);
  EXPECT_EQ(complist_getdata(l, 1), nullptr);
  int x = 0;
  EXPECT_EQ(complist_search_num(l, &x, nullptr), 0);
  EXPECT_EQ(complist_search(l, &x, nullptr), 0);
  EXPECT_EQ(l->lastidx_list, -1);
  EXPECT_EQ(l->lastidx_data, 1023);
  EXPECT_TRUE(l->blocks.empty());  // nothing allocated before the first addition
}

TEST(CompListCreate, NonPositiveBaseMeansDefault) {
  EXPECT_EQ(complist_newnum(0)->base, 1024);
  EXPECT_EQ(complist_newnum(-5)->base, 1024);
  CompList *l = complist_newnum(7);
  EXPECT_EQ(l->base, 7);
  EXPECT_EQ(l->lastidx_data, 6);
}

TEST(CompListCreate, AlmostEmptyListIsSmall) {
  // A record plus one block holding one slot: no eager per-block arrays.
  CompList *l = complist_new();
  int x = 0;
  complist_add(l, &x);
  EXPECT_LE(sizeof(CompList), 64u);
  EXPECT_EQ(l->blocks.size(), 1u);
  EXPECT_LE(l->blocks[0].data.capacity(), 1u);
  EXPECT_EQ(l->blocks[0].flag.capacity(), 0u);
}

TEST(CompListGetdata, PositionsOutsideTheListGiveNull) {
  CompList *l = complist_new();
  int a = 1, b = 2;
  complist_add(l, &a);
  complist_add(l, &b);
  EXPECT_EQ(complist_getdata(l, 0), nullptr);
  EXPECT_EQ(complist_getdata(l, -3), nullptr);
  EXPECT_EQ(complist_getdata(l, 3), nullptr);  // totalnum + 1
  EXPECT_EQ(complist_getdata(l, 2), &b);       // totalnum is the last item
}

TEST(CompListAdd, AcrossBlockBoundaries) {
  // base 2: five items fill blocks 0 and 1 and the first slot of block 2.
  CompList *l = complist_newnum(2);
  int v[5] = {10, 11, 12, 13, 14};
  for (int &x : v) complist_add(l, &x);
  EXPECT_EQ(complist_numberof(l), 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(complist_getdata(l, i + 1), &v[i]);
  EXPECT_EQ(l->blocks.size(), 3u);
  EXPECT_EQ(l->lastidx_list, 2);
  EXPECT_EQ(l->lastidx_data, 0);
}

TEST(CompListAdd, BlockLimitRefusesAndKeepsRefusing) {
  // base 1: one item per block, so the 1025th addition needs block 1024.
  CompList *l = complist_newnum(1);
  std::vector<int> v(1026);
  for (int i = 0; i < 1024; ++i) complist_add(l, &v[static_cast<size_t>(i)]);
  testing::internal::CaptureStderr();
  complist_add(l, &v[1024]);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "complist: exceed limitation <122>\n");
  EXPECT_EQ(complist_numberof(l), 1024);
  EXPECT_EQ(complist_getdata(l, 1024), &v[1023]);
  EXPECT_EQ(complist_getdata(l, 1), &v[0]);
  // The cursor stays on the last slot: a second attempt is refused the same way.
  EXPECT_EQ(l->lastidx_list, 1023);
  testing::internal::CaptureStderr();
  complist_add(l, &v[1025]);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "complist: exceed limitation <122>\n");
  EXPECT_EQ(complist_numberof(l), 1024);
  EXPECT_EQ(l->blocks.size(), 1024u);
  // Holes do not give the capacity back; compaction does.
  EXPECT_EQ(complist_remove(l, &v[0]), 1);
  testing::internal::CaptureStderr();
  complist_add(l, &v[1024]);
  EXPECT_FALSE(testing::internal::GetCapturedStderr().empty());
  complist_gc(l);
  complist_add(l, &v[1024]);
  EXPECT_EQ(complist_numberof(l), 1024);
  EXPECT_EQ(complist_getdata(l, 1024), &v[1024]);
}

TEST(CompListAdd, NullItemsAreStoredAndCounted) {
  CompList *l = complist_new();
  int x = 1, y = 2;
  complist_add(l, &x);
  complist_add(l, nullptr);
  complist_add(l, &y);
  EXPECT_EQ(complist_numberof(l), 3);
  EXPECT_EQ(complist_getdata(l, 2), nullptr);
  EXPECT_EQ(complist_getdata(l, 3), &y);
  EXPECT_EQ(complist_search_num(l, nullptr, nullptr), 2);
}

TEST(CompListSearch, ComparatorIsCalledWithStoredItemFirst) {
  CompList *l = complist_new();
  char a[] = "alpha", b[] = "beta";
  complist_add(l, a);
  complist_add(l, b);
  char probe[] = "beta";  // equal text at another address
  EXPECT_EQ(complist_search_num(l, probe, compare_strings), 2);
  EXPECT_EQ(complist_search_data(l, probe, compare_strings), b);
  EXPECT_EQ(complist_search(l, probe, compare_strings), 1);
  EXPECT_EQ(complist_search_num(l, probe, nullptr), 0);  // identity only
  static std::vector<std::pair<const void *, const void *>> calls;
  calls.clear();
  auto recorder = [](const void *item, const void *p) {
    calls.emplace_back(item, p);
    return 1;
  };
  EXPECT_EQ(complist_search_data(l, probe, recorder), nullptr);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].first, a);
  EXPECT_EQ(calls[0].second, probe);
  EXPECT_EQ(calls[1].first, b);
}

TEST(CompListSearch, AddifAndMerge) {
  CompList *l = complist_new();
  char s1[] = "same", s2[] = "same", s3[] = "other";
  complist_addif(l, s1, compare_strings);
  complist_addif(l, s2, compare_strings);  // equal text: not stored
  EXPECT_EQ(complist_numberof(l), 1);
  EXPECT_EQ(complist_getdata(l, 1), s1);

  CompList *m = complist_new();
  complist_add(m, s2);
  complist_add(m, s3);
  complist_merge(l, m, compare_strings);  // only "other" is new
  EXPECT_EQ(items_of(l), (std::vector<void *>{s1, s3}));
  EXPECT_EQ(complist_numberof(m), 2);
  complist_merge(l, l, nullptr);  // merging a list into itself adds nothing
  EXPECT_EQ(complist_numberof(l), 2);
}

TEST(CompListRemove, HolesCloseUpPositions) {
  CompList *l = complist_newnum(2);
  int x = 0, y = 1, z = 2;
  complist_add(l, &x);
  complist_add(l, &y);
  complist_add(l, &z);
  EXPECT_EQ(complist_remove(l, &y), 1);
  EXPECT_EQ(complist_numberof(l), 2);
  EXPECT_EQ(complist_getdata(l, 2), &z);
  EXPECT_EQ(complist_getdata(l, 3), nullptr);
  EXPECT_EQ(complist_remove(l, &y), 0);  // already gone
  // The hole is not reused: the next item goes after z.
  int w = 3;
  complist_add(l, &w);
  EXPECT_EQ(l->lastidx_list, 1);
  EXPECT_EQ(l->lastidx_data, 1);
  EXPECT_EQ(items_of(l), (std::vector<void *>{&x, &z, &w}));
}

TEST(CompListRemove, EveryCopyOfThePointerGoes) {
  CompList *l = complist_new();
  int x = 0, y = 1;
  complist_add(l, &x);
  complist_add(l, &y);
  complist_add(l, &x);
  EXPECT_EQ(complist_remove(l, &x), 2);
  EXPECT_EQ(items_of(l), (std::vector<void *>{&y}));
  EXPECT_EQ(l->blocks[0].datanum, 1);
}

TEST(CompListGc, CompactsKeepingOrder) {
  // base 2: a b | c d | e; removing a, c, d leaves b and e, which move to
  // block 0, so the next addition lands in block 1 slot 0 at position 3.
  CompList *l = complist_newnum(2);
  int v[5] = {0, 1, 2, 3, 4};
  for (int &x : v) complist_add(l, &x);
  complist_remove(l, &v[0]);
  complist_remove(l, &v[2]);
  complist_remove(l, &v[3]);
  complist_gc(l);
  EXPECT_EQ(complist_numberof(l), 2);
  EXPECT_EQ(items_of(l), (std::vector<void *>{&v[1], &v[4]}));
  EXPECT_EQ(l->lastidx_list, 0);
  EXPECT_EQ(l->lastidx_data, 1);
  EXPECT_EQ(l->blocks.size(), 3u);  // later blocks stay, empty
  int w = 9;
  complist_add(l, &w);
  EXPECT_EQ(complist_getdata(l, 3), &w);
  EXPECT_EQ(l->lastidx_list, 1);
  EXPECT_EQ(l->lastidx_data, 0);
  EXPECT_EQ(l->blocks[1].datanum, 1);
  EXPECT_EQ(l->blocks[2].datanum, 0);

  // Compacting a list with nothing live resets the cursor.
  CompList *e = complist_newnum(2);
  complist_add(e, &w);
  complist_remove(e, &w);
  complist_gc(e);
  EXPECT_EQ(e->lastidx_list, -1);
  EXPECT_EQ(e->lastidx_data, 1);
  complist_add(e, &w);
  EXPECT_EQ(complist_getdata(e, 1), &w);
}

TEST(CompListSort, ComparatorAndAddressOrder) {
  CompList *l = complist_newnum(3);
  int v[6] = {5, 3, 9, 1, 3, 7};
  for (int &x : v) complist_add(l, &x);
  complist_remove(l, &v[2]);  // a hole in the middle is skipped
  complist_sort(l, compare_ints);
  std::vector<int> got;
  for (void *p : items_of(l)) got.push_back(*static_cast<int *>(p));
  EXPECT_EQ(got, (std::vector<int>{1, 3, 3, 5, 7}));

  // Null comparator: ascending addresses. v[] is one array, so v+0 < v+1 < ...
  CompList *m = complist_new();
  complist_add(m, &v[4]);
  complist_add(m, &v[0]);
  complist_add(m, &v[3]);
  complist_sort(m, nullptr);
  EXPECT_EQ(items_of(m), (std::vector<void *>{&v[0], &v[3], &v[4]}));
}

TEST(CompListSort, ExchangeOrderDecidesTies) {
  // Comparator looking at the first character only. Items: b1 a1 a2.
  // i=1: (b1,a1) >0 swap -> a1 b1 a2; (a1,a2) =0 keep.
  // i=2: (b1,a2) >0 swap -> a1 a2 b1.
  auto first = [](const void *a, const void *b) {
    return *static_cast<const char *>(a) - *static_cast<const char *>(b);
  };
  char b1[] = "b1", a1[] = "a1", a2[] = "a2";
  CompList *l = complist_new();
  complist_add(l, b1);
  complist_add(l, a1);
  complist_add(l, a2);
  complist_sort(l, first);
  EXPECT_EQ(items_of(l), (std::vector<void *>{a1, a2, b1}));

  // Items: a1 b1 a2 -> i=1: keeps; (a1,a2) keep. i=2: (b1,a2) swap -> a1 a2 b1.
  // Items: a2 b1 a1 -> i=1: (a2,b1) keep, (a2,a1) =0 keep. i=2: (b1,a1) swap
  // -> a2 a1 b1: equal items keep their order here.
  CompList *m = complist_new();
  complist_add(m, a2);
  complist_add(m, b1);
  complist_add(m, a1);
  complist_sort(m, first);
  EXPECT_EQ(items_of(m), (std::vector<void *>{a2, a1, b1}));
}

TEST(CompListPrint, DefaultPrinterAndCallback) {
  CompList *l = complist_new();
  char abc[] = "abc";
  complist_add(l, abc);
  complist_add(l, nullptr);
  testing::internal::CaptureStdout();
  complist_print(l, nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "1:[abc]\n2:[(null)]\n");

  static std::string seen;
  seen.clear();
  complist_print(l, [](void *item, int position) {
    seen += std::to_string(position) + (item != nullptr ? "x" : "0");
    return 7;
  });
  EXPECT_EQ(seen, "1x20");
}

TEST(CompListWrap, CopiesSizePlusOneBytes) {
  const char abc[] = "abc";
  auto *copy = static_cast<char *>(complist_wrap(abc, 3));
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, abc);
  EXPECT_STREQ(copy, "abc");  // the terminator came along
  free(copy);
  EXPECT_EQ(complist_wrap(abc, -1), nullptr);
  EXPECT_EQ(complist_wrap(nullptr, 3), nullptr);
}

TEST(CompListClear, ReleasesBlocksAndRefills) {
  CompList *l = complist_newnum(2);
  int v[3] = {0, 1, 2};
  for (int &x : v) complist_add(l, &x);
  complist_clear(l);
  EXPECT_EQ(complist_numberof(l), 0);
  EXPECT_TRUE(l->blocks.empty());
  EXPECT_EQ(l->base, 2);
  EXPECT_EQ(complist_getdata(l, 1), nullptr);
  complist_add(l, &v[2]);
  EXPECT_EQ(complist_getdata(l, 1), &v[2]);
  EXPECT_EQ(l->blocks.size(), 1u);
}

TEST(CompListLarge, ManyItemsWithHolesStayAddressable) {
  // 3000 items in blocks of 1024; removing every third keeps positions dense.
  CompList *l = complist_new();
  std::vector<int> v(3000);
  for (int &x : v) complist_add(l, &x);
  for (size_t i = 0; i < v.size(); i += 3) complist_remove(l, &v[i]);
  ASSERT_EQ(complist_numberof(l), 2000);
  // Position p holds the p-th survivor: indices 1,2,4,5,7,8,...
  for (int p = 1; p <= 2000; ++p) {
    size_t idx = static_cast<size_t>((p - 1) / 2 * 3 + (p - 1) % 2 + 1);
    ASSERT_EQ(complist_getdata(l, p), &v[idx]) << p;
  }
  EXPECT_EQ(complist_search_num(l, &v[2999], nullptr), 2000);
}

TEST(CompListNullList, OperationsAreHarmless) {
  int x = 0;
  complist_add(nullptr, &x);
  EXPECT_EQ(complist_numberof(nullptr), 0);
  EXPECT_EQ(complist_getdata(nullptr, 1), nullptr);
  EXPECT_EQ(complist_search_num(nullptr, &x, nullptr), 0);
  EXPECT_EQ(complist_remove(nullptr, &x), 0);
  complist_gc(nullptr);
  complist_sort(nullptr, nullptr);
  complist_clear(nullptr);
}

}  // namespace
