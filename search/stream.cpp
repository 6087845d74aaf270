#include "search/stream.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <future>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "cpdio.h"
#include "qtrscan.h"

namespace screen {

namespace {

[[noreturn]] void throw_errno(int error) {
  throw std::system_error(error != 0 ? error : EIO, std::generic_category());
}

}  // namespace

// ---------------------------------------------------------------------------
// Sources

struct EntryLookup::Impl {
  explicit Impl(std::vector<const char *> ids) : typed(std::move(ids)), finder(typed) {}
  std::vector<const char *> typed;
  qtrscan::EntryFinder finder;
  char letter = 0;
  std::vector<CPDMOL *> records;  // read once per match
  std::vector<std::int64_t> indexes;
};

EntryLookup::EntryLookup(std::vector<const char *> typed)
    : impl_(std::make_unique<Impl>(std::move(typed))) {}
EntryLookup::~EntryLookup() = default;

CPDMOL *EntryLookup::result(std::size_t i) {
  if (_global_first_ == 0) _global_first_ = impl_->letter;
  const qtrscan::EntryFinder::Match &m = impl_->finder.result(i, impl_->letter);
  if (m.index < 0) return nullptr;
  // A record named twice is one record, as a look-up in a list gives.
  for (std::size_t k = 0; k < impl_->indexes.size(); k++) {
    if (impl_->indexes[k] == m.index) return impl_->records[k];
  }
  CPDMOL *mol = qtrscan::read_record(m.record.text);
  if (mol != nullptr) {
    prepare_records({&mol, 1});
    impl_->indexes.push_back(m.index);
    impl_->records.push_back(mol);
  }
  return mol;
}

std::int64_t EntryLookup::position(std::size_t i) const {
  return impl_->finder.result(i, impl_->letter).index;
}

class QtrSource final : public RecordSource {
 public:
  explicit QtrSource(FILE *fp) : fp_(fp) {}
  ~QtrSource() override { std::fclose(fp_); }
  QtrSource(const QtrSource &) = delete;
  QtrSource &operator=(const QtrSource &) = delete;

  void scan(EntryLookup *lookup) {
    const int fd = fileno(fp_);
    if (lseek(fd, 0, SEEK_SET) < 0) throw_errno(errno);
    qtrscan::Scanner scanner(fd);
    qtrscan::Record rec;
    qtrscan::Scanner::Capture capture;
    if (lookup != nullptr) {
      capture = [&](std::string_view name) { return lookup->impl_->finder.wants(name); };
    }
    std::string previous;
    while (scanner.next(rec, capture)) {
      if (!offsets_.empty() && rec.name == previous) adjacent_duplicates_ = true;
      previous = rec.name;
      if (rec.captured)
        lookup->impl_->finder.offer(rec, static_cast<std::int64_t>(offsets_.size()));
      offsets_.push_back(rec.offset);
      atoms_.push_back(rec.atoms);
      end_ = rec.offset + rec.size;
      cut_ = rec.cut ? rec.name : std::string();
    }
    if (scanner.error() != 0) throw_errno(scanner.error());
    if (lookup != nullptr) lookup->impl_->letter = scanner.first_letter();
  }

  int size() const override { return static_cast<int>(offsets_.size()); }
  int atoms(int i) const override { return atoms_[static_cast<std::size_t>(i)]; }
  std::uint64_t bytes(int a, int b) const override { return offset(b) - offset(a); }
  bool adjacent_duplicates() const override { return adjacent_duplicates_; }
  std::string cut_record() const override { return cut_; }

  std::vector<CPDMOL *> load(int a, int b) override {
    std::vector<CPDMOL *> out;
    if (a >= b) return out;
    if (fseeko(fp_, static_cast<off_t>(offset(a)), SEEK_SET) != 0) throw_errno(errno);
    for (int i = a; i < b; i++) {
      errno = 0;
      CPDMOL *mol = read_CPDMOL_QTR(fp_);
      if (std::ferror(fp_)) throw_errno(errno);
      if (mol == nullptr) throw std::runtime_error("the input changed while it was being read");
      out.push_back(mol);
    }
    prepare_records(out);
    return out;
  }

 private:
  std::uint64_t offset(int i) const {
    return i < size() ? offsets_[static_cast<std::size_t>(i)] : end_;
  }

