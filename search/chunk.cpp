#include "search/chunk.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace screen {

// ---------------------------------------------------------------------------
// Cached records

CachedSource::CachedSource(RecordSource &inner, std::uint64_t budget, int block)
    : inner_(inner), budget_(budget), block_(std::max(1, block)) {
  blocks_.resize(static_cast<std::size_t>((inner.size() + block_ - 1) / block_));
}

CachedSource::~CachedSource() = default;

std::vector<CPDMOL *> CachedSource::load(int a, int b) {
  std::vector<CPDMOL *> out;
  if (a >= b) return out;
  const std::uint64_t now = ++loads_;
  for (int k = a / block_; k <= (b - 1) / block_; k++) {
    std::unique_ptr<Block> &slot = blocks_[static_cast<std::size_t>(k)];
    const int lo = k * block_, hi = std::min(inner_.size(), lo + block_);
    if (!slot) {
      auto fresh = std::make_unique<Block>();
      {
        RecordArena::Scope scope(fresh->arena);
        fresh->records = inner_.load(lo, hi);
      }
      fresh->bytes = inner_.bytes(lo, hi);
      held_ += fresh->bytes;
      reads_++;
      slot = std::move(fresh);
    }
    slot->used = now;
    const int from = std::max(a, lo) - lo, to = std::min(b, hi) - lo;
    out.insert(out.end(), slot->records.begin() + from, slot->records.begin() + to);
  }
  // Over the budget: the blocks used longest ago go, never those just used.
  while (held_ > budget_) {
    std::unique_ptr<Block> *oldest = nullptr;
    for (auto &slot : blocks_) {
      if (slot && slot->used != now && (oldest == nullptr || slot->used < (*oldest)->used)) {
        oldest = &slot;
      }
    }
    if (oldest == nullptr) break;
    held_ -= (*oldest)->bytes;
    oldest->reset();
  }
  return out;
}

// ---------------------------------------------------------------------------
// One chunk

namespace {

// Rows of a chunk, kept in memory.
struct TextSink final : RowSink {
  std::string &text;
  explicit TextSink(std::string &t) : text(t) {}
  void write(std::string_view rows) override { text += rows; }
  void checkpoint(std::int64_t) override {}
};

// The query that pair number `pair` belongs to (the last query when there is
// none after it).
std::int64_t query_of(const PairSpace &space, std::int64_t pair) {
  std::int64_t a = 0, b = space.queries;  // first query that ends after `pair`
  while (a < b) {
    const std::int64_t m = a + (b - a) / 2;
    (space.start(m + 1) <= pair) ? a = m + 1 : b = m;
  }
  return a;
}

}  // namespace

ChunkRows run_chunk(RecordSource &queries, RecordSource &targets, bool triangle, std::int64_t first,
                    std::int64_t last, const StreamOptions &options, const StopRequested &stop) {
  ChunkRows chunk;
  chunk.first = first;
  chunk.last = last;
  StreamOptions o = options;
  o.on_kept = [&](const PairResult &r) { chunk.results.push_back(r); };
  TextSink sink(chunk.rows);
  chunk.stats = run_stream(queries, targets, triangle, first, last, o, sink, {}, stop);
  // Rows are written query by query, in target order (with --top, ranked);
  // the results come in the order of the blocks they were computed in.
  const bool top = options.run.top > 0;
  std::sort(chunk.results.begin(), chunk.results.end(), [top](const auto &x, const auto &y) {
    if (x.query != y.query) return x.query < y.query;
    return top ? ranked_before(x, y) : x.target < y.target;
  });
  return chunk;
}

// ---------------------------------------------------------------------------
// Joining chunks

struct ChunkJoiner::Kept {
  PairResult result;
  std::string row;
};

ChunkJoiner::ChunkJoiner(const PairSpace &space, std::int64_t first, std::int64_t last, int top,
                         RowSink &sink, std::function<void(const PairResult &)> on_kept)
    : space_(space),
      first_(first),
      last_(last),
      next_(first),
      top_(static_cast<std::size_t>(std::max(top, 0))),
      sink_(sink),
      on_kept_(std::move(on_kept)) {
  stats_.pairs = last - first;
}

ChunkJoiner::~ChunkJoiner() = default;

void ChunkJoiner::close_query() {
  if (open_query_ < 0) return;
  std::sort(kept_.begin(), kept_.end(),
            [](const Kept &x, const Kept &y) { return ranked_before(x.result, y.result); });
  std::string text;
  for (const Kept &k : kept_) {
    text += k.row;
    if (on_kept_) on_kept_(k.result);
  }
  stats_.kept += static_cast<std::int64_t>(kept_.size());
  sink_.write(text);
  kept_.clear();
  open_query_ = -1;
}

void ChunkJoiner::add(const ChunkRows &chunk) {
  if (chunk.first != next_ || chunk.last < chunk.first || chunk.last > last_) {
    throw std::logic_error("chunks joined out of order");
  }
  next_ = chunk.last;
  stats_.skipped += chunk.stats.skipped;
  stats_.skipped_clique += chunk.stats.skipped_clique;
  if (top_ == 0) {
    sink_.write(chunk.rows);
    stats_.kept += static_cast<std::int64_t>(chunk.results.size());
    if (on_kept_) {
      for (const PairResult &r : chunk.results) on_kept_(r);
    }
    sink_.checkpoint(next_);
    return;
  }
  // One row per line, in the order of the results.
  std::size_t at = 0;
  const auto heap_order = [](const Kept &x, const Kept &y) {
    return ranked_before(x.result, y.result);
  };
  for (const PairResult &r : chunk.results) {
    const std::size_t end = chunk.rows.find('\n', at);
    if (end == std::string::npos) throw std::logic_error("a chunk has fewer rows than results");
    Kept item{r, chunk.rows.substr(at, end + 1 - at)};
    at = end + 1;
    if (r.query != open_query_) {
      close_query();
      open_query_ = r.query;
    }
    // The worst kept row on top of a heap of at most k.
    if (kept_.size() < top_) {
      kept_.push_back(std::move(item));
      std::push_heap(kept_.begin(), kept_.end(), heap_order);
    } else if (ranked_before(item.result, kept_.front().result)) {
      std::pop_heap(kept_.begin(), kept_.end(), heap_order);
      kept_.back() = std::move(item);
      std::push_heap(kept_.begin(), kept_.end(), heap_order);
    }
  }
  // The queries before the one that the next chunk continues are complete.
  if (next_ == last_) {
    close_query();
    sink_.checkpoint(last_);
    return;
  }
  const std::int64_t continued = query_of(space_, next_);
  if (open_query_ >= 0 && open_query_ < continued) close_query();
  sink_.checkpoint(std::max(first_, space_.start(continued)));
}

std::int64_t chunk_pairs(std::int64_t pairs, int workers, std::int64_t least) {
  const std::int64_t share = pairs / (32 * static_cast<std::int64_t>(std::max(1, workers)));
  // At most 2^20 pairs: the rows of a chunk travel as one message and wait
  // at rank 0 for their turn.
  return std::max<std::int64_t>({1, least, std::min<std::int64_t>(share, 1 << 20)});
}

}  // namespace screen
