#include "pyengine.h"

#include <sched.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>

#include "depict/depict.h"
#include "exe1.h"
#include "qtrscan.h"

namespace pyengine {

namespace {

// Blank-separated fields of a record line, its line end excluded.
std::vector<std::string_view> fields(const char *line) {
  std::vector<std::string_view> out;
  if (line == nullptr) return out;
  std::string_view s(line);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.remove_suffix(1);
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) i++;
    const std::size_t start = i;
    while (i < s.size() && s[i] != ' ' && s[i] != '\t') i++;
    if (i > start) out.push_back(s.substr(start, i - start));
  }
  return out;
}

// A whole field read as a number; nullopt for anything else.
std::optional<double> real_field(const std::vector<std::string_view> &f, std::size_t k) {
  if (k >= f.size()) return std::nullopt;
  const std::string text(f[k]);
  char *end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0') return std::nullopt;
  return v;
}

std::optional<int> int_field(const std::vector<std::string_view> &f, std::size_t k) {
  if (k >= f.size()) return std::nullopt;
  const std::string text(f[k]);
  char *end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || *end != '\0' || errno != 0 || v < INT_MIN || v > INT_MAX) {
    return std::nullopt;
  }
  return static_cast<int>(v);
}

// Reads every record of the stream into a fresh arena and prepares them.
std::vector<Record> read_into_arena(FILE *fp, const std::string &source, bool check_stream) {
  auto arena = std::make_shared<RecordArena>(true);
  std::vector<Record> out;
  {
    RecordArena::Scope use(*arena);
    errno = 0;
    while (CPDMOL *mol = read_CPDMOL_QTR(fp)) out.push_back({arena, mol});
    // A stream that fails while being read (a directory, an I/O error) would
    // otherwise look like one without records.
    if (check_stream && std::ferror(fp)) {
      throw std::system_error(errno != 0 ? errno : EIO, std::generic_category(), source);
    }
    std::vector<CPDMOL *> mols;
    for (const Record &r : out) mols.push_back(r.mol);
    screen::prepare_records(mols);
  }
  if (out.empty()) throw NoRecords(source + ": no compound records");
  return out;
}

// A stream collecting what is written to it, released however the scope ends.
class MemoryStream {
 public:
  MemoryStream() : fp_(open_memstream(&data_, &size_)) {
    if (fp_ == nullptr) throw std::bad_alloc();
  }
  ~MemoryStream() {
    if (fp_ != nullptr) std::fclose(fp_);
    std::free(data_);
  }
  MemoryStream(const MemoryStream &) = delete;
  MemoryStream &operator=(const MemoryStream &) = delete;

  FILE *get() const { return fp_; }
  std::string text() {
    const bool failed = std::fclose(fp_) != 0;
    fp_ = nullptr;
    if (failed) throw std::bad_alloc();
    return std::string(data_, size_);
  }

 private:
  char *data_ = nullptr;
  std::size_t size_ = 0;
  FILE *fp_;
};

void init(const Options &o, int output_mode) {
  init_exe1(o.atom ? 2 : 1, o.trick ? 8 : 1, output_mode, o.repeat, o.limit);
  exe1_set_time_limit(o.time_limit);
}

}  // namespace

std::string cut_record(int fd) {
  if (lseek(fd, 0, SEEK_SET) < 0) return {};
  qtrscan::Scanner scanner(fd);
  qtrscan::Record rec;
  std::string cut;
  while (scanner.next(rec)) cut = rec.cut ? rec.name : std::string();
  return cut;
}

std::string cut_record_of_text(const std::string &text) {
  // The scanner reads a file: the text goes into one held in memory.
  const int fd = memfd_create("qtr", MFD_CLOEXEC);
  if (fd < 0) return {};
  std::string cut;
  std::size_t at = 0;
  while (at < text.size()) {
    const ssize_t n = write(fd, text.data() + at, text.size() - at);
    if (n <= 0) break;
    at += static_cast<std::size_t>(n);
  }
  if (at == text.size()) cut = cut_record(fd);
  close(fd);
  return cut;
}

