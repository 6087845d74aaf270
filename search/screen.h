// Screening: many compound pairs through the similarity engine.
//
// A screen compares every query record with a range of target records: all
// targets, or (for all pairs within one file) the targets after the query.
// Pairs are computed on several threads, each with its own engine instance,
// and handed back strictly in pair order, so the result never depends on the
// number of threads. A cheap upper bound on the coefficient lets a screen
// with a lower limit skip pairs that cannot reach it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "cpdcommon.h"

namespace screen {

// ---------------------------------------------------------------------------
// One pair

// Engine settings, with the values taviron's options give them.
struct EngineConfig {
  int atom_mode = 1;  // 2: dock atoms by element
  int exec_mode = 1;  // 8: extend the best clique
  int maxrepeat = -1;
  int limit = CPD_MAX;
  double time_limit = 0;  // seconds of clique search per pair; 0: no limit
};

// What taviron reports for one pair.
struct PairResult {
  int query = 0;   // position in the query list
  int target = 0;  // position in the target list
  int query_atoms = 0;
  int target_atoms = 0;
  int score = 0;
  double coefficient = 0.0;
  int status = 0;        // SimilarityStatus
  int status_count = 0;  // docking nodes refused (too large) or cliques found (cut)
  // The score is the largest there is: the clique search finished within its
  // budget, or nothing was searched. False when the budget ended the search.
  bool proven = true;
};

// Builds the atom environments and bond matrices the engine would otherwise
// build on first use. Afterwards the engine only reads the records, so they
// may be shared by threads.
void prepare_records(std::span<CPDMOL *const> mols);

// Configures the calling thread's engine.
void init_engine(const EngineConfig &config);

// Runs the calling thread's engine on one pair (query, target fields left 0).
PairResult compare_pair(CPDMOL *query, CPDMOL *target);

// m / (A + B - m), as the report computes it; 0 for an empty union.
double coefficient(int pairs, int atoms_a, int atoms_b);

// ---------------------------------------------------------------------------
// Upper bound on the coefficient
//
// Two atoms can only ever be aligned when they are a node of the docking
// graph, i.e. when their keys match: elements when docking by element or when
// either atom is bonded to an "R" or "*" atom, environment types otherwise.
// An alignment uses every atom at most once, so it is a matching in this
// compatibility relation (the growth of the best clique adds only unmatched
// atoms too); the largest such matching bounds the score and with it the
// coefficient. Compatibility depends on an atom's class only (its type, its
// element and whether it is keyed by element), so the matching is computed
// over class counts.

// Numbers for the type and element strings of all screened records.
class KeyIndex {
 public:
  int id(const char *text);

 private:
  std::unordered_map<std::string, int> ids_;
  int missing_ = 0;  // ids below 0, one per missing string
};

// Atoms of one compound that share type, element and keying.
struct AtomClass {
  int nid = 0;              // type id
  int aid = 0;              // element id
  bool by_element = false;  // bonded to an "R" or "*" atom
  int count = 0;
};

// The matchable atoms of one compound, summarised for the bound.
struct AtomProfile {
  int atoms = 0;                          // matchable atoms
  bool by_element = false;                // docking by element: every key is the element
  bool has_marked = false;                // some atom is bonded to an "R" or "*" atom
  std::vector<std::pair<int, int>> keys;  // (key id, atoms) ascending: the whole profile
                                          // when every atom is keyed the same way
  std::vector<AtomClass> classes;         // all classes, for mixed keying
};

// Profile of a prepared record. by_element follows the engine's atom mode.
AtomProfile make_profile(const CPDMOL &mol, bool by_element, KeyIndex &index);

// The largest number of atom pairs, each atom used once, whose keys match.
int max_atom_pairs(const AtomProfile &a, const AtomProfile &b);

// True when no alignment of the two compounds can reach coefficient `min`.
bool below_bound(const AtomProfile &a, const AtomProfile &b, double min);

// The second bound, for pairs the first lets through: the largest clique of
// the docking graph is at most the colours of any proper colouring of it, and
// without the growth of the best clique the score is a clique's size. The
// calling thread's engine docks the pair; then either the pair is ruled out
// (nullopt, nothing searched) or it is computed on the same graph, exactly as
// compare_pair() computes it. Pairs whose graph is not searched (a status
// row) are never ruled out here, nor any pair with the growth (exec_mode 8).
std::optional<PairResult> compare_pair_above(CPDMOL *query, CPDMOL *target, double min);

// True when the clique bound holds for the engine's settings: not with the
// growth of the best clique, which can pass the clique's size.
bool clique_bound_valid(const EngineConfig &config);

// ---------------------------------------------------------------------------
// Selection and output

// The order of the best rows of a query: the higher coefficient first, on
// equal coefficients the earlier target (so ties keep target order).
bool ranked_before(const PairResult &x, const PairResult &y);

// Keeps the best `k` results of each query and hands them on ranked (best
// first, see ranked_before) once the query is done. Results must arrive
// grouped by query, in target order.
class TopSelector {
 public:
  using Emit = std::function<void(const PairResult &)>;
  TopSelector(int k, Emit out) : k_(k), out_(std::move(out)) {}
  void add(const PairResult &r);
  void finish();  // hands on the last query's results

