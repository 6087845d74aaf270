// The clique search behind clifinder2, built twice: once for any x86-64 (or
// other) processor and once with the bit-manipulation instructions (popcnt,
// pext) that make its word operations single instructions. clifinder2 picks
// one at run time; both visit, count and record exactly the same.
#pragma once

#include "cpdcf2.h"

namespace cpdcf2 {

#define CPDCF2_SEARCH_DECLARATIONS                                                         \
  void search(const DockBits &graph, int repeat, int *ret_num, MCS *ret_mcs, int *ret_max, \
              SearchProbe *probe);                                                         \
  void quick_sort(int datnum, int *dat, int *dat2);                                        \
  void quick_sort_small(int datnum, int *dat, int *dat2);

namespace portable {
CPDCF2_SEARCH_DECLARATIONS
}
namespace bmi2 {
CPDCF2_SEARCH_DECLARATIONS
}

#undef CPDCF2_SEARCH_DECLARATIONS

}  // namespace cpdcf2
