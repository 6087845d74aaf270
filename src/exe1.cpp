// Similarity computation driver: docking graph, clique search, clique pieces
// and the optional extension of the best clique; then the result report.
#include "exe1.h"

#include <chrono>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cpdcf2.h"
#include "cpddock.h"
#include "cpdgraph.h"
#include "maxclique.h"
#include "mcsplit.h"
#include "reportjudge.h"

namespace {

// The engine instance of one thread. Besides the lazily zeroed tables it owns
// the clique node arrays, released when the thread ends.
struct Engine {
  LazyZeroed<Exe1State> state;
  DockBits graph;  // the docking graph's bit rows, reused from pair to pair
  // The status dock_pair() settled before docking, or -1 when the docked
  // graph goes on to the checks; a computation without a docking step finds
  // no records.
  int early = kStatusMissingRecord;
  // Entries of the clique list below this may hold nodes.
  int listed = 0;
  Engine() { cpdgraph_zeroed_table(state->mcs_sccs_table); }
  Engine(const Engine &) = delete;
  Engine &operator=(const Engine &) = delete;
  ~Engine() {
    cpdgraph_zeroed_table(nullptr);
    for (MCS &c : state->mcslist) {
      std::free(c.vlist);
      c.vlist = nullptr;
    }
  }
};

// Extension mode of exec_mode.
constexpr int kExecTrick = 8;

// The largest cliques held for the ordered search without a budget, found on
// the compounds directly: up to this many node numbers in all (32 MB, about
// 240000 cliques of 33 nodes); a pair with more is searched with its size
// and the compounds alone.
constexpr int kListedNodes = 8 << 20;

constexpr int kFirstBudget = 15000;  // the default budget

using Clock = std::chrono::steady_clock;

// The time `seconds` from now; the clock's epoch (no deadline) for 0.
Clock::time_point deadline_after(double seconds) {
  if (seconds <= 0) return {};
  return Clock::now() +
         std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

int compare_int(const void *x, const void *y) {
  const int a = *static_cast<const int *>(x);
  const int b = *static_cast<const int *>(y);
  if (a > b) return 1;
  if (a < b) return -1;
  return 0;
}

// m / (A + B - m) over the two compounds' matchable atoms.
double coefficient(int mcs_max, const CPDMOL *mol_1, const CPDMOL *mol_2) {
  const int union_atoms = mol_2->nodenum_sub + mol_1->nodenum_sub - mcs_max;
  if (union_atoms <= 0) return 0.0;
  return static_cast<double>(mcs_max) / union_atoms;
}

void rescore(Exe1State &st) {
  score_MCS_list();
  make_SCCS_list();
  score_SCCS_list();
  sort_SCCS_list(0, st.sccsnum - 1);
}

// Growing list of docking nodes, with room for every node of a graph.
struct NodeList {
  std::vector<int> v = std::vector<int>(CPD_MAX);
  int count = 0;

  void append(const SCCS &piece) {
    const int take = std::clamp(std::min(piece.vnum, CPD_MAX - count), 0, CPD_MAX);
    std::copy(piece.vlist, piece.vlist + take, v.begin() + count);
    count += take;
  }
};

// Replaces the best clique's nodes with `list`, ascending. The new array is
// taken before the old one is released, so a failed allocation leaves the
// clique as it was.
bool store_best(Exe1State &st, const NodeList &list) {
  if (list.count <= 0) return false;
  auto *fresh = static_cast<int *>(std::malloc(sizeof(int) * list.count));
  if (fresh == nullptr) return false;
  std::copy(list.v.begin(), list.v.begin() + list.count, fresh);
  std::qsort(fresh, list.count, sizeof(int), compare_int);
  MCS &best = st.mcslist[st.max_mcs_index];
  std::free(best.vlist);
  best.vlist = fresh;
  best.vnum = list.count;
  return true;
}

// The best clique's row of the membership table.
const char *best_row(const Exe1State &st) {
  return st.mcs_sccs_table + static_cast<std::size_t>(st.max_mcs_index) * cpdgraph_table_stride();
}

bool flagged(const Exe1State &st, int piece) {
  return best_row(st)[piece] != 0;
}

// The largest size and the capped count of its cliques (with `count`; the
// size alone otherwise), proven without the ordered search, from a known
// lower bound: on the compounds directly where the pairs fall into label
// classes (the usual case), by the clique solver otherwise. False when the
// deadline (the clock's epoch: none) ended it first: the size and count are
// then those found so far.
bool prove_largest(const DockBits &graph, Exe1State &st, int lower_bound,
                   const mcsplit::Problem &problem, bool count, Clock::time_point deadline = {}) {
  mcsplit::Options on_atoms;
  on_atoms.lower_bound = lower_bound;
  on_atoms.deadline = deadline;
  if (!count) on_atoms.count_cap = 0;
  if (std::optional<mcsplit::Result> m = mcsplit::largest(problem, on_atoms)) {
    st.mcs_max = m->size;
    st.mcsnum = m->count;
    return !m->timed_out;
  }
  maxclique::Options options;
  options.lower_bound = lower_bound;
  options.deadline = deadline;
  const maxclique::Result exact = maxclique::largest_docked(graph, st.nodelist, options);
  st.mcs_max = exact.size;
  st.mcsnum = exact.count;
  return !exact.timed_out;
}

// Every clique of the largest size, `size` node numbers each, found on the
// compounds, or why not: more than kListedNodes numbers, pairs that do not
// fall into label classes, or the deadline or the stop flag came first.
struct Listing {
  enum class Outcome { kListed, kTooMany, kCannot, kStopped } outcome;
  std::vector<int> cliques;
};
Listing largest_cliques(const mcsplit::Problem &problem, int size, Clock::time_point deadline = {},
                        const std::atomic<bool> *stop = nullptr) {
  mcsplit::Options on_atoms;
  on_atoms.deadline = deadline;
  on_atoms.stop = stop;
  on_atoms.lower_bound = size;
  on_atoms.size_known = true;
  on_atoms.count_cap = 0;
  on_atoms.list_cap = kListedNodes;
  std::optional<mcsplit::Result> m = mcsplit::largest(problem, on_atoms);
  if (!m) return {Listing::Outcome::kCannot, {}};
  if (m->timed_out) return {Listing::Outcome::kStopped, {}};
  if (m->nodes.empty()) return {Listing::Outcome::kTooMany, {}};
  return {Listing::Outcome::kListed, std::move(m->nodes)};
}

// Without a budget the ordered search finds every largest clique: its size
// and count (capped at the list's capacity) are proven here instead. A
// search under the default budget that finishes is that search, and is
// cheaper for most pairs; else its size starts the proof. False when the
// deadline, if any, ended the proof first.
bool count_unbudgeted(const DockBits &graph, Exe1State &st, Clock::time_point deadline = {}) {
  cpdcf2::SearchProbe probe;
  cpdcf2::clifinder2_bits(graph, kFirstBudget, &st.mcsnum, nullptr, &st.mcs_max, &probe);
  if (!probe.cut) return true;  // it finished: its answer is the unbudgeted one
  const mcsplit::Problem problem =
      mcsplit::problem_of(*st.cpdmol1, *st.cpdmol2, st.nodelist, st.nodenum);
  return prove_largest(graph, st, st.mcs_max, problem, true, deadline);
}

constexpr double kShortListing = 0.003;  // seconds
constexpr double kAloneSearch = 0.0;
std::atomic<double> short_listing{kShortListing};
std::atomic<double> alone_search{kAloneSearch};

// The search with the size alone here, and after `alone_search` seconds
// the listing of every largest clique beside it, on a thread of its own:
// the first to finish stops the other. Neither is known beforehand to be
// the shorter (the listing where the cliques are few, the search where they
// are so many that its list fills at once), and either way gives the same
// report. Returns the cliques when the listing came first (the search then
// gave up); none when the search finished, its list in `st`.
std::vector<int> search_beside_listing(const DockBits &graph, Exe1State &st,
                                       const mcsplit::Problem &problem, int size,
                                       cpdcf2::SearchProbe &probe) {
  std::atomic<bool> listed{false}, searched{false};
  std::mutex mutex;
  std::condition_variable finished;
  std::vector<int> cliques;
  // A listing that cannot be had (no thread, no memory) leaves the search
  // alone, which finds the same.
  std::thread lister;
  try {
    lister = std::thread([&] {
      try {
        {
          std::unique_lock<std::mutex> lock(mutex);
          const auto wait = std::chrono::duration<double>(std::min(alone_search.load(), 1e6));
          if (finished.wait_for(lock, wait, [&] { return searched.load(); })) return;
        }
        Listing l = largest_cliques(problem, size, {}, &searched);
        if (l.outcome != Listing::Outcome::kListed) return;
        cliques = std::move(l.cliques);
        listed.store(true);
      } catch (const std::bad_alloc &) {
      }
    });
  } catch (const std::system_error &) {
  }
  probe.give_up_on = &listed;
  cpdcf2::clifinder2_bits(graph, 0, &st.mcsnum, st.mcslist, &st.mcs_max, &probe);
  probe.give_up_on = nullptr;
  if (!probe.gave_up) {
    std::lock_guard<std::mutex> lock(mutex);
    searched.store(true);
  }
  finished.notify_all();
  if (lister.joinable()) lister.join();
  if (!probe.gave_up) return {};
  probe.gave_up = false;
  return cliques;
}

// The ordered search without a budget, listing: the same list each time,
// far sooner. Most pairs finish within the default budget's worth of steps.
// The others give up there, have their largest size proven on the
// compounds, and search again knowing it and with the compounds to decide
// large branches; knowing every largest clique too, the search enters only
// the branches that hold one, and leaves out what the report cannot tell.
// A short listing comes first (a few hundred cliques take far less); then,
// if the cliques can be listed at all, the listing and the search with the
// size alone at once. Only the time taken depends on the clock, never the
// result.
void list_unbudgeted(const DockBits &graph, Exe1State &st) {
  cpdcf2::SearchProbe quick;
  quick.give_up_after = kFirstBudget;
  cpdcf2::clifinder2_bits(graph, 0, &st.mcsnum, st.mcslist, &st.mcs_max, &quick);
  if (!quick.gave_up) return;
  const mcsplit::Problem problem =
      mcsplit::problem_of(*st.cpdmol1, *st.cpdmol2, st.nodelist, st.nodenum);
  prove_largest(graph, st, st.mcs_max, problem, false);
  const int size = st.mcs_max;
  std::vector<int> side1(graph.n), side2(graph.n);
  for (int v = 0; v < graph.n; ++v) {
    side1[v] = st.nodelist[v].e1;
    side2[v] = st.nodelist[v].e2;
  }
  cpdcf2::SearchProbe probe;
  probe.known_size = size;
  probe.pairs = &problem;
  probe.side1 = side1.data();
  probe.side2 = side2.data();
  Listing first = largest_cliques(problem, size, deadline_after(short_listing.load()));
  std::vector<int> cliques = std::move(first.cliques);
  if (first.outcome == Listing::Outcome::kStopped) {
    cliques = search_beside_listing(graph, st, problem, size, probe);
    if (cliques.empty()) return;
  } else if (first.outcome != Listing::Outcome::kListed) {
    cpdcf2::clifinder2_bits(graph, 0, &st.mcsnum, st.mcslist, &st.mcs_max, &probe);
    return;
  }
  probe.known_cliques = cliques;
  ReportJudge judge(st.cpdmol1, st.cpdmol2, st.nodelist, cliques, size);
  probe.judge = &judge;
  cpdcf2::clifinder2_bits(graph, 0, &st.mcsnum, st.mcslist, &st.mcs_max, &probe);
}

Engine &engine() {
  thread_local Engine instance;
  return instance;
}

// Set by tests and benchmarks only; read by every thread's engine.
std::atomic<CliqueFinder> reference_finder{nullptr};

}  // namespace

Exe1State &exe1_state() {
  return *engine().state;
}

void exe1_set_reference_finder(CliqueFinder finder) {
  reference_finder.store(finder);
}

void exe1_set_short_tries(double listing, double search) {
  short_listing.store(listing < 0 ? kShortListing : listing);
  alone_search.store(search < 0 ? kAloneSearch : search);
}

void init_exe1(int atom, int exem, int outm, int maxr, int lmt) {
  Exe1State &st = exe1_state();
  st.atom_mode = atom;
  st.exec_mode = exem;
  st.output_mode = outm;
  st.maxrepeat = maxr;
  st.limit = lmt;
}

void exe1_set_time_limit(double seconds) {
  exe1_state().time_limit = seconds > 0 ? seconds : 0;
}

bool dock_pair(CPDMOL *mol_1, CPDMOL *mol_2) {
  Engine &e = engine();
  Exe1State &st = *e.state;
  st.nodenum = 0;
  st.mcs_max = 0;
  st.cpdmol1 = mol_1;
  st.cpdmol2 = mol_2;
  e.early = -1;
  if (mol_1 == nullptr || mol_2 == nullptr) {
    e.early = kStatusMissingRecord;
    return false;
  }
  if (mol_1->nodenum <= 0 || mol_2->nodenum <= 0) {
    e.early = kStatusNoAtoms;
    return false;
  }
  if (reference_finder.load() != nullptr) {
    // The reference search reads the byte matrix; the bounds read the bits.
    make_DockingGraph(mol_1, mol_2, st.atom_mode, &st.nodenum, st.nodelist, st.matrix);
    e.graph.reset(0);
    if (st.nodenum > 0 && st.nodenum <= CPD_MAX)
      dockbits_from_matrix(st.nodenum, st.matrix, e.graph);
  } else {
    make_DockingGraph_bits(mol_1, mol_2, st.atom_mode, &st.nodenum, st.nodelist, e.graph);
  }
  return mol_1->nodenum_sub != 0 && mol_2->nodenum_sub != 0 && st.nodenum > 0 &&
         st.nodenum <= CPD_MAX && st.nodenum <= st.limit;
}

int docked_clique_bound(int enough) {
  Engine &e = engine();
  const Exe1State &st = *e.state;
  if (e.early >= 0 || st.nodenum <= 0 || st.nodenum > CPD_MAX) return CPD_MAX;
  return dockbits_colour_bound(e.graph, enough);
}

bool docked_clique_above(int k, long long budget) {
  Engine &e = engine();
  const Exe1State &st = *e.state;
  if (e.early >= 0 || st.nodenum <= 0 || st.nodenum > CPD_MAX) return true;
  return dockbits_clique_above(e.graph, k, budget);
}

double compute_docked(bool alignment) {
  Engine &e = engine();
  Exe1State &st = *e.state;
  const int early = e.early;
  e.early = kStatusMissingRecord;  // the graph is used up
  st.search_cut = false;
  if (early >= 0) {
    st.status = early;
    return 0.0;
  }
  CPDMOL *mol_1 = st.cpdmol1;
  CPDMOL *mol_2 = st.cpdmol2;
  const CliqueFinder reference = reference_finder.load();
  DockBits &graph = e.graph;
  // Only the docking step knows which atoms are matchable.
  if (mol_1->nodenum_sub == 0 || mol_2->nodenum_sub == 0) {
    st.status = kStatusNoAtoms;
    return 0.0;
  }
  if (st.nodenum <= 0) {
    st.status = kStatusEmptyGraph;
    return 0.0;
  }
  if (st.nodenum > CPD_MAX || st.nodenum > st.limit) {
    st.status = kStatusGraphTooLarge;
    return 0.0;
  }

  // The reference search always lists its cliques.
  const bool aligned = alignment || st.exec_mode == kExecTrick;
  const bool listing = aligned || reference != nullptr;
  if (reference != nullptr) {
    reference(st.nodenum, st.matrix, st.maxrepeat, &st.mcsnum, st.mcslist, &st.mcs_max);
  } else if (!listing && st.maxrepeat == 0) {
    // With a time limit, a proof the deadline ends is not proven.
    st.search_cut = !count_unbudgeted(graph, st, deadline_after(st.time_limit));
  } else if (st.maxrepeat == 0 && st.time_limit <= 0) {
    list_unbudgeted(graph, st);  // finishes: nothing to cut
  } else {
    cpdcf2::SearchProbe probe;
    probe.deadline = deadline_after(st.time_limit);
    cpdcf2::clifinder2_bits(graph, st.maxrepeat, &st.mcsnum, listing ? st.mcslist : nullptr,
                            &st.mcs_max, &probe);
    st.search_cut = probe.cut;
  }
  st.status = kStatusComputed;
  if (st.mcsnum > CPD_MAX) {
    st.mcsnum_overflow = st.mcsnum;
    st.mcsnum = CPD_MAX;
    st.status = kStatusCliquesCut;
  }
  // Bound in either case, so that the report's look-up of the best clique
  // works on this pair.
  init_cpdgraph(mol_1, mol_2, st.nodelist, &st.mcsnum, st.mcslist, &st.sccsnum, st.sccslist,
                st.mcs_sccs_table);
  if (listing) e.listed = std::max(e.listed, st.mcsnum);
  if (!aligned) {
    // No clique passes for this pair's best, listed or not.
    for (int i = 0; i < e.listed; i++) st.mcslist[i].vnum = 0;
    e.listed = 0;
    st.sccsnum = 0;
    st.max_mcs_index = -1;
    return coefficient(st.mcs_max, mol_1, mol_2);
  }
  // The result is that of the clique search, whatever the extension does.
  const double result = coefficient(st.mcs_max, mol_1, mol_2);
  rescore(st);
  if (st.exec_mode == kExecTrick) compute_trick();
  return result;
}

double compute_similarity(CPDMOL *mol_1, CPDMOL *mol_2) {
  dock_pair(mol_1, mol_2);
  return compute_docked();
}

double assume_similarity(CPDMOL *mol_1, CPDMOL *mol_2) {
  if (mol_1 == nullptr || mol_2 == nullptr) return 0.0;
  if (mol_1->nodenum == 0 || mol_2->nodenum == 0) return 0.0;
  const int m = std::min(mol_1->nodenum, mol_2->nodenum);
  const int union_atoms = mol_1->nodenum + mol_2->nodenum - m;
  if (union_atoms <= 0) return 0.0;
  return static_cast<double>(m) / union_atoms;
}

// Keeps the best clique only, grows it along bonds once, then keeps its
// multi-node pieces (all its pieces when it has none) and grows them until
// nothing more can be added. Only the final size changes mcs_max.
void compute_trick() {
  Exe1State &st = exe1_state();
  if (st.mcsnum <= 0) return;
  get_maxMCSinfo(&st.max_mcs_index, nullptr, nullptr, nullptr, nullptr);
  if (st.max_mcs_index < 0) return;

  // The other cliques are done with; their node arrays are released.
  const int cliques = std::min(st.mcsnum, CPD_MAX);
  for (int i = 0; i < cliques; i++) {
    if (i == st.max_mcs_index) continue;
    MCS &c = st.mcslist[i];
    c.vnum = 0;
    std::free(c.vlist);
    c.vlist = nullptr;
  }

  NodeList list;
  for (int s = 0; s < st.sccsnum; s++) {
    if (flagged(st, s) && st.sccslist[s].vnum > 0) list.append(st.sccslist[s]);
  }
  extend_MCS(&list.count, list.v.data());
  if (!store_best(st, list)) return;
  rescore(st);

  // Pieces in score order, up to the first single node.
  list.count = 0;
  for (int s = 0; s < st.sccsnum; s++) {
    if (!flagged(st, s)) continue;
    if (st.sccslist[s].vnum < 2) break;
    list.append(st.sccslist[s]);
  }
  if (list.count == 0) {
    for (int s = 0; s < st.sccsnum; s++) {
      if (flagged(st, s) && st.sccslist[s].vnum >= 1) list.append(st.sccslist[s]);
    }
  }
  while (extend_MCS(&list.count, list.v.data()) != 0) {
  }
  if (list.count <= 0) return;
  const int grown = list.count;
  if (!store_best(st, list)) return;
  st.mcs_max = grown;
  rescore(st);
}

namespace {

// The scratch tables of one growth pass, one row of `width` slots per list
// node: row i of ext1 (ext2) holds the unmatched atoms bonded to the first
// (second) compound's atom of list node i, ascending, then -1.
struct ExtensionRows {
  std::size_t width = 8;
  std::vector<int> ext1;
  std::vector<int> ext2;

