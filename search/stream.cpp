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
#include "search/checksum.h"

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

// Rows of later queries of a pass, kept in a file until their turn: an
// unnamed one, or the sink's, kept for a resume. Each piece of rows follows
// a line "R query bytes" (the query numbered in the whole list); with a
// selection of the best targets, each row that entered a query's best is
// logged after a line "K query result bytes", so that a resumed pass can
// find them again.
class Spill {
 public:
  Spill() = default;
  Spill(const Spill &) = delete;
  Spill &operator=(const Spill &) = delete;
  ~Spill() {
    if (owned_ && fp_ != nullptr) std::fclose(fp_);
  }
  // Where the rows go: the sink's file (emptied), else an unnamed one made
  // when the first rows come.
  void open(RowSink &sink) {
    fp_ = sink.spill_file(false);
    kept_ = fp_ != nullptr;
  }
  bool kept_for_resume() const { return kept_; }
  void add(std::size_t query, std::int64_t number, const std::string &rows) {
    if (rows.empty()) return;
    char line[64];
    std::snprintf(line, sizeof line, "R %lld %zu\n", static_cast<long long>(number), rows.size());
    put(line);
    if (segments_.size() <= query) segments_.resize(query + 1);
    segments_[query].push_back({end_, rows.size()});
    put(rows);
  }
  // A row that entered the best of its query, with its result.
  void log(const PairResult &r, const std::string &row) {
    char line[256];
    std::snprintf(line, sizeof line, "K %d %d %d %d %d %a %d %d %d %zu\n", r.query, r.target,
                  r.query_atoms, r.target_atoms, r.score, r.coefficient, r.status, r.status_count,
                  r.proven ? 1 : 0, row.size());
    put(line);
    put(row);
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
  // What the file holds so far, written through to it.
  std::pair<std::uint64_t, std::uint32_t> sum() {
    if (fp_ != nullptr && std::fflush(fp_) != 0) throw_errno(errno);
    return {end_, crc_};
  }
  // The sink's file as an interrupted pass [qa, ...) left it: its pieces
  // again, and its logged rows handed to `kept`.
  using KeptRow = std::function<void(const PairResult &, std::string row)>;
  void reopen(RowSink &sink, const PassPoint &point, std::int64_t qa, const KeptRow &kept);

 private:
  void put(std::string_view bytes) {
    if (fp_ == nullptr) {
      if ((fp_ = std::tmpfile()) == nullptr) throw_errno(errno);
      owned_ = true;
    }
    if (std::fwrite(bytes.data(), 1, bytes.size(), fp_) != bytes.size()) throw_errno(errno);
    end_ += bytes.size();
    if (kept_) crc_ = crc32_of(bytes, crc_);
  }

  FILE *fp_ = nullptr;
  bool owned_ = false;  // an unnamed file of its own
  bool kept_ = false;   // the sink's file
  std::uint64_t end_ = 0;
  std::uint32_t crc_ = 0;
  std::vector<std::vector<std::pair<std::uint64_t, std::size_t>>> segments_;
};

[[noreturn]] void bad_spill() {
  throw std::runtime_error("the spill file of the interrupted pass cannot be read back");
}

void Spill::reopen(RowSink &sink, const PassPoint &point, std::int64_t qa, const KeptRow &kept) {
  if ((fp_ = sink.spill_file(true)) == nullptr) bad_spill();
  kept_ = true;
  end_ = point.spill_bytes;
  crc_ = point.spill_crc;
  if (fseeko(fp_, 0, SEEK_SET) != 0) throw_errno(errno);
  std::uint64_t at = 0;
  std::string row;
  char line[256];
  while (at < end_) {
    if (std::fgets(line, sizeof line, fp_) == nullptr) bad_spill();
    at += std::strlen(line);
    char kind = 0;
    long long query = 0;
    std::size_t size = 0;
    PairResult r;
    int proven = 0, used = 0;
    if (std::sscanf(line, "R %lld %zu\n%n", &query, &size, &used) == 2 && line[used] == 0) {
      kind = 'R';
    } else if (std::sscanf(line, "K %d %d %d %d %d %la %d %d %d %zu\n%n", &r.query, &r.target,
                           &r.query_atoms, &r.target_atoms, &r.score, &r.coefficient, &r.status,
                           &r.status_count, &proven, &size, &used) == 10 &&
               line[used] == 0) {
      kind = 'K';
      query = r.query;
      r.proven = proven != 0;
    }
    if (kind == 0 || query >= point.qb || size > end_ - at) bad_spill();
    if (kind == 'R' && query >= qa) {
      const auto local = static_cast<std::size_t>(query - qa);
      if (segments_.size() <= local) segments_.resize(local + 1);
      segments_[local].push_back({at, size});
    }
    if (kind == 'K' && query >= qa) {
      row.resize(size);
      if (std::fread(row.data(), 1, size, fp_) != size) bad_spill();
      kept(r, row);
    } else if (fseeko(fp_, static_cast<off_t>(at + size), SEEK_SET) != 0) {
      throw_errno(errno);
    }
    at += size;
  }
  if (fseeko(fp_, 0, SEEK_END) != 0) throw_errno(errno);
}

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

// Keeps `item` in a heap of at most k rows, the worst kept row on top;
// false when it is not among them.
bool keep_best(std::vector<Kept> &heap, std::size_t k, Kept item) {
  if (heap.size() < k) {
    heap.push_back(std::move(item));
    std::push_heap(heap.begin(), heap.end(), better);
  } else if (better(item, heap.front())) {
    std::pop_heap(heap.begin(), heap.end(), better);
    heap.back() = std::move(item);
    std::push_heap(heap.begin(), heap.end(), better);
  } else {
    return false;
  }
  return true;
}

// The queries [qa, qb) of one pass over the targets, and their rows until
// the pass ends.
struct Pass {
  std::int64_t qa = 0, qb = 0;
  RecordArena arena;  // owns `records`
  std::vector<CPDMOL *> records;
  std::vector<AtomProfile> profiles;    // with a minimum
  std::vector<std::int64_t> lo, hi;     // each query's targets in this run
  std::vector<std::int64_t> done;       // each query's targets before this are done
  std::int64_t tmin = 0, tmax = 0;      // the targets that some query meets
  std::int64_t head = -1;               // the first query with pairs: its rows go out at once
  std::int64_t prefix = 0;              // the pairs whose rows are all written
  bool resumed = false;                 // taken on from an interrupted run's spill
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
  bool one_pass(std::int64_t qa, std::int64_t qb, const PassPoint *resumed);
  void open_pass(Pass &pass, std::int64_t qa, std::int64_t qb, const PassPoint *resumed);
  void reopen_spill(Pass &pass, const PassPoint &point);
  void record_pass(Pass &pass);
  void chunk_done(Pass &pass, std::int64_t ta, int query, int end);
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
  std::int64_t qa = q_lo;
  // An interrupted run may have stopped inside a pass: it goes on from there.
  if (const PassPoint *resumed = sink.resumed_pass(); resumed != nullptr && q_lo < q_hi) {
    if (resumed->qa > q_lo || resumed->qb <= q_lo || resumed->qb > q_hi ||
        resumed->done.size() != static_cast<std::size_t>(resumed->qb - resumed->qa)) {
      throw std::runtime_error("the resume state does not fit this screen");
    }
    if (!one_pass(q_lo, resumed->qb, resumed)) return stats;
    qa = resumed->qb;
  }
  for (; qa < q_hi; qa += per_pass) {
    if (!one_pass(qa, std::min<std::int64_t>(q_hi, qa + per_pass), nullptr)) return stats;
  }
  return stats;
}

// One pass over the targets; false when the screen was stopped, its work
// then kept by the sink as far as it went.
bool StreamRun::one_pass(std::int64_t qa, std::int64_t qb, const PassPoint *resumed) {
  Pass pass;
  open_pass(pass, qa, qb, resumed);
  if (!over_targets(pass)) {
    record_pass(pass);
    stats.stopped = true;
    return false;
  }
  end_pass(pass);
  return true;
}

// Reads the queries of the pass and finds the targets they meet; a resumed
// pass takes each query on where the interrupted run left it.
void StreamRun::open_pass(Pass &pass, std::int64_t qa, std::int64_t qb, const PassPoint *resumed) {
  pass.qa = qa;
  pass.qb = qb;
  pass.prefix = std::clamp(space.start(qa), first, last);
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
    auto [lo, hi] = target_range(q);
    if (resumed != nullptr) {
      const std::int64_t done = resumed->done[static_cast<std::size_t>(q - resumed->qa)];
      const std::int64_t from = std::clamp(done, lo, std::max(lo, hi));
      stats.pairs -= from - lo;  // done by the interrupted run
      lo = from;
    }
    pass.lo.push_back(lo);
    pass.hi.push_back(hi);
    pass.done.push_back(lo);
    if (lo >= hi) continue;
    if (pass.head < 0) pass.head = q;
    pass.tmin = std::min(pass.tmin, lo);
    pass.tmax = std::max(pass.tmax, hi);
  }
  pass.pending.resize(pass.size());
  if (top) pass.kept.resize(pass.size());
  if (resumed == nullptr) {
    pass.spill.open(sink);
  } else {
    // The first query of the range comes first, whether or not pairs of it
    // are left; its spilled rows go out now.
    pass.head = qa;
    pass.resumed = true;
    reopen_spill(pass, *resumed);
  }
}