 private:
  int k_;
  Emit out_;
  std::vector<PairResult> kept_;  // heap, worst kept result on top
};

enum class Format { kTsv, kJsonl };

// The header line of the format (empty for JSON lines); with `names`, the
// columns query_name and target_name follow, and with `substructure`
// atom_pairs, query_match and target_match.
std::string header(Format format, bool names = false, bool substructure = false);

// The status column: ok, no-atoms, no-match, too-large:N, cut:N.
std::string status_text(const PairResult &r);

// The compounds' own names, for the last two columns of a row.
struct RowNames {
  std::string_view query;
  std::string_view target;
};

// The common substructure of a row's pair (--substructure): the aligned
// atoms as 0-based atom indices of the query and the target molecule, and
// the matched part of each as SMILES (none for a record read from QTR text).
struct RowSubstructure {
  std::vector<std::pair<int, int>> atom_pairs;
  std::optional<std::string> query_match;
  std::optional<std::string> target_match;
};

// Appends one line for the result; with `names`, query_name and target_name
// follow, and with `substructure` its three columns (TSV: atom_pairs as
// "0:3,1:4", an unknown match as an empty cell; JSON: atom_pairs as
// [[0,3],[1,4]], an unknown match as null).
void append_row(std::string &out, Format format, const PairResult &r, const char *query_name,
                const char *target_name, const RowNames *names = nullptr,
                const RowSubstructure *substructure = nullptr);

// Appends a TSV cell: a tab, CR or LF in the text becomes a space, so that
// the cell never breaks the table.
void append_tsv_cell(std::string &out, std::string_view text);

// Appends a JSON string literal.
void append_json_string(std::string &out, std::string_view text);

// ---------------------------------------------------------------------------
// Running a screen

struct RunOptions {
  EngineConfig engine;
  std::optional<double> min;  // keep pairs with a coefficient of at least this
  int top = 0;                // keep the best `top` targets per query; 0 keeps all
  int threads = 1;
  int chunk = 16;  // pairs per unit of work
  // With a minimum: also rule out pairs by the clique bound where it holds
  // (off only to compare with runs without it).
  bool clique_bound = true;
};

struct RunStats {
  std::int64_t pairs = 0;           // pairs in the screen
  std::int64_t skipped = 0;         // pairs the bounds ruled out
  std::int64_t skipped_clique = 0;  // of those, ruled out by the clique bound
  std::int64_t kept = 0;            // results handed on
  std::int64_t done = 0;            // pairs computed (all of them, unless stopped)
  bool stopped = false;             // ended early on request
};

// Which pairs a screen covers: query q with targets [first_target(q), targets).
struct PairPlan {
  int queries = 0;
  int targets = 0;
  bool triangle = false;  // all pairs within one list: targets after the query only

  int first_target(int q) const { return triangle ? q + 1 : 0; }
  std::int64_t total() const;
};

using Emit = std::function<void(const PairResult &)>;
using Progress = std::function<void(std::int64_t done, std::int64_t total)>;

// Any set of pairs in pair order: query q with targets [begin[q], end[q]).
// With `left_out`, the pair of query q with target left_out[q] (-1: none) is
// counted among the pairs but neither computed nor handed on.
struct PairRanges {
  std::vector<int> begin;
  std::vector<int> end;
  std::vector<int> left_out;  // empty: no pair left out
  std::int64_t total() const;
};

// Called after the results of a run of pairs were handed on: the pairs of
// `query` before target `end` are all done.
using ChunkDone = std::function<void(int query, int end)>;
// Asked now and then; true ends the run early, after the pairs handed on.
using StopRequested = std::function<bool()>;

// Bound profiles of a run; empty when the run has no minimum.
struct Profiles {
  std::span<const AtomProfile> queries;
  std::span<const AtomProfile> targets;
};

// The core of run_screen for prepared records: every pair of `ranges`, its
// result handed to `emit` (kept by the minimum, no selection) on the calling
// thread in pair order.
RunStats run_pairs(std::span<CPDMOL *const> queries, std::span<CPDMOL *const> targets,
                   const PairRanges &ranges, const RunOptions &options, const Profiles &profiles,
                   const Emit &emit, const ChunkDone &chunk_done = {},
                   const Progress &progress = {}, const StopRequested &stop = {});

// Screens queries against targets (with `triangle`, the two must be the same
// list). Results are handed to `emit` on the calling thread, in query order,
// then target order (with `top`, each query's best first, as TopSelector
// hands them on); `progress`, if set, is called there now and then. The
// records are prepared first. Throws what a worker threw (std::bad_alloc).
RunStats run_screen(std::span<CPDMOL *const> queries, std::span<CPDMOL *const> targets,
                    bool triangle, const RunOptions &options, const Emit &emit,
                    const Progress &progress = {});

// ---------------------------------------------------------------------------
// Command-line helpers

// A decimal integer from lo to hi, nothing else; nullopt otherwise.
std::optional<long long> parse_integer(std::string_view text, long long lo, long long hi);

// A number from 0 to 1 (decimal notation); nullopt otherwise.
std::optional<double> parse_fraction(std::string_view text);

// Processors this process may run on (at least 1).
int default_threads();

// "12345/20000 pairs, 8123 pairs/s, 0:01 left" for the progress display.
std::string progress_text(std::int64_t done, std::int64_t total, double seconds);

}  // namespace screen
