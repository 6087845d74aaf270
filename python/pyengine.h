// The engine as the Python module uses it: compound records owned by their
// Python objects, one pair compared with its alignment, taviron's report of a
// pair as text, and a screen of many pairs on several threads. Nothing here
// needs Python; the module (module.cpp) only translates.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "cpdcommon.h"
#include "cpdio.h"
#include "search/screen.h"

namespace pyengine {

// One compound record and the arena it lives in. Records are prepared (atom
// environments and bond matrix built) when read, so the engine only reads
// them afterwards and several threads may compare them at once.
struct Record {
  std::shared_ptr<RecordArena> arena;
  CPDMOL *mol = nullptr;
};

// Thrown when the input holds no compound record; what() is the message.
struct NoRecords : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Every record of a QTR stream, prepared. `source` names the input in the
// message of NoRecords. A stream that fails while being read throws
// std::system_error with its errno.
std::vector<Record> read_records(FILE *fp, const std::string &source);

// Every record of a QTR text.
std::vector<Record> parse_records(const std::string &text, const std::string &source);

// The identifier of the last record of a QTR input when the input ends
// inside it (before its "///" line), as the record scanner tells it; empty
// otherwise. The first reads the file `fd` from its start.
std::string cut_record(int fd);
std::string cut_record_of_text(const std::string &text);

struct Atom {
  int number = 0;  // 1-based position, as the engine numbers atoms
  std::string type;
  std::string element;
  std::optional<double> x;  // fields 4 and 5 of the atom line, when numbers
  std::optional<double> y;
};

struct Bond {
  int a = 0;  // 1-based atom numbers
  int b = 0;
  std::optional<int> order;  // field 4 of the bond line, when a number
};

// The atoms of a record, and the bonds the engine uses (those naming two of
// its atoms).
std::vector<Atom> atoms_of(const CPDMOL &mol);
std::vector<Bond> bonds_of(const CPDMOL &mol);

// taviron's computation options, with its defaults.
struct Options {
  bool atom = false;      // dock atoms by element (--atom)
  bool trick = false;     // grow the best alignment along bonds (--trick)
  int repeat = -1;        // step budget of the clique search; -1 the default, 0 none
  int limit = CPD_MAX;    // largest docking graph searched, 1..CPD_MAX
  double time_limit = 0;  // seconds of clique search per pair; 0: none
};

// Checks repeat and limit as taviron reads them: limit outside 1..CPD_MAX
// means CPD_MAX. Throws std::invalid_argument for values taviron refuses.
Options make_options(bool atom, bool trick, long long repeat, long long limit);

// One aligned atom pair, numbered as --align prints it.
struct AlignedPair {
  int a = 0;      // 1-based atom of the first compound
  int b = 0;      // 1-based atom of the second compound
  int piece = 0;  // connected piece, from 1 in descending score
};

// Runs the calling thread's engine on the pair: what taviron-search reports.
screen::PairResult compare(CPDMOL *a, CPDMOL *b, const Options &options);

// The status column of taviron-search: ok, no-atoms, no-match, too-large:N,
// cut:N.
std::string status_word(const screen::PairResult &r);

enum class ReportForm { kScore, kAlign, kQtr };

// Exactly what taviron writes for the pair in the given form.
std::string report(CPDMOL *a, CPDMOL *b, const Options &options, ReportForm form);

// The aligned atom pairs as taviron --align lists them (taken from that
// report, so they are numbered and ordered exactly as printed); empty when
// nothing was aligned.
std::vector<AlignedPair> alignment(CPDMOL *a, CPDMOL *b, const Options &options);

// The pair drawn as SVG, its aligned atoms highlighted piece by piece, as
// taviron-depict draws it; hydrogen counts as depict::pair_svg takes them.
std::string depiction(CPDMOL *a, CPDMOL *b, const Options &options,
                      std::span<const int> hydrogens_a = {}, std::span<const int> hydrogens_b = {});

struct ScreenOptions {
  Options engine;
  std::optional<double> min;  // keep coefficients of at least this
  int top = 0;                // keep the best `top` targets per query; 0 keeps all
  int threads = 1;            // worker threads
  int chunk = 16;             // pairs per unit of work
};

// Called on the calling thread now and then with (pairs done, pairs in all);
// returns false to stop the screen (it then throws ScreenStopped).
using Progress = std::function<bool(std::int64_t done, std::int64_t total)>;

struct ScreenStopped {};

// Rows of taviron-search for queries against targets (all pairs within
// `queries` when `triangle`; targets must then be the same list), in query
// order, then target order. Workers run on their own threads; `progress` is
// called on the calling thread at least every `tick_ms` milliseconds.
std::vector<screen::PairResult> run(const std::vector<CPDMOL *> &queries,
                                    const std::vector<CPDMOL *> &targets, bool triangle,
                                    const ScreenOptions &options, const Progress &progress,
                                    int tick_ms = 100);

// What a screen counted besides its rows, as taviron-search's summary line
// counts it.
struct ScreenCounts {
  std::int64_t pairs = 0;           // pairs of the screen
  std::int64_t skipped_atoms = 0;   // ruled out by the atom-count bound
  std::int64_t skipped_clique = 0;  // ruled out by the clique bound
  std::int64_t matched = 0;         // rows at or above the minimum, before `top`
};

// The rows of run(), computed as taviron-search computes them (with a
// minimum, both of its bounds rule pairs out), and the counts of the screen.
// `progress` is called on the calling thread at least every `tick_ms`
// milliseconds while the workers run; returning false stops the screen
// (ScreenStopped).
std::vector<screen::PairResult> run_counted(const std::vector<CPDMOL *> &queries,
                                            const std::vector<CPDMOL *> &targets, bool triangle,
                                            const ScreenOptions &options, const Progress &progress,
                                            ScreenCounts &counts, int tick_ms = 100);

// Processors this process may run on (at least 1).
int processors();

}  // namespace pyengine