// The spill of the interrupted pass, its rows and its queries' best again.
void StreamRun::reopen_spill(Pass &pass, const PassPoint &point) {
  pass.spill.reopen(sink, point, pass.qa, [&](const PairResult &r, std::string row) {
    if (top)
      keep_best(pass.kept[static_cast<std::size_t>(r.query - pass.qa)], k, {r, std::move(row)});
  });
  if (!top && point.head != pass.head) pass.spill.replay(0, sink);
}

// Hands the sink where the pass stands: every row computed so far is either
// written or in the spill file. A fresh pass that has kept nothing aside is
// only a point of the output.
void StreamRun::record_pass(Pass &pass) {
  bool aside = top || pass.resumed;
  for (std::size_t q = 0; q < pass.size() && !aside; q++) {
    aside = static_cast<std::int64_t>(pass.qa + q) != pass.head && pass.done[q] > pass.lo[q];
  }
  if (!aside || !pass.spill.kept_for_resume()) {
    sink.checkpoint(pass.prefix);
    return;
  }
  spill_pending(pass);
  const auto [bytes, crc] = pass.spill.sum();
  const PassPoint point{pass.qa, pass.qb, top ? -1 : pass.head, pass.done, bytes, crc};
  sink.pass_checkpoint(pass.prefix, &point);
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
    for (std::size_t q = 0; q < pass.size(); q++) {
      pass.done[q] = std::max(pass.done[q], std::clamp(tb, pass.lo[q], pass.hi[q]));
    }
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
  const ChunkDone done = [&](int query, int end) { chunk_done(pass, ta, query, end); };
  Progress block_progress;
  if (progress) {
    block_progress = [&](std::int64_t done, std::int64_t) {
      progress(done_before + done, stats.pairs);
    };
  }
  const RunStats st = run_pairs(pass.records, trecs, ranges, plain, {pass.profiles, tprof}, emit,
                                done, block_progress, stop);
  stats.skipped += st.skipped;
  stats.skipped_clique += st.skipped_clique;
  stats.done += st.done;
  done_before += st.pairs;
  return !st.stopped;
}