std::vector<Record> read_records(FILE *fp, const std::string &source) {
  return read_into_arena(fp, source, true);
}

std::vector<Record> parse_records(const std::string &text, const std::string &source) {
  if (text.empty()) throw NoRecords(source + ": no compound records");
  FILE *fp = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
  if (fp == nullptr) throw std::bad_alloc();
  struct Close {
    FILE *fp;
    ~Close() { std::fclose(fp); }
  } close{fp};
  return read_into_arena(fp, source, false);
}

std::vector<Atom> atoms_of(const CPDMOL &mol) {
  std::vector<Atom> out;
  for (int k = 0; k < mol.nodenum; k++) {
    Atom a;
    a.number = k + 1;
    if (mol.cnode != nullptr) {
      a.type = mol.cnode[k].nid != nullptr ? mol.cnode[k].nid : "";
      a.element = mol.cnode[k].aid != nullptr ? mol.cnode[k].aid : "";
    }
    const auto f = fields(static_cast<const char *>(complist_getdata(mol.node, k + 1)));
    a.x = real_field(f, 3);
    a.y = real_field(f, 4);
    out.push_back(std::move(a));
  }
  return out;
}

std::vector<Bond> bonds_of(const CPDMOL &mol) {
  std::vector<Bond> out;
  const int n = mol.connect != nullptr ? complist_numberof(mol.connect) : 0;
  for (int k = 1; k <= n; k++) {
    const auto f = fields(static_cast<const char *>(complist_getdata(mol.connect, k)));
    const auto a = int_field(f, 1), b = int_field(f, 2);
    // The engine ignores lines that do not name two of the record's atoms.
    if (!a || !b || *a < 1 || *a > mol.nodenum || *b < 1 || *b > mol.nodenum) continue;
    out.push_back({*a, *b, int_field(f, 3)});
  }
  return out;
}

Options make_options(bool atom, bool trick, long long repeat, long long limit) {
  if (repeat < INT_MIN || repeat > INT_MAX) {
    throw std::invalid_argument("bad value for repeat: " + std::to_string(repeat) +
                                " (expected a whole number from -2147483648 to 2147483647)");
  }
  if (limit < INT_MIN || limit > INT_MAX) {
    throw std::invalid_argument("bad value for limit: " + std::to_string(limit) +
                                " (expected a whole number from -2147483648 to 2147483647; "
                                "values outside 1 to 10000 mean the full capacity)");
  }
  Options o;
  o.atom = atom;
  o.trick = trick;
  o.repeat = static_cast<int>(repeat);
  // Values outside 1..CPD_MAX mean the full capacity, as in taviron.
  o.limit = (limit < 1 || limit > CPD_MAX) ? CPD_MAX : static_cast<int>(limit);
  return o;
}

screen::PairResult compare(CPDMOL *a, CPDMOL *b, const Options &options) {
  init(options, 1);
  return screen::compare_pair(a, b);
}

std::string status_word(const screen::PairResult &r) {
  return screen::status_text(r);  // the screens' words
}

std::string report(CPDMOL *a, CPDMOL *b, const Options &options, ReportForm form) {
  // taviron builds the atom environments only once the computation gets that
  // far; a record without atom lines stops it before, and taviron then shows
  // the other record's count of atom lines. Our records are prepared, so the
  // report works on copies that show what taviron's unprepared records hold.
  CPDMOL ca = *a, cb = *b;
  if (a->nodenum <= 0 || b->nodenum <= 0) {
    ca.nodenum_sub = ca.nodenum;
    cb.nodenum_sub = cb.nodenum;
  }
  const int mode = form == ReportForm::kQtr ? 32 : form == ReportForm::kAlign ? 4 : 1;
  init(options, mode);
  compute_similarity(&ca, &cb);
  MemoryStream out;
  output_similarity(out.get());
  return out.text();
}