  FILE *fp_;
  std::vector<std::uint64_t> offsets_;  // records lie end to end
  std::vector<int> atoms_;
  std::uint64_t end_ = 0;
  bool adjacent_duplicates_ = false;
  std::string cut_;
};

namespace {

class HeldSource final : public RecordSource {
 public:
  explicit HeldSource(std::vector<CPDMOL *> records) : records_(std::move(records)) {
    // Prepared now, outside any arena, as they are kept for the whole run.
    prepare_records(records_);
  }
  int size() const override { return static_cast<int>(records_.size()); }
  int atoms(int i) const override { return records_[static_cast<std::size_t>(i)]->nodenum; }
  std::uint64_t bytes(int, int) const override { return 0; }
  bool adjacent_duplicates() const override {
    for (std::size_t i = 1; i < records_.size(); i++) {
      if (std::strcmp(records_[i]->name, records_[i - 1]->name) == 0) return true;
    }
    return false;
  }
  std::vector<CPDMOL *> load(int a, int b) override {
    return {records_.begin() + a, records_.begin() + b};
  }

 private:
  std::vector<CPDMOL *> records_;
};

}  // namespace

std::unique_ptr<RecordSource> RecordSource::index_qtr(FILE *fp, EntryLookup *lookup) {
  auto source = std::make_unique<QtrSource>(fp);
  source->scan(lookup);
  return source;
}

std::unique_ptr<RecordSource> RecordSource::held(std::vector<CPDMOL *> records) {
  return std::make_unique<HeldSource>(std::move(records));
}

FILE *spool(FILE *in) {
  FILE *out = std::tmpfile();
  if (out == nullptr) throw_errno(errno);
  std::vector<char> buf(1 << 20);
  const int fd = fileno(in);
  for (;;) {
    const ssize_t n = ::read(fd, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      std::fclose(out);
      throw_errno(error);
    }
    if (n == 0) break;
    if (std::fwrite(buf.data(), 1, static_cast<std::size_t>(n), out) !=
        static_cast<std::size_t>(n)) {
      const int error = errno;
      std::fclose(out);
      throw_errno(error);
    }
  }
  if (std::fflush(out) != 0) {
    const int error = errno;
    std::fclose(out);
    throw_errno(error);
  }
  std::rewind(out);
  return out;
}

// ---------------------------------------------------------------------------
// Pair numbering

std::int64_t PairSpace::count(std::int64_t q) const {
  return std::max<std::int64_t>(0, targets - first(q));
}

std::int64_t PairSpace::start(std::int64_t q) const {
  if (!triangle) return q * targets;
  // Query i has targets - 1 - i pairs; none once i reaches the end.
  const std::int64_t full = std::min(q, std::max<std::int64_t>(targets - 1, 0));
  return full * (targets - 1) - full * (full - 1) / 2;
}

// ---------------------------------------------------------------------------
// Running a screen

namespace {

// One row kept by the selection of the best targets of a query.
struct Kept {
  PairResult result;
  std::string row;
};

bool better(const Kept &x, const Kept &y) {
  return ranked_before(x.result, y.result);
}

// Rows of later queries of a pass, kept in an unnamed file until their turn.
class Spill {
 public:
  ~Spill() {
    if (fp_ != nullptr) std::fclose(fp_);
  }
  void add(std::size_t query, const std::string &rows) {
    if (rows.empty()) return;
    if (fp_ == nullptr && (fp_ = std::tmpfile()) == nullptr) throw_errno(errno);
    if (segments_.size() <= query) segments_.resize(query + 1);
    if (std::fwrite(rows.data(), 1, rows.size(), fp_) != rows.size()) throw_errno(errno);
    segments_[query].push_back({end_, rows.size()});
    end_ += rows.size();
  }
  // Hands the rows of `query` to `sink`, in the order they were added.
  void replay(std::size_t query, RowSink &sink) {
    if (query >= segments_.size() || segments_[query].empty()) return;
    if (std::fflush(fp_) != 0) throw_errno(errno);
    std::string buf;
    for (const auto &[offset, size] : segments_[query]) {
      buf.resize(size);
      if (fseeko(fp_, static_cast<off_t>(offset), SEEK_SET) != 0 ||
          std::fread(buf.data(), 1, size, fp_) != size) {
        throw_errno(errno);
      }
      sink.write(buf);
    }
    if (fseeko(fp_, 0, SEEK_END) != 0) throw_errno(errno);
  }

