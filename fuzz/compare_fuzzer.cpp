// Fuzz target: the compound reader and the whole similarity computation.
//
// Input: two setting bytes, then QTR text. The first two records read from
// the text are compared (the first with itself when there is only one, and
// no records at all make the missing-record case) and the report is written
// in all three forms.
//   byte 0, bit 0: dock atoms by element
//   byte 0, bit 1: extend the best clique
//   byte 0, bits 2-4: step budget, one of kBudgets (0, no budget, is left
//                     out: an unbounded search of a dense graph never ends)
//   byte 1: docking-node limit; 0 gives the full capacity, n gives n * 40
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "cpdio.h"
#include "exe1.h"

namespace {

constexpr int kBudgets[8] = {-1, 1, 2, 3, 10, 100, 1000, 15000};
constexpr int kOutputModes[3] = {1, 4, 32};

FILE *sink() {
  static FILE *fp = std::fopen("/dev/null", "w");
  return fp;
}

CPDMOL *record_at(CompList *list, int pos) {
  return static_cast<CPDMOL *>(complist_getdata(list, pos));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  const int atom_mode = (data[0] & 1) ? 2 : 1;
  const int exec_mode = (data[0] & 2) ? 8 : 1;
  const int repeat = kBudgets[(data[0] >> 2) & 7];
  const int limit = data[1] == 0 ? CPD_MAX : data[1] * 40;

  // fmemopen wants a writable buffer; an empty one would be refused.
  static char empty = '\0';
  char *text = size > 2 ? reinterpret_cast<char *>(const_cast<uint8_t *>(data + 2)) : &empty;
  FILE *in = fmemopen(text, size > 2 ? size - 2 : 1, "r");
  if (in == nullptr) return 0;
  CompList *list = read_CPDMOL_list_QTR(in);
  std::fclose(in);
  if (list == nullptr) std::abort();

  const int count = complist_numberof(list);
  CPDMOL *mol1 = count >= 1 ? record_at(list, 1) : nullptr;
  CPDMOL *mol2 = count >= 2 ? record_at(list, 2) : mol1;

  // Look-up as the run driver does it: a name that completion leaves alone
  // finds a record at or before its own position.
  for (int pos = 1; pos <= count && pos <= 2; ++pos) {
    char *name = record_at(list, pos)->name;
    char *full = complete_EntryName(name);
    const int found = nsearch_CPDMOL(list, name);
    if (full == name && (found < 1 || found > pos)) std::abort();
    if (full != name) std::free(full);
  }

  init_exe1(atom_mode, exec_mode, 1, repeat, limit);
  compute_similarity(mol1, mol2);
  Exe1State &state = exe1_state();
  // An alignment pairs every matchable atom at most once.
  if (state.status == kStatusComputed || state.status == kStatusCliquesCut) {
    if (state.mcs_max < 0 || state.mcs_max > mol1->nodenum_sub || state.mcs_max > mol2->nodenum_sub)
      std::abort();
  }
  for (int mode : kOutputModes) {
    state.output_mode = mode;
    output_similarity(sink());
  }
  std::fflush(sink());

  // Back to the state of a fresh process: no clique arrays, no records.
  for (MCS &clique : state.mcslist) {
    std::free(clique.vlist);
    clique = MCS{};
  }
  complist_clear(list);
  delete list;
  cpdio_reset();
  return 0;
}
