// Growable list of untyped item pointers, addressed by position (from 1).
//
// Items live in up to 1024 blocks of `base` slots. Slots are filled strictly in
// order; a removal only clears the slot's flag, leaving a hole until
// complist_gc() compacts the list. The list never owns its items; a null item
// is stored and counted like any other.
//
// Storage grows with use: the block table holds only the blocks opened so far,
// a block's slot array grows as its slots are filled, and its flag array is
// only materialised once the block gets a hole. An almost-empty list therefore
// costs a few dozen bytes even though it may grow to 1024 * base items.
#pragma once

#include <vector>

using CompListFunc = int (*)(const void *item, const void *probe);

// One block. `data` holds the slots filled so far (slot k exists iff
// k < data.size()); `flag` is empty while every filled slot is live, otherwise
// it has one entry per filled slot (1 live, 0 removed). `datanum` counts the
// live slots.
struct CompListBlock {
  std::vector<void *> data;
  std::vector<char> flag;
  int datanum = 0;
};

struct _CompList_data_structure_holder_ {
  int base = 1024;                    // slots per block, fixed at creation
  std::vector<CompListBlock> blocks;  // blocks 0 .. blocks.size()-1 are allocated
  int totalnum = 0;                   // live items in the whole list
  int lastidx_list = -1;              // block of the most recently filled slot
  int lastidx_data = 1023;            // slot of the most recently filled slot
};
using CompList = _CompList_data_structure_holder_;

// Highest number of blocks a list may open.
inline constexpr int kCompListMaxBlocks = 1024;

CompList *complist_new();
CompList *complist_newnum(int b);
void complist_add(CompList *l, void *data);
void complist_addif(CompList *l, void *data, CompListFunc func);
void complist_merge(CompList *l1, CompList *l2, CompListFunc func);
int complist_numberof(CompList *l);
void *complist_getdata(CompList *l, int num);
char complist_search(CompList *l, void *data, CompListFunc func);
int complist_search_num(CompList *l, void *data, CompListFunc func);
void *complist_search_data(CompList *l, void *data, CompListFunc func);
int complist_remove(CompList *l, void *data);
void complist_gc(CompList *l);
void complist_sort(CompList *l, CompListFunc func);
void *complist_wrap(const void *data, int size);
void complist_print(CompList *l, int (*func)(void *item, int position));
void complist_clear(CompList *l);