 private:
  FILE *fp_ = nullptr;
  std::uint64_t end_ = 0;
  std::vector<std::vector<std::pair<std::uint64_t, std::size_t>>> segments_;
};

// Records of a block of targets with the arena that owns them.
struct TargetBlock {
  std::unique_ptr<RecordArena> arena;
  std::vector<CPDMOL *> records;
};

TargetBlock load_block(RecordSource &targets, std::int64_t a, std::int64_t b) {
  TargetBlock block;
  block.arena = std::make_unique<RecordArena>();
  RecordArena::Scope scope(*block.arena);
  block.records = targets.load(static_cast<int>(a), static_cast<int>(b));
  return block;
}

// Keeps `item` in a heap of at most k rows, the worst kept row on top.
void keep_best(std::vector<Kept> &heap, std::size_t k, Kept item) {
  if (heap.size() < k) {
    heap.push_back(std::move(item));
    std::push_heap(heap.begin(), heap.end(), better);
  } else if (better(item, heap.front())) {
    std::pop_heap(heap.begin(), heap.end(), better);
    heap.back() = std::move(item);
    std::push_heap(heap.begin(), heap.end(), better);
  }
}

// The queries [qa, qb) of one pass over the targets, and their rows until
// the pass ends.
struct Pass {
  std::int64_t qa = 0, qb = 0;
  RecordArena arena;  // owns `records`
  std::vector<CPDMOL *> records;
  std::vector<AtomProfile> profiles;    // with a minimum
  std::int64_t tmin = 0, tmax = 0;      // the targets that some query meets
  std::int64_t head = -1;               // the first query with pairs: its rows go out at once
  Spill spill;                          // rows of the later queries, block by block
  std::vector<std::string> pending;     // rows of later queries in this block
  std::vector<std::vector<Kept>> kept;  // with --top: each query's best rows so far
  std::string direct;                   // rows of the head query, written chunk by chunk

  std::size_t size() const { return static_cast<std::size_t>(qb - qa); }
};

// A screen of the pairs [first, last): its passes, one after the other.
struct StreamRun {
  StreamRun(RecordSource &queries, RecordSource &targets, bool triangle, std::int64_t first,
            std::int64_t last, const StreamOptions &options, RowSink &sink,
            const Progress &progress, const StopRequested &stop);

  RunStats all_passes();

  std::pair<std::int64_t, std::int64_t> target_range(std::int64_t q) const;
  std::pair<std::int64_t, std::int64_t> queries_in_range() const;
  std::int64_t queries_per_pass() const;
  void open_pass(Pass &pass, std::int64_t qa, std::int64_t qb);
  std::int64_t block_end(const Pass &pass, std::int64_t ta) const;
  bool over_targets(Pass &pass);
  bool compare_block(Pass &pass, std::int64_t ta, std::int64_t tb,
                     const std::vector<CPDMOL *> &trecs);
  PairRanges block_ranges(const Pass &pass, std::int64_t ta, std::int64_t tb) const;
  void take_row(Pass &pass, std::int64_t ta, const std::vector<CPDMOL *> &trecs,
                const PairResult &r);
  void spill_pending(Pass &pass);
  void end_pass(Pass &pass);
  void write_best(std::vector<Kept> &rows);

