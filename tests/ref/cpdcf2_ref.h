// Reference clique finder for the tests and benchmarks (never linked into the
// programs): the straightforward byte-matrix search whose results the
// engine's finder must reproduce exactly.
#pragma once

#include <string>

#include "cpdcf2.h"

namespace cpdcf2_ref {

using cpdcf2::SearchProbe;

// The search of clifinder2 on a docking matrix with the engine's row stride.
void clifinder2(int nodenum, const char *matrix, int repeat, int *ret_num, MCS *ret_mcs,
                int *ret_max, SearchProbe *probe = nullptr);

// Sorts dat descending and applies every exchange to dat2 as well.
void quick_sort(int datnum, int *dat, int *dat2);

int compare_int(const int *x, const int *y);

// The reference search with the engine's finder signature, for
// exe1_set_reference_finder().
void engine_finder(int nodenum, const char *matrix, int repeat, int *ret_num, MCS *ret_mcs,
                   int *ret_max);

// What taviron prints for the pair in its three report forms, one after the
// other, computed by the calling thread's engine with the given settings.
std::string all_reports(CPDMOL *a, CPDMOL *b, int atom_mode, int exec_mode, int repeat);
// The score line alone, computed as taviron's default form computes it
// (cliques counted, not listed).
std::string score_line(CPDMOL *a, CPDMOL *b, int atom_mode, int exec_mode, int repeat);

}  // namespace cpdcf2_ref
