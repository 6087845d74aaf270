#include "cpdcf2.h"

#include "cpdcf2_search.h"

namespace cpdcf2 {

namespace {

// The bit-manipulation build where its instructions are fast. The older AMD
// designs run pext in microcode, slower than the portable loop.
bool use_bmi2() {
#if defined(__x86_64__) && defined(__GNUC__) && !defined(TAVIRON_NO_BMI2)
  static const bool fast = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt") &&
           !__builtin_cpu_is("amdfam15h") && !__builtin_cpu_is("znver1") &&
           !__builtin_cpu_is("znver2");
  }();
  return fast;
#else
  return false;
#endif
}

}  // namespace

void quick_sort(int datnum, int *dat, int *dat2) {
  portable::quick_sort(datnum, dat, dat2);
}

int compare_int(const int *x, const int *y) {
  if (*x > *y) return 1;
  if (*x < *y) return -1;
  return 0;
}

void clifinder2_bits(const DockBits &graph, int repeat, int *ret_num, MCS *ret_mcs, int *ret_max,
                     SearchProbe *probe) {
#ifndef TAVIRON_NO_BMI2
  if (use_bmi2()) {
    bmi2::search(graph, repeat, ret_num, ret_mcs, ret_max, probe);
    return;
  }
#endif
  portable::search(graph, repeat, ret_num, ret_mcs, ret_max, probe);
}

void clifinder2_probe(int nodenum, const char *matrix, int repeat, int *ret_num, MCS *ret_mcs,
                      int *ret_max, SearchProbe *probe) {
  // A graph beyond the matrix's row length cannot be addressed: it gets the
  // empty result, as does an empty graph.
  DockBits graph;
  if (nodenum > 0 && nodenum <= DOCK_STRIDE && matrix != nullptr)
    dockbits_from_matrix(nodenum, matrix, graph);
  clifinder2_bits(graph, repeat, ret_num, ret_mcs, ret_max, probe);
}

}  // namespace cpdcf2

void clifinder2(int nodenum, char *matrix, int repeat, int *ret_num, MCS *ret_mcs, int *ret_max) {
  cpdcf2::clifinder2_probe(nodenum, matrix, repeat, ret_num, ret_mcs, ret_max, nullptr);
}
