// A screen cut into chunks: ranges of pairs computed apart and joined again.
//
// A chunk is a range [first, last) of the screen's pair numbering (query by
// query, targets in order). Each chunk is computed like a screen of its own
// range, its rows kept in memory; the joiner takes the chunks in order and
// writes exactly the rows that one screen of the whole range writes. Without
// --top the rows of a chunk are a piece of the output as they are. With --top
// a query may span chunks: each chunk brings its best k rows of the query,
// the best k of those are the best k of the query, and they are written
// once the query is complete.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cpdio.h"
#include "search/stream.h"

namespace screen {

// Records of another source kept for later loads: blocks of `block`
// consecutive records, read once, and the most recently used of them kept
// while their text is within `budget` bytes (the blocks that one load needs
// are always kept). Chunks of one screen read the same targets again and
// again; with the cache a process reads them once, as long as they fit.
class CachedSource final : public RecordSource {
 public:
  CachedSource(RecordSource &inner, std::uint64_t budget, int block = 256);
  ~CachedSource() override;
  CachedSource(const CachedSource &) = delete;
  CachedSource &operator=(const CachedSource &) = delete;

  int size() const override { return inner_.size(); }
  int atoms(int i) const override { return inner_.atoms(i); }
  std::uint64_t bytes(int a, int b) const override { return inner_.bytes(a, b); }
  bool adjacent_duplicates() const override { return inner_.adjacent_duplicates(); }
  // The records stay valid until a later load evicts their block.
  std::vector<CPDMOL *> load(int a, int b) override;
  bool loads_stay_valid() const override { return false; }

  // Blocks read from the inner source so far.
  std::int64_t reads() const { return reads_; }

 private:
  struct Block {
    RecordArena arena;
    std::vector<CPDMOL *> records;
    std::uint64_t bytes = 0;
    std::uint64_t used = 0;  // the load that used it last
  };

  RecordSource &inner_;
  std::uint64_t budget_;
  int block_;
  std::vector<std::unique_ptr<Block>> blocks_;  // by block number; null when not held
  std::uint64_t held_ = 0;                      // bytes of the blocks held
  std::uint64_t loads_ = 0;
  std::int64_t reads_ = 0;
};

// The computed rows of one chunk.
struct ChunkRows {
  std::int64_t first = 0, last = 0;  // its pairs
  std::string rows;                  // in output order
  std::vector<PairResult> results;   // one per row, in the same order
  RunStats stats;                    // kept: the rows above
};

// Computes the pairs [first, last) of the screen as run_stream does (with
// --top: the best rows of each query among these pairs).
ChunkRows run_chunk(RecordSource &queries, RecordSource &targets, bool triangle, std::int64_t first,
                    std::int64_t last, const StreamOptions &options,
                    const StopRequested &stop = {});

// Writes the chunks of the pairs [first, last) of a screen, handed to it in
// order, as one screen of that range writes them, with a checkpoint after
// each chunk where the rows are complete (with --top, at a query's end).
class ChunkJoiner {
 public:
  ChunkJoiner(const PairSpace &space, std::int64_t first, std::int64_t last, int top, RowSink &sink,
              std::function<void(const PairResult &)> on_kept = {});
  ~ChunkJoiner();
  ChunkJoiner(const ChunkJoiner &) = delete;
  ChunkJoiner &operator=(const ChunkJoiner &) = delete;

  // The next chunk: it begins where the one before ended.
  void add(const ChunkRows &chunk);
  // The pairs written so far, and the totals of the run (kept: rows written).
  std::int64_t done() const { return next_; }
  const RunStats &stats() const { return stats_; }

 private:
  struct Kept;
  void close_query();

  PairSpace space_;
  std::int64_t first_, last_, next_;
  std::size_t top_;
  RowSink &sink_;
  std::function<void(const PairResult &)> on_kept_;
  RunStats stats_;
  int open_query_ = -1;  // with --top: the query whose best rows are being chosen
  std::vector<Kept> kept_;
};

// Pairs per chunk when a screen of `pairs` pairs is shared by `workers`
// processes: small enough for some 32 chunks each, so that a slow chunk
// holds up little, and at least `least` pairs, so that the cost of a chunk
// (reading its queries, the bound profiles of its targets, starting the
// threads) stays small against its pairs; at most 2^20 pairs.
std::int64_t chunk_pairs(std::int64_t pairs, int workers, std::int64_t least = 256);

}  // namespace screen