std::vector<AlignedPair> alignment(CPDMOL *a, CPDMOL *b, const Options &options) {
  const std::string text = report(a, b, options, ReportForm::kAlign);
  // Lines "A:[type]\tB:[type]\t## SCCS P..." follow the "Alignment:" line;
  // types never hold blanks or tabs, so the fields split cleanly.
  std::vector<AlignedPair> out;
  bool in_alignment = false;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!in_alignment) {
      in_alignment = line.rfind("Alignment:", 0) == 0;
      continue;
    }
    const std::size_t tab1 = line.find('\t');
    const std::size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
    const std::size_t piece = line.find(" SCCS ", tab2 == std::string::npos ? 0 : tab2);
    if (tab2 == std::string::npos || piece == std::string::npos) {
      throw std::runtime_error("unexpected alignment line: " + line);
    }
    out.push_back({std::atoi(line.c_str()), std::atoi(line.c_str() + tab1 + 1),
                   std::atoi(line.c_str() + piece + 6)});
  }
  return out;
}

std::string depiction(CPDMOL *a, CPDMOL *b, const Options &options,
                      std::span<const int> hydrogens_a, std::span<const int> hydrogens_b) {
  init(options, 1);
  const depict::PairInfo info = depict::compute_pair(a, b);
  return depict::pair_svg(*a, *b, info, {}, hydrogens_a, hydrogens_b);
}

int processors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

namespace {

// Results of one chunk, waiting in the window to be taken in order.
struct Slot {
  bool ready = false;
  std::int64_t pairs = 0;
  std::vector<screen::PairResult> rows;
};

// Consecutive targets [begin, end) of query q: the unit of work, number seq.
struct Chunk {
  int q = 0, begin = 0, end = 0;
  std::int64_t seq = 0;
};

// The worker threads of a screen. Chunks of consecutive targets of one
// query go out in pair order; results come back into a window of slots and
// are taken in order, so the rows never depend on the number of threads
// and waiting results stay bounded. The destructor stops and joins the
// workers, however the screen ends.
class ScreenWorkers {
 public:
  ScreenWorkers(const std::vector<CPDMOL *> &queries, const std::vector<CPDMOL *> &targets,
                bool triangle, const ScreenOptions &options);
  ~ScreenWorkers() { stop(); }
  ScreenWorkers(const ScreenWorkers &) = delete;
  ScreenWorkers &operator=(const ScreenWorkers &) = delete;

  std::int64_t total() const { return total_; }  // pairs of the screen
  bool all_taken() const { return taken_ >= chunks_; }
  void start();
  // Waits up to `tick_ms` for the next chunk, then hands every chunk that is
  // ready, in order, to `selector` and counts its pairs in `done`; false
  // when the screen stops (a worker failed).
  bool take_ready(int tick_ms, screen::TopSelector &selector, std::int64_t &done);
  void stop();
  // What a worker threw, once the workers are stopped.
  void rethrow_failure() const;

 private:
  int first_target(int q) const { return triangle_ ? q + 1 : 0; }
  void work();
  bool next_chunk(Chunk &c);
  Slot compute(const Chunk &c) const;
  void store(const Chunk &c, Slot out);

