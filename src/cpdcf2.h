// Budgeted search for all largest cliques of the docking graph.
#pragma once

#include <cstddef>
#include <cstdint>

#include <atomic>
#include <chrono>
#include <span>

#include "cpdcommon.h"
#include "cpddock.h"

namespace mcsplit {
struct Problem;
}

void clifinder2(int nodenum, char *matrix, int repeat, int *ret_num, MCS *ret_mcs, int *ret_max);

// Internals exposed for the engine, the tests and the benchmarks. The search
// keeps no state outside the call, so these are safe to use from several
// threads at once.
namespace cpdcf2 {

// What the caller of a listing search makes of its list, told to the search:
// cliques whose order among themselves the caller cannot tell apart may be
// recorded in any order, and once nothing recorded later tells anything, the
// search may end. Used with the known cliques, past the hand-over to
// colourings (before it, the order of the steps decides the search's own).
class ListJudge {
 public:
  virtual ~ListJudge() = default;
  // True when the caller makes the same of the list whatever the order of
  // these known cliques (indices into SearchProbe::known_cliques), recorded
  // next one after the other.
  virtual bool any_order(std::span<const int> cliques) = 0;
  // The search recorded a clique of the known size (nodes ascending).
  virtual void recorded(std::span<const int> nodes) = 0;
  // True once no clique recorded later changes what the caller makes of it.
  virtual bool settled() const = 0;
};

// What a test may observe of, or swap into, one search.
struct SearchProbe {
  long long steps = 0;  // out: the step counter when the search ended
  bool cut = false;     // out: the budget ended it (the engine's search)
  // in: a wall-clock deadline for the engine's search, which then ends as
  // if its budget ran out (cut); the default, the clock's epoch, sets none.
  std::chrono::steady_clock::time_point deadline{};
  // in: for a listing search without a budget or deadline, the size of the
  // largest clique known beforehand and each node's atom in either compound
  // (graph.n entries each; DNODE e1, e2): the same cliques in the same order,
  // sooner, and the same steps unless the list fills up (the search then
  // ends). 0 or null: not known.
  int known_size = 0;
  const int *side1 = nullptr;
  const int *side2 = nullptr;
  // in, with known_size: every clique of that size, known_size node numbers
  // each (in any order); the search then enters only the branches that hold
  // one of them once it has found that size. Empty: not known.
  std::span<const int> known_cliques;
  // in, with known_cliques: what the caller makes of the list. The list then
  // holds the same cliques (all of them while it is not full), in an order
  // the judge cannot tell from the search's, or only those recorded until the
  // judge was settled. Null: the list is the search's, whole.
  ListJudge *judge = nullptr;
  // in, with known_size: the graph as a problem on the compounds (node k is
  // pair k), whose search then decides which large branches can reach the
  // best size. Null: the clique solver decides.
  const mcsplit::Problem *pairs = nullptr;
  // in: for a search without a budget, the candidate-loop passes after which
  // it gives up (0: never); out: it gave up, and its result is unfinished.
  long long give_up_after = 0;
  // in: for a search without a budget, the time at which it gives up, as
  // above (the clock's epoch: never).
  std::chrono::steady_clock::time_point give_up_at{};
  // in: for a search without a budget, a flag on which it gives up once it
  // is set, as above (null: none).
  const std::atomic<bool> *give_up_on = nullptr;
  bool gave_up = false;
  void *(*alloc)(std::size_t) = nullptr;  // in: replaces malloc for vertex arrays
  void (*release)(void *) = nullptr;      // in: replaces free for replaced vertex arrays
};

// clifinder2 with a probe; a null probe makes it exactly clifinder2.
void clifinder2_probe(int nodenum, const char *matrix, int repeat, int *ret_num, MCS *ret_mcs,
                      int *ret_max, SearchProbe *probe);

// The same search on the graph's bit rows, as the engine builds them. A null
// ret_mcs counts the cliques without listing them: the count, the size and
// the steps are those of the listing search.
void clifinder2_bits(const DockBits &graph, int repeat, int *ret_num, MCS *ret_mcs, int *ret_max,
                     SearchProbe *probe = nullptr);

// Sorts dat descending and applies every exchange to dat2 as well.
void quick_sort(int datnum, int *dat, int *dat2);

// Ascending order for qsort: 1, 0 or -1.
int compare_int(const int *x, const int *y);

}  // namespace cpdcf2