// The pairs of the block's local `query` before target ta + `end` are done:
// the head query's rows go out, and the pass is kept when a save is due.
void StreamRun::chunk_done(Pass &pass, std::int64_t ta, int query, int end) {
  const auto q = static_cast<std::size_t>(query);
  pass.done[q] = std::max(pass.done[q], ta + end);
  const bool head = !top && pass.qa + query == pass.head;
  if (head) {
    sink.write(pass.direct);
    pass.direct.clear();
    pass.prefix = space.start(pass.head) + (ta + end - space.first(pass.head));
  }
  if (sink.save_due()) {
    record_pass(pass);
  } else if (head) {
    sink.checkpoint(pass.prefix);
  }
}

// The targets of each query of the pass within [ta, tb), counted from ta.
PairRanges StreamRun::block_ranges(const Pass &pass, std::int64_t ta, std::int64_t tb) const {
  PairRanges ranges;
  for (std::int64_t q = pass.qa; q < pass.qb; q++) {
    const auto lq = static_cast<std::size_t>(q - pass.qa);
    const std::int64_t lo = pass.lo[lq], hi = pass.hi[lq];
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
    // Logged only for a resume: in memory the best are all a pass needs.
    if (pass.spill.kept_for_resume()) {
      if (keep_best(*best, k, Kept{g, row})) pass.spill.log(g, row);
    } else {
      keep_best(*best, k, Kept{g, std::move(row)});
    }
    return;
  }
  stats.kept++;
  if (options.on_kept) options.on_kept(g);
  (g.query == pass.head ? pass.direct : pass.pending[lq]) += row;
}

// The rows of the later queries, held until the pass ends.
void StreamRun::spill_pending(Pass &pass) {
  for (std::size_t q = 0; q < pass.size(); q++) {
    pass.spill.add(q, pass.qa + static_cast<std::int64_t>(q), pass.pending[q]);
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
  sink.pass_checkpoint(std::min(last, space.start(pass.qb)), nullptr);
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