  const std::vector<CPDMOL *> &queries_;
  const std::vector<CPDMOL *> &targets_;
  const bool triangle_;
  const ScreenOptions &options_;
  const int nq_, nt_, chunk_;
  std::int64_t total_ = 0, chunks_ = 0;
  std::vector<screen::AtomProfile> qp_, tp_;  // for the bound, with a minimum
  screen::EngineConfig config_;
  const std::size_t window_;
  std::vector<Slot> slots_;
  std::mutex mutex_;
  std::condition_variable work_cv_, done_cv_;
  int next_query_ = 0, next_target_ = 0;
  std::int64_t handed_ = 0, taken_ = 0;
  bool stop_ = false;
  std::exception_ptr failure_;
  std::vector<std::thread> threads_;
};

ScreenWorkers::ScreenWorkers(const std::vector<CPDMOL *> &queries,
                             const std::vector<CPDMOL *> &targets, bool triangle,
                             const ScreenOptions &options)
    : queries_(queries),
      targets_(targets),
      triangle_(triangle),
      options_(options),
      nq_(static_cast<int>(queries.size())),
      nt_(static_cast<int>(targets.size())),
      chunk_(std::max(1, options.chunk)),
      config_{options.engine.atom ? 2 : 1, options.engine.trick ? 8 : 1, options.engine.repeat,
              options.engine.limit, options.engine.time_limit},
      window_(64 * static_cast<std::size_t>(std::max(1, options.threads)) + 64),
      slots_(window_),
      next_target_(nq_ > 0 ? first_target(0) : 0) {
  for (int q = 0; q < nq_; q++) total_ += std::max(0, nt_ - first_target(q));
  // Profiles for the bound, built before the workers start so they only read.
  if (options.min) {
    screen::KeyIndex index;
    for (CPDMOL *m : queries) qp_.push_back(screen::make_profile(*m, options.engine.atom, index));
    for (CPDMOL *m : targets) tp_.push_back(screen::make_profile(*m, options.engine.atom, index));
  }
  for (int q = 0; q < nq_; q++) {
    chunks_ += (std::max(0, nt_ - first_target(q)) + chunk_ - 1) / chunk_;
  }
}

void ScreenWorkers::start() {
  const auto threads = std::min<std::int64_t>(std::max(1, options_.threads), chunks_);
  for (std::int64_t k = 0; k < threads; k++) threads_.emplace_back([this] { work(); });
}

void ScreenWorkers::work() {
  try {
    screen::init_engine(config_);
    Chunk c;
    while (next_chunk(c)) store(c, compute(c));
  } catch (...) {
    {
      std::lock_guard lock(mutex_);
      if (!failure_) failure_ = std::current_exception();
      stop_ = true;
    }
    work_cv_.notify_all();
    done_cv_.notify_all();
  }
}

// The next chunk in pair order, once the window has room for it.
bool ScreenWorkers::next_chunk(Chunk &c) {
  std::unique_lock lock(mutex_);
  work_cv_.wait(lock, [&] { return stop_ || handed_ < taken_ + std::int64_t(window_); });
  while (next_query_ < nq_ && next_target_ >= nt_) {
    if (++next_query_ < nq_) next_target_ = first_target(next_query_);
  }
  if (stop_ || next_query_ >= nq_) return false;
  c.q = next_query_;
  c.begin = next_target_;
  c.end = std::min(nt_, c.begin + chunk_);
  next_target_ = c.end;
  c.seq = handed_++;
  return true;
}

// The pairs of a chunk on the calling worker's engine: the rows the bound
// and the minimum keep.
Slot ScreenWorkers::compute(const Chunk &c) const {
  Slot out;
  out.pairs = c.end - c.begin;
  for (int t = c.begin; t < c.end; t++) {
    if (options_.min && screen::below_bound(qp_[c.q], tp_[t], *options_.min)) continue;
    screen::PairResult r = screen::compare_pair(queries_[c.q], targets_[t]);
    if (options_.min && r.coefficient < *options_.min) continue;
    r.query = c.q;
    r.target = t;
    out.rows.push_back(r);
  }
  return out;
}

void ScreenWorkers::store(const Chunk &c, Slot out) {
  {
    std::lock_guard lock(mutex_);
    out.ready = true;
    slots_[static_cast<std::size_t>(c.seq) % window_] = std::move(out);
  }
  done_cv_.notify_all();
}

bool ScreenWorkers::take_ready(int tick_ms, screen::TopSelector &selector, std::int64_t &done) {
  {
    std::unique_lock lock(mutex_);
    done_cv_.wait_for(lock, std::chrono::milliseconds(tick_ms), [&] {
      return stop_ || slots_[static_cast<std::size_t>(taken_) % window_].ready;
    });
    if (stop_) return false;
    // Take every chunk that is ready in order.
    while (taken_ < chunks_) {
      Slot &slot = slots_[static_cast<std::size_t>(taken_) % window_];
      if (!slot.ready) break;
      done += slot.pairs;
      for (const screen::PairResult &r : slot.rows) selector.add(r);
      slot = Slot{};
      taken_++;
    }
  }
  work_cv_.notify_all();
  return true;
}

void ScreenWorkers::stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  work_cv_.notify_all();
  for (std::thread &w : threads_) w.join();
  threads_.clear();
}