  int *row1(int i) { return &ext1[static_cast<std::size_t>(i) * width]; }
  int *row2(int i) { return &ext2[static_cast<std::size_t>(i) * width]; }
};

// Calls visit(a), in ascending order, for every atom a bonded to `atom`
// that is not matched.
template <class Visit>
void for_unmatched_neighbours(const CPDMOL *mol, const std::vector<char> &matched, int atom,
                              Visit &&visit) {
  const std::size_t atoms = static_cast<std::size_t>(mol->nodenum);
  const char *row = mol->matrix + static_cast<std::size_t>(atom) * atoms;
  for (std::size_t a = 0; a < atoms; a++) {
    if (row[a] != 0 && !matched[a]) visit(static_cast<int>(a));
  }
}

// The first phase of a growth pass over the n list nodes: their unmatched
// neighbours. Rows have 8 slots, or as many as the most unmatched
// neighbours any list atom has, so that no neighbour is ever dropped.
ExtensionRows node_extension(const Exe1State &st, int n, const int *vlist) {
  const CPDMOL *m1 = st.cpdmol1;
  const CPDMOL *m2 = st.cpdmol2;
  const DNODE *nodelist = st.nodelist;
  std::vector<char> matched1(static_cast<std::size_t>(m1->nodenum), 0);
  std::vector<char> matched2(static_cast<std::size_t>(m2->nodenum), 0);
  for (int i = 0; i < n; i++) {
    matched1[nodelist[vlist[i]].e1] = 1;
    matched2[nodelist[vlist[i]].e2] = 1;
  }
  ExtensionRows rows;
  for (int i = 0; i < n; i++) {
    std::size_t c1 = 0;
    std::size_t c2 = 0;
    for_unmatched_neighbours(m1, matched1, nodelist[vlist[i]].e1, [&](int) { c1++; });
    for_unmatched_neighbours(m2, matched2, nodelist[vlist[i]].e2, [&](int) { c2++; });
    rows.width = std::max({rows.width, c1, c2});
  }
  rows.ext1.assign(static_cast<std::size_t>(n) * rows.width, -1);
  rows.ext2.assign(static_cast<std::size_t>(n) * rows.width, -1);
  for (int i = 0; i < n; i++) {
    int *r1 = rows.row1(i);
    int *r2 = rows.row2(i);
    for_unmatched_neighbours(m1, matched1, nodelist[vlist[i]].e1, [&](int a) { *r1++ = a; });
    for_unmatched_neighbours(m2, matched2, nodelist[vlist[i]].e2, [&](int b) { *r2++ = b; });
  }
  return rows;
}

// The second phase: list node by list node, each slot of its ext1 row is
// paired with the first slot of its ext2 row that makes a docking node,
// which is appended to vlist after the n list nodes. Atoms taken this way
// are struck from this row and the later ones. Returns how many were
// appended.
int match_extensions(const Exe1State &st, ExtensionRows &rows, int n, int *vlist) {
  const DNODE *nodelist = st.nodelist;
  const DNODE *end = nodelist + std::clamp(st.nodenum, 0, CPD_MAX);
  const std::size_t width = rows.width;
  int appended = 0;
  for (int i = 0; i < n; i++) {
    int *r1 = rows.row1(i);
    const int *r2 = rows.row2(i);
    for (std::size_t a = 0; a < width; a++) {
      for (std::size_t b = 0; b < width && r1[a] != -1; b++) {
        if (r2[b] == -1) continue;
        const DNODE *hit = std::find_if(
            nodelist, end, [&](const DNODE &d) { return d.e1 == r1[a] && d.e2 == r2[b]; });
        if (hit == end) continue;
        if (n + appended >= CPD_MAX) break;  // the list is full
        const int e1 = hit->e1;
        const int e2 = hit->e2;
        for (std::size_t k = static_cast<std::size_t>(i) * width; k < rows.ext1.size(); k++) {
          if (rows.ext1[k] == e1) rows.ext1[k] = -1;
          if (rows.ext2[k] == e2) rows.ext2[k] = -1;
        }
        vlist[n + appended] = static_cast<int>(hit - nodelist);
        appended++;
      }
    }
  }
  return appended;
}

}  // namespace

// One pass of growth. For every list node, its unmatched bonded atoms in
// either compound are listed in ascending order; then, list node by list
// node, each listed atom of the first compound is paired with the first
// listed atom of the second compound that makes a docking node. Atoms taken
// this way are struck from the remaining rows of the pass.
int extend_MCS(int *vnum, int *vlist) {
  const Exe1State &st = exe1_state();
  const CPDMOL *m1 = st.cpdmol1;
  const CPDMOL *m2 = st.cpdmol2;
  if (vnum == nullptr || vlist == nullptr || *vnum <= 0 || m1 == nullptr || m2 == nullptr ||
      m1->matrix == nullptr || m2->matrix == nullptr) {
    return 0;
  }
  const int n = std::min(*vnum, CPD_MAX);
  ExtensionRows rows = node_extension(st, n, vlist);
  const int appended = match_extensions(st, rows, n, vlist);
  *vnum += appended;
  return appended;
}

// ---------------------------------------------------------------------------
// Result report.

namespace {

// Matched atom pairs over the union of the two compounds' matchable atoms.
double coefficient(const Exe1State &s) {
  int m = s.mcs_max;
  int denominator = s.cpdmol1->nodenum_sub + s.cpdmol2->nodenum_sub - m;
  return denominator > 0 ? static_cast<double>(m) / denominator : 0.0;
}

bool usable(const Exe1State &s) {
  return s.status == kStatusComputed || s.status == kStatusCliquesCut;
}

// The best clique, or null when no clique has nodes.
const MCS *best_clique(const Exe1State &s) {
  if (s.max_mcs_index < 0 || s.max_mcs_index >= s.mcsnum) return nullptr;
  return &s.mcslist[s.max_mcs_index];
}

// Calls visit(piece) for each piece of the best clique, in piece-list order.
template <class Visit>
void for_each_best_piece(const Exe1State &s, Visit visit) {
  const char *row = best_row(s);
  for (int p = 0; p < s.sccsnum; p++) {
    if (row[p] != 0) visit(s.sccslist[p]);
  }
}

// Atoms bonded to `idx` that no node of the best clique uses on that side.
std::vector<int> unmatched_neighbours(const CPDMOL *mol, int idx, const MCS &best, int DNODE::*side,
                                      const DNODE *nodelist) {
  std::vector<char> matched(mol->nodenum, 0);
  for (int k = 0; k < best.vnum; k++) matched[nodelist[best.vlist[k]].*side] = 1;
  std::vector<int> atoms;
  const char *row = mol->matrix + static_cast<size_t>(idx) * mol->nodenum;
  for (int x = 0; x < mol->nodenum; x++) {
    if (row[x] != 0 && !matched[x]) atoms.push_back(x);
  }
  return atoms;
}

void print_neighbour_list(FILE *fp, const CPDMOL *mol, const std::vector<int> &atoms) {
  if (atoms.empty()) {
    fprintf(fp, "     ");
    return;
  }
  for (int x : atoms) fprintf(fp, " %d:[%s]", x + 1, mol->cnode[x].nid);
}

void output_extendalign(FILE *fp, int idx1, int idx2) {
  const Exe1State &s = exe1_state();
  const MCS &best = s.mcslist[s.max_mcs_index];
  std::vector<int> left = unmatched_neighbours(s.cpdmol1, idx1, best, &DNODE::e1, s.nodelist);
  std::vector<int> right = unmatched_neighbours(s.cpdmol2, idx2, best, &DNODE::e2, s.nodelist);
  if (left.empty() && right.empty()) return;
  fprintf(fp, "\t## L=");
  print_neighbour_list(fp, s.cpdmol1, left);
  fprintf(fp, "\t## R=");
  print_neighbour_list(fp, s.cpdmol2, right);
}

void output_align(FILE *fp) {
  const Exe1State &s = exe1_state();
  const MCS *best = best_clique(s);
  if (s.mcs_max == 0 || best == nullptr) return;

  int identical = 0;
  for (int k = 0; k < s.mcs_max && k < best->vnum; k++) {
    if (s.nodelist[best->vlist[k]].ident) identical++;
  }
  fprintf(fp, "Alignment: %d node (%6.2f%%) identity in %d node overlap\n", identical,
          identical * 100.0 / s.mcs_max, s.mcs_max);

  int piece_number = 0;
  for_each_best_piece(s, [&](const SCCS &piece) {
    piece_number++;
    for (int k = 0; k < piece.vnum; k++) {
      const DNODE &node = s.nodelist[piece.vlist[k]];
      int a = node.e1, b = node.e2;
      fprintf(fp, "%d:[%s]\t%d:[%s]\t", a + 1, s.cpdmol1->cnode[a].nid, b + 1,
              s.cpdmol2->cnode[b].nid);
      fprintf(fp, node.ident ? "##" : "#!");
      fprintf(fp, " SCCS %d", piece_number);
      output_extendalign(fp, a, b);
      fprintf(fp, "\n");
    }
  });
}

void output_qtrstyle_cpd(FILE *fp, const char *tag, CPDMOL *mol, CPDMOL *cpdmol) {
  fprintf(fp, "%s\n", tag);
  fprintf(fp, "  COMPOUND  %s\n", mol->name != nullptr ? mol->name : "(null)");
  // Each echoed line keeps its own line end; a line that arrived without one
  // (the last line of an unterminated file, or a piece of an over-long line)
  // gets one, so that every echoed line stays a line of its own.
  auto echo = [fp](CompList *lines) {
    int count = complist_numberof(lines);
    for (int k = 1; k <= count; k++) {
      const char *line = static_cast<const char *>(complist_getdata(lines, k));
      size_t len = strlen(line);
      fprintf(fp, "%s", line);
      if (len == 0 || line[len - 1] != '\n') fprintf(fp, "\n");
    }
  };
  fprintf(fp, "  ATOM      %d\n", complist_numberof(cpdmol->node));
  echo(cpdmol->node);
  fprintf(fp, "  BOND      %d\n", complist_numberof(cpdmol->connect));
  echo(cpdmol->connect);
}

void output_qtrstyle(FILE *fp, CPDMOL *mol1, CPDMOL *mol2) {
  Exe1State &s = exe1_state();
  if (s.status == kStatusMissingRecord) return;
  auto name_or = [](const CPDMOL *mol, const char *fallback) {
    return mol->name != nullptr ? mol->name : fallback;
  };
  auto definition = [](const CPDMOL *mol) {
    return mol->definition != nullptr ? mol->definition : "";
  };
  fprintf(fp, "ENTRY       A00000                      ReactantPair\n");
  fprintf(fp, "NAME        %s_%s\n", name_or(mol1, "(null)"), name_or(mol2, "(null)"));
  fprintf(fp, "COMPOUND    %s  %-58.58s\n", name_or(mol1, "C00000"), definition(mol1));
  fprintf(fp, "            %s  %-58.58s\n", name_or(mol2, "C00000"), definition(mol2));
  fprintf(fp, "RDM         0\n");
  if (usable(s)) get_maxMCSinfo(&s.max_mcs_index, nullptr, nullptr, nullptr, nullptr);
  if (usable(s) && s.mcs_max != 0 && best_clique(s) != nullptr) {
    fprintf(fp, "ALIGN       %d  #similarity=%f\n", s.mcs_max, coefficient(s));
    int row = 0;
    for_each_best_piece(s, [&](const SCCS &piece) {
      for (int k = 0; k < piece.vnum; k++) {
        const DNODE &node = s.nodelist[piece.vlist[k]];
        int a = node.e1, b = node.e2;
        fprintf(fp, "            %-3d %3d:%-3s %3d:%-3s", ++row, a + 1, s.cpdmol1->cnode[a].nid,
                b + 1, s.cpdmol2->cnode[b].nid);
        fprintf(fp, "\n");
      }
    });
  }
  output_qtrstyle_cpd(fp, "ENTRY1", mol1, mol1);
  output_qtrstyle_cpd(fp, "ENTRY2", mol2, mol2);
  fprintf(fp, "///\n");
}

}  // namespace

void output_similarity(FILE *fp) {
  Exe1State &s = exe1_state();
  if (s.output_mode & 32) {
    output_qtrstyle(fp, s.cpdmol1, s.cpdmol2);
    return;
  }
  if (s.status == kStatusMissingRecord) return;

  const CPDMOL *m1 = s.cpdmol1, *m2 = s.cpdmol2;
  if (s.output_mode & 4) {
    fprintf(fp, "Input1 (%d): %s\nInput2 (%d): %s\nResult: ", m1->nodenum_sub, m1->name,
            m2->nodenum_sub, m2->name);
  } else {
    fprintf(fp, "%s\t%d\t%s\t%d\t", m1->name, m1->nodenum_sub, m2->name, m2->nodenum_sub);
  }
  if (usable(s)) {
    get_maxMCSinfo(&s.max_mcs_index, nullptr, nullptr, nullptr, nullptr);
    fprintf(fp, "%d\t%f", s.mcs_max, coefficient(s));
  } else {
    fprintf(fp, "%d\t%f", s.mcs_max, 0.0);
  }
  if (s.status == kStatusGraphTooLarge) fprintf(fp, " (no:%d)", s.nodenum);
  if (s.status == kStatusCliquesCut) fprintf(fp, " (co:%d)", s.mcsnum_overflow);
  fprintf(fp, "\n");
  if (usable(s) && (s.output_mode & 4)) output_align(fp);
}
