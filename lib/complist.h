// Growable list of untyped item pointers, addressed by position (from 1).
//
// Items live in up to 1024 blocks of `base` slots. Slots are filled strictly in
// order; a removal only clears the slot's flag, leaving a hole until
// complist_gc() compacts the list. The list never owns its items.
//
// Storage grows with use: the block table holds only the blocks opened so far,
// and a block's slot and flag arrays grow as their slots are filled, so an
// almost-empty list costs a few dozen bytes even though it may grow to
// 1024 * base items.
#pragma once

#include <vector>

using CompListFunc = int (*)(const void *item, const void *probe);

// One block: `data[k]` and `flag[k]` exist for the slots filled so far; a slot
// at or beyond data.size() has never been filled (flag 0).
struct CompListBlock {
  std::vector<void *> data;
  std::vector<char> flag;
};

struct _CompList_data_structure_holder_ {
  int base = 1024;                      // slots per block, fixed at creation
  std::vector<CompListBlock> blocks;    // blocks 0 .. blocks.size()-1 are allocated
  std::vector<int> datanum;             // live items per allocated block
  int totalnum = 0;                     // live items in the whole list
  int lastidx_list = -1;                // block of the most recently filled slot
  int lastidx_data = 1023;              // slot of the most recently filled slot
};
using CompList = _CompList_data_structure_holder_;

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
