// Screens of any size: records read block by block.
//
// The targets of a screen are read, compared and released in blocks, so that
// memory depends on the block size, the queries and the threads, never on the
// number of targets. A QTR input is indexed first (the offset and atom count
// of every record, found by the record scanner) and then read again block by
// block; standard input is copied to an unnamed temporary file for that.
//
// Pairs are numbered in output order (query by query, targets in order), and
// a screen may cover any range of that numbering: a part of a sharded screen,
// or the rest of an interrupted one. Output is the same text whatever the
// blocks: queries are taken in passes, the first query of a pass writes its
// rows at once, later ones are held in a spill file until the pass ends.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "search/screen.h"

namespace screen {

// Records by position: a QTR file read on demand, or records held in memory.
class RecordSource {
 public:
  // Indexes an open QTR stream (read from its start; `fp` is owned). A scan
  // with `finder` also looks up query entries. Throws std::system_error when
  // the stream cannot be read.
  static std::unique_ptr<RecordSource> index_qtr(FILE *fp, class EntryLookup *finder = nullptr);
  // Records already read (molecule files): never released.
  static std::unique_ptr<RecordSource> held(std::vector<CPDMOL *> records);

  virtual ~RecordSource() = default;
  virtual int size() const = 0;
  // Atom lines of a record, as the reader counts them (the work estimate).
  virtual int atoms(int i) const = 0;
  // Records [a, b), prepared for the engine. File records are read into the
  // calling thread's arena (RecordArena) and live as long as it.
  virtual std::vector<CPDMOL *> load(int a, int b) = 0;
  // Bytes of records [a, b) in the file (0 for held records).
  virtual std::uint64_t bytes(int a, int b) const = 0;
  // True when some record has the same name as the one before it.
  virtual bool adjacent_duplicates() const = 0;
  // True when the records of a load stay valid through later loads, so that
  // a screen may read the next block while it compares the current one.
  virtual bool loads_stay_valid() const { return true; }
  // The name of the last record when the input ended inside it (before its
  // "///" line); empty otherwise.
  virtual std::string cut_record() const { return {}; }
};

// Look-up of typed query entries during the index scan.
class EntryLookup {
 public:
  explicit EntryLookup(std::vector<const char *> typed);
  ~EntryLookup();
  // After the scan: the record of the i-th entry (read into the global
  // store), or null when the input has none; also sets the completion letter.
  CPDMOL *result(std::size_t i);
  // After the scan: the position of the i-th entry's record in the input
  // (from 0), or -1 when the input has none.
  std::int64_t position(std::size_t i) const;

 private:
  friend class QtrSource;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Copies a whole stream to an unnamed temporary file and returns it, at its
// start; throws std::system_error when reading or writing fails.
FILE *spool(FILE *in);

// Pair numbering of a screen: query q (0-based in the query list) with the
// targets from first(q) on.
struct PairSpace {
  std::int64_t queries = 0;
  std::int64_t targets = 0;
  bool triangle = false;  // all pairs within one list: targets after the query

  std::int64_t first(std::int64_t q) const { return triangle ? q + 1 : 0; }
  std::int64_t count(std::int64_t q) const;  // pairs of query q
  std::int64_t start(std::int64_t q) const;  // number of the first pair of q
  std::int64_t total() const { return start(queries); }
};

// Where a pass over the targets stands between two of its checkpoints: the
// rows of its later queries (or, with a selection of the best targets, every
// row that entered one) are in its spill file, not yet in the output.
struct PassPoint {
  std::int64_t qa = 0, qb = 0;     // the queries of the pass
  std::int64_t head = -1;          // the query written straight out: its spilled rows are out
  std::vector<std::int64_t> done;  // for each: the pairs with targets before this are done
  std::uint64_t spill_bytes = 0;   // the part of the spill file that holds them...
  std::uint32_t spill_crc = 0;     // ...and its CRC-32
};

// Where a screen writes: rows in output order, and the points up to which
// they are complete. A sink that keeps these points for a resume may keep a
// pass's spill file too, so that a pass need not end before its work is kept.
class RowSink {
 public:
  virtual ~RowSink() = default;
  virtual void write(std::string_view rows) = 0;
  // Every row of the pairs numbered below `pairs` was written.
  virtual void checkpoint(std::int64_t pairs) = 0;
  // As above, and the pass stands at `pass` (null: no pass is under way,
  // its rows are all written).
  virtual void pass_checkpoint(std::int64_t pairs, const PassPoint * /*pass*/) {
    checkpoint(pairs);
  }
  // True when the sink would save a checkpoint now.
  virtual bool save_due() const { return false; }
  // The spill file of a pass, kept by the sink: emptied, or with `resumed`
  // as the interrupted run left it (checked against resumed_pass()). Null
  // when the sink keeps none: the pass then spills to an unnamed file.
  virtual FILE *spill_file(bool /*resumed*/) { return nullptr; }
  // The pass an interrupted run stopped in, or null.
  virtual const PassPoint *resumed_pass() const { return nullptr; }
};

struct StreamOptions {
  RunOptions run;
  Format format = Format::kTsv;
  int target_block = 1024;                  // targets read at a time
  std::uint64_t block_bytes = 16ull << 20;  // ...or fewer, when their text is this large
  // Queries per pass over the targets: as many as make about `pass_pairs`
  // pairs, within these bounds. Rows of a pass's later queries wait in a
  // spill file and are done again when the pass is interrupted, so a pass is
  // kept short; every pass reads the targets once more.
  std::int64_t pass_pairs = 4'000'000;
  int min_query_block = 16;
  int max_query_block = 256;
  // Called with every kept row's result (query and target numbered in the
  // whole lists), in no particular order; rows go to the sink as ever.
  std::function<void(const PairResult &)> on_kept;
  // With a function here rows end with the compounds' own names, as it gives
  // them for the records of the query and the target list.
  std::function<std::string_view(const CPDMOL &)> query_name;
  std::function<std::string_view(const CPDMOL &)> target_name;
  // With a function here rows end with the pair's common substructure, as it
  // gives it. It runs on the thread that writes the rows, only for rows that
  // are kept (with --top: that enter the query's best rows so far).
  std::function<RowSubstructure(CPDMOL &query, CPDMOL &target)> substructure;
  // With a function here the pair of query q (numbered in the whole query
  // list) with target own_target(q), its own record, is left out: counted
  // among the pairs, never computed nor written; -1 leaves none out.
  std::function<std::int64_t(std::int64_t)> own_target;
};

// Runs the pairs [first, last) of the screen of `queries` (query list) against
// `targets` (the same source with `triangle`). Rows go to `sink` in output
// order; `top` selects among the pairs of each query that lie in the range,
// and a checkpoint then falls only where a query's rows are complete.
RunStats run_stream(RecordSource &queries, RecordSource &targets, bool triangle, std::int64_t first,
                    std::int64_t last, const StreamOptions &options, RowSink &sink,
                    const Progress &progress = {}, const StopRequested &stop = {});

}  // namespace screen
