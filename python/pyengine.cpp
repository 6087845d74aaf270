#include "pyengine.h"

#include <sched.h>

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
}

}  // namespace

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
                                " (expected a whole number)");
  }
  if (limit < INT_MIN || limit > INT_MAX) {
    throw std::invalid_argument("bad value for limit: " + std::to_string(limit) +
                                " (expected a whole number)");
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
  switch (r.status) {
    case kStatusComputed:
      return "ok";
    case kStatusNoAtoms:
      return "no-atoms";
    case kStatusEmptyGraph:
      return "no-match";
    case kStatusGraphTooLarge:
      return "too-large:" + std::to_string(r.status_count);
    case kStatusCliquesCut:
      return "cut:" + std::to_string(r.status_count);
    default:
      return "missing";
  }
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

std::vector<screen::PairResult> run(const std::vector<CPDMOL *> &queries,
                                    const std::vector<CPDMOL *> &targets, bool triangle,
                                    const ScreenOptions &options, const Progress &progress,
                                    int tick_ms) {
  const int nq = static_cast<int>(queries.size());
  const int nt = static_cast<int>(targets.size());
  const int chunk = std::max(1, options.chunk);
  auto first_target = [&](int q) { return triangle ? q + 1 : 0; };
  std::int64_t total = 0;
  for (int q = 0; q < nq; q++) total += std::max(0, nt - first_target(q));

  // Profiles for the bound, built before the workers start so they only read.
  std::vector<screen::AtomProfile> qp, tp;
  if (options.min) {
    screen::KeyIndex index;
    for (CPDMOL *m : queries) qp.push_back(screen::make_profile(*m, options.engine.atom, index));
    for (CPDMOL *m : targets) tp.push_back(screen::make_profile(*m, options.engine.atom, index));
  }
  const screen::EngineConfig config{options.engine.atom ? 2 : 1, options.engine.trick ? 8 : 1,
                                    options.engine.repeat, options.engine.limit};

  // Chunks of consecutive targets of one query go out in pair order; results
  // come back into a window of slots and are taken in order, so the rows never
  // depend on the number of threads and waiting results stay bounded.
  struct Slot {
    bool ready = false;
    std::int64_t pairs = 0;
    std::vector<screen::PairResult> rows;
  };
  const std::size_t window = 64 * static_cast<std::size_t>(std::max(1, options.threads)) + 64;
  std::vector<Slot> slots(window);
  std::mutex mutex;
  std::condition_variable work_cv, done_cv;
  int next_query = 0, next_target = nq > 0 ? first_target(0) : 0;
  std::int64_t handed = 0, taken = 0;
  bool stop = false;
  std::exception_ptr failure;

  auto work = [&] {
    try {
      screen::init_engine(config);
      for (;;) {
        int q = 0, begin = 0, end = 0;
        std::int64_t seq = 0;
        {
          std::unique_lock lock(mutex);
          work_cv.wait(lock, [&] { return stop || handed < taken + std::int64_t(window); });
          while (next_query < nq && next_target >= nt) {
            if (++next_query < nq) next_target = first_target(next_query);
          }
          if (stop || next_query >= nq) return;
          q = next_query;
          begin = next_target;
          end = std::min(nt, begin + chunk);
          next_target = end;
          seq = handed++;
        }
        Slot out;
        out.pairs = end - begin;
        for (int t = begin; t < end; t++) {
          if (options.min && screen::below_bound(qp[q], tp[t], *options.min)) continue;
          screen::PairResult r = screen::compare_pair(queries[q], targets[t]);
          if (options.min && r.coefficient < *options.min) continue;
          r.query = q;
          r.target = t;
          out.rows.push_back(r);
        }
        {
          std::lock_guard lock(mutex);
          out.ready = true;
          slots[static_cast<std::size_t>(seq) % window] = std::move(out);
        }
        done_cv.notify_all();
      }
    } catch (...) {
      {
        std::lock_guard lock(mutex);
        if (!failure) failure = std::current_exception();
        stop = true;
      }
      work_cv.notify_all();
      done_cv.notify_all();
    }
  };

  std::int64_t chunks = 0;
  for (int q = 0; q < nq; q++) chunks += (std::max(0, nt - first_target(q)) + chunk - 1) / chunk;

  std::vector<screen::PairResult> rows;
  screen::TopSelector selector(options.top,
                               [&](const screen::PairResult &r) { rows.push_back(r); });
  std::vector<std::thread> workers;
  auto stop_workers = [&] {
    {
      std::lock_guard lock(mutex);
      stop = true;
    }
    work_cv.notify_all();
    for (std::thread &w : workers) w.join();
    workers.clear();
  };
  std::int64_t done = 0;
  try {
    if (progress && !progress(0, total)) throw ScreenStopped{};
    const auto threads = std::min<std::int64_t>(std::max(1, options.threads), chunks);
    for (std::int64_t k = 0; k < threads; k++) workers.emplace_back(work);
    while (taken < chunks) {
      {
        std::unique_lock lock(mutex);
        done_cv.wait_for(lock, std::chrono::milliseconds(tick_ms), [&] {
          return stop || slots[static_cast<std::size_t>(taken) % window].ready;
        });
        if (stop) break;
        // Take every chunk that is ready in order.
        while (taken < chunks) {
          Slot &slot = slots[static_cast<std::size_t>(taken) % window];
          if (!slot.ready) break;
          done += slot.pairs;
          for (const screen::PairResult &r : slot.rows) selector.add(r);
          slot = Slot{};
          taken++;
        }
      }
      work_cv.notify_all();
      if (progress && !progress(done, total)) throw ScreenStopped{};
    }
  } catch (...) {
    stop_workers();
    throw;
  }
  stop_workers();
  if (failure) std::rethrow_exception(failure);
  selector.finish();
  return rows;
}

}  // namespace pyengine