  RecordSource &queries;
  RecordSource &targets;
  const StreamOptions &options;
  RowSink &sink;
  const Progress &progress;
  const StopRequested &stop;
  const PairSpace space;
  std::int64_t first, last;
  const bool top;
  const std::size_t k;
  RunOptions plain;  // the options of run_pairs: no selection there
  const bool by_element;
  KeyIndex index;
  RunStats stats;
  std::int64_t done_before = 0;  // pairs of the blocks before the current one
};

StreamRun::StreamRun(RecordSource &queries, RecordSource &targets, bool triangle,
                     std::int64_t first, std::int64_t last, const StreamOptions &options,
                     RowSink &sink, const Progress &progress, const StopRequested &stop)
    : queries(queries),
      targets(targets),
      options(options),
      sink(sink),
      progress(progress),
      stop(stop),
      space{queries.size(), targets.size(), triangle},
      first(std::clamp<std::int64_t>(first, 0, space.total())),
      last(std::clamp<std::int64_t>(last, this->first, space.total())),
      top(options.run.top > 0),
      k(static_cast<std::size_t>(std::max(options.run.top, 0))),
      plain(options.run),
      by_element((options.run.engine.atom_mode & 2) != 0) {
  plain.top = 0;
  stats.pairs = this->last - this->first;
}

// Targets of query q within the range.
std::pair<std::int64_t, std::int64_t> StreamRun::target_range(std::int64_t q) const {
  const std::int64_t s = space.start(q);
  const std::int64_t lo = space.first(q) + std::max<std::int64_t>(0, first - s);
  const std::int64_t hi = space.first(q) + std::min(space.count(q), last - s);
  return {lo, std::max(lo, hi)};
}

// The queries whose pairs meet the range.
std::pair<std::int64_t, std::int64_t> StreamRun::queries_in_range() const {
  std::int64_t a = 0, b = space.queries;  // first query that ends after `first`
  while (a < b) {
    const std::int64_t m = a + (b - a) / 2;
    (space.start(m + 1) <= first) ? a = m + 1 : b = m;
  }
  const std::int64_t q_lo = a;
  a = q_lo, b = space.queries;  // first query that starts at or after `last`
  while (a < b) {
    const std::int64_t m = a + (b - a) / 2;
    (space.start(m) < last) ? a = m + 1 : b = m;
  }
  return {q_lo, a};
}

std::int64_t StreamRun::queries_per_pass() const {
  return std::clamp<std::int64_t>(options.pass_pairs / std::max<std::int64_t>(1, space.targets),
                                  std::max(1, options.min_query_block),
                                  std::max({1, options.min_query_block, options.max_query_block}));
}

RunStats StreamRun::all_passes() {
  const auto [q_lo, q_hi] = queries_in_range();
  const std::int64_t per_pass = queries_per_pass();
  for (std::int64_t qa = q_lo; qa < q_hi; qa += per_pass) {
    Pass pass;
    open_pass(pass, qa, std::min<std::int64_t>(q_hi, qa + per_pass));
    if (!over_targets(pass)) {
      stats.stopped = true;
      return stats;
    }
    end_pass(pass);
  }
  return stats;
}

// Reads the queries of the pass and finds the targets they meet.
void StreamRun::open_pass(Pass &pass, std::int64_t qa, std::int64_t qb) {
  pass.qa = qa;
  pass.qb = qb;
  {
    RecordArena::Scope scope(pass.arena);
    pass.records = queries.load(static_cast<int>(qa), static_cast<int>(qb));
  }
  if (plain.min) {
    for (CPDMOL *m : pass.records) pass.profiles.push_back(make_profile(*m, by_element, index));
  }
  pass.tmin = space.targets;
  pass.tmax = 0;
  for (std::int64_t q = qa; q < qb; q++) {
    const auto [lo, hi] = target_range(q);
    if (lo >= hi) continue;
    if (pass.head < 0) pass.head = q;
    pass.tmin = std::min(pass.tmin, lo);
    pass.tmax = std::max(pass.tmax, hi);
  }
  pass.pending.resize(pass.size());
  if (top) pass.kept.resize(pass.size());
}

// The end of the block of targets that starts at ta.
std::int64_t StreamRun::block_end(const Pass &pass, std::int64_t ta) const {
  std::int64_t tb = ta + 1;
  while (tb < pass.tmax && tb - ta < options.target_block &&
         targets.bytes(static_cast<int>(ta), static_cast<int>(tb) + 1) <= options.block_bytes) {
    tb++;
  }
  return tb;
}

// The targets of the pass, block by block; false when the screen was stopped.
bool StreamRun::over_targets(Pass &pass) {
  const std::int64_t tmax = pass.tmax;
  std::int64_t tb = pass.tmin < tmax ? block_end(pass, pass.tmin) : pass.tmin;
  TargetBlock block;
  if (pass.tmin < tmax) block = load_block(targets, pass.tmin, tb);
  for (std::int64_t ta = pass.tmin; ta < tmax;) {
    // The next block is read while this one is compared, so that no core
    // waits for the reading. Declared after `block`: however the loop is
    // left, the reading ends before any records are released.
    const std::int64_t next_end = tb < tmax ? block_end(pass, tb) : tb;
    std::future<TargetBlock> next;
    if (tb < tmax && targets.loads_stay_valid())
      next = std::async(std::launch::async, load_block, std::ref(targets), tb, next_end);
    if (!compare_block(pass, ta, tb, block.records)) return false;
    spill_pending(pass);
    if (stop && stop()) return false;
    if (next.valid())
      block = next.get();
    else
      block = tb < tmax ? load_block(targets, tb, next_end) : TargetBlock{};
    ta = tb;
    tb = next_end;
  }
  return true;
}

// Every pair of the pass's queries with the targets [ta, tb); false when the
// screen was stopped.
bool StreamRun::compare_block(Pass &pass, std::int64_t ta, std::int64_t tb,
                              const std::vector<CPDMOL *> &trecs) {
  std::vector<AtomProfile> tprof;
  if (plain.min) {
    for (CPDMOL *m : trecs) tprof.push_back(make_profile(*m, by_element, index));
  }
  const PairRanges ranges = block_ranges(pass, ta, tb);
  const Emit emit = [&](const PairResult &r) { take_row(pass, ta, trecs, r); };
  const ChunkDone chunk_done = [&](int query, int end) {
    if (top || pass.qa + query != pass.head) return;
    sink.write(pass.direct);
    pass.direct.clear();
    sink.checkpoint(space.start(pass.head) + (ta + end - space.first(pass.head)));
  };
  Progress block_progress;
  if (progress) {
    block_progress = [&](std::int64_t done, std::int64_t) {
      progress(done_before + done, stats.pairs);
    };
  }
  const RunStats st = run_pairs(pass.records, trecs, ranges, plain, {pass.profiles, tprof}, emit,
                                chunk_done, block_progress, stop);
  stats.skipped += st.skipped;
  stats.skipped_clique += st.skipped_clique;
  done_before += st.pairs;
  return !st.stopped;
}

// The targets of each query of the pass within [ta, tb), counted from ta.
PairRanges StreamRun::block_ranges(const Pass &pass, std::int64_t ta, std::int64_t tb) const {
  PairRanges ranges;
  for (std::int64_t q = pass.qa; q < pass.qb; q++) {
    const auto [lo, hi] = target_range(q);
    const auto b = static_cast<int>(std::clamp(lo, ta, tb) - ta);
    const auto e = static_cast<int>(std::clamp(hi, ta, tb) - ta);
    ranges.begin.push_back(b);
    ranges.end.push_back(std::max(b, e));
    if (options.own_target) {
      const std::int64_t own = options.own_target(q);
      ranges.left_out.push_back(own >= ta + b && own < ta + e ? static_cast<int>(own - ta) : -1);
    }
  }
  return ranges;
}

// A kept result of the block that starts at ta: its row goes out, waits for
// its query's turn, or competes for the query's best rows.
void StreamRun::take_row(Pass &pass, std::int64_t ta, const std::vector<CPDMOL *> &trecs,
                         const PairResult &r) {
  PairResult g = r;
  g.query = static_cast<int>(pass.qa + r.query);
  g.target = static_cast<int>(ta + r.target);
  const auto lq = static_cast<std::size_t>(r.query);
  // A row that would not enter the query's best rows is not worth writing.
  std::vector<Kept> *best = top ? &pass.kept[lq] : nullptr;
  if (best != nullptr && best->size() >= k && !better(Kept{g, {}}, best->front())) return;
  std::string row;
  CPDMOL &qm = *pass.records[static_cast<std::size_t>(r.query)];
  CPDMOL &tm = *trecs[static_cast<std::size_t>(r.target)];
  std::optional<RowSubstructure> sub;
  if (options.substructure) sub = options.substructure(qm, tm);
  const RowSubstructure *shown = sub ? &*sub : nullptr;
  if (options.query_name) {
    const RowNames names{options.query_name(qm), options.target_name(tm)};
    append_row(row, options.format, g, qm.name, tm.name, &names, shown);
  } else {
    append_row(row, options.format, g, qm.name, tm.name, nullptr, shown);
  }
  if (top) {
    keep_best(*best, k, Kept{g, std::move(row)});
    return;
  }
  stats.kept++;
  if (options.on_kept) options.on_kept(g);
  (g.query == pass.head ? pass.direct : pass.pending[lq]) += row;
}

// The rows of the later queries, held until the pass ends.
void StreamRun::spill_pending(Pass &pass) {
  for (std::size_t q = 0; q < pass.size(); q++) {
    pass.spill.add(q, pass.pending[q]);
    pass.pending[q].clear();
  }
}

// The pass is complete: the later queries' rows follow in query order.
void StreamRun::end_pass(Pass &pass) {
  for (std::size_t q = 0; q < pass.size(); q++) {
    if (top) {
      write_best(pass.kept[q]);
    } else if (static_cast<std::int64_t>(pass.qa + q) != pass.head) {
      pass.spill.replay(q, sink);
    }
  }
  sink.checkpoint(std::min(last, space.start(pass.qb)));
}

// The best rows of a query, best first.
void StreamRun::write_best(std::vector<Kept> &rows) {
  std::sort(rows.begin(), rows.end(), better);
  std::string text;
  for (const Kept &r : rows) {
    text += r.row;
    if (options.on_kept) options.on_kept(r.result);
  }
  stats.kept += static_cast<std::int64_t>(rows.size());
  sink.write(text);
  rows.clear();
}

}  // namespace

RunStats run_stream(RecordSource &queries, RecordSource &targets, bool triangle, std::int64_t first,
                    std::int64_t last, const StreamOptions &options, RowSink &sink,
                    const Progress &progress, const StopRequested &stop) {
  StreamRun run(queries, targets, triangle, first, last, options, sink, progress, stop);
  return run.all_passes();
}

}  // namespace screen