void ScreenWorkers::rethrow_failure() const {
  if (failure_) std::rethrow_exception(failure_);
}

}  // namespace

std::vector<screen::PairResult> run(const std::vector<CPDMOL *> &queries,
                                    const std::vector<CPDMOL *> &targets, bool triangle,
                                    const ScreenOptions &options, const Progress &progress,
                                    int tick_ms) {
  std::vector<screen::PairResult> rows;
  screen::TopSelector selector(options.top,
                               [&](const screen::PairResult &r) { rows.push_back(r); });
  ScreenWorkers workers(queries, targets, triangle, options);
  std::int64_t done = 0;
  if (progress && !progress(0, workers.total())) throw ScreenStopped{};
  workers.start();
  while (!workers.all_taken()) {
    if (!workers.take_ready(tick_ms, selector, done)) break;
    if (progress && !progress(done, workers.total())) throw ScreenStopped{};
  }
  workers.stop();
  workers.rethrow_failure();
  selector.finish();
  return rows;
}

std::vector<screen::PairResult> run_counted(const std::vector<CPDMOL *> &queries,
                                            const std::vector<CPDMOL *> &targets, bool triangle,
                                            const ScreenOptions &options, const Progress &progress,
                                            ScreenCounts &counts, int tick_ms) {
  screen::RunOptions ro;
  ro.engine = {options.engine.atom ? 2 : 1, options.engine.trick ? 8 : 1, options.engine.repeat,
               options.engine.limit, options.engine.time_limit};
  ro.min = options.min;
  ro.threads = options.threads;
  ro.chunk = options.chunk;
  screen::PairRanges ranges;
  const int nt = static_cast<int>(targets.size());
  for (int q = 0; q < static_cast<int>(queries.size()); q++) {
    ranges.begin.push_back(triangle ? std::min(q + 1, nt) : 0);
    ranges.end.push_back(nt);
  }
  // Profiles for the atom-count bound, built before the workers start.
  std::vector<screen::AtomProfile> qp, tp;
  if (options.min) {
    screen::KeyIndex index;
    for (CPDMOL *m : queries) qp.push_back(screen::make_profile(*m, options.engine.atom, index));
    for (CPDMOL *m : targets) tp.push_back(screen::make_profile(*m, options.engine.atom, index));
  }
  std::vector<screen::PairResult> rows;
  screen::TopSelector selector(options.top,
                               [&](const screen::PairResult &r) { rows.push_back(r); });
  // The screens' loop reports pairs done now and then and asks between
  // chunks whether to stop; the caller hears of both at its own pace.
  std::int64_t done = 0;
  const std::int64_t total = ranges.total();
  auto last = std::chrono::steady_clock::now();
  const auto stop = [&] {
    if (!progress || std::chrono::steady_clock::now() - last < std::chrono::milliseconds(tick_ms))
      return false;
    last = std::chrono::steady_clock::now();
    return !progress(done, total);
  };
  if (progress && !progress(0, total)) throw ScreenStopped{};
  const screen::RunStats stats = screen::run_pairs(
      queries, targets, ranges, ro, {qp, tp}, [&](const screen::PairResult &r) { selector.add(r); },
      {}, [&](std::int64_t d, std::int64_t) { done = d; }, stop);
  if (stats.stopped) throw ScreenStopped{};
  selector.finish();
  counts = {stats.pairs, stats.skipped - stats.skipped_clique, stats.skipped_clique, stats.kept};
  if (progress && !progress(total, total)) throw ScreenStopped{};
  return rows;
}

}  // namespace pyengine
