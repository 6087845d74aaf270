#include "search/screen.h"

#include <sched.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <map>
#include <mutex>
#include <thread>
#include <tuple>

#include "cpdio.h"
#include "exe1.h"

namespace screen {

// ---------------------------------------------------------------------------
// One pair

void prepare_records(std::span<CPDMOL *const> mols) {
  for (CPDMOL *mol : mols) {
    if (mol == nullptr) continue;
    if (mol->cnode == nullptr) cnode_CPDMOL(mol);
    if (mol->matrix == nullptr) matrix_CPDMOL(mol);
  }
}

void init_engine(const EngineConfig &config) {
  // Output mode 1: the score line, which is all a screen reports.
  init_exe1(config.atom_mode, config.exec_mode, 1, config.maxrepeat, config.limit);
  exe1_set_time_limit(config.time_limit);
}

double coefficient(int pairs, int atoms_a, int atoms_b) {
  const int union_atoms = atoms_a + atoms_b - pairs;
  return union_atoms > 0 ? static_cast<double>(pairs) / union_atoms : 0.0;
}

namespace {

// The result of the engine's last computation.
PairResult engine_result(CPDMOL *query, CPDMOL *target) {
  const Exe1State &st = exe1_state();
  PairResult r;
  r.status = st.status;
  if (st.status == kStatusMissingRecord) return r;
  r.query_atoms = query->nodenum_sub;
  r.target_atoms = target->nodenum_sub;
  // The score and coefficient as the report derives them: from the final
  // clique size, which the extension may have changed.
  r.score = st.mcs_max;
  const bool usable = st.status == kStatusComputed || st.status == kStatusCliquesCut;
  r.coefficient = usable ? coefficient(st.mcs_max, r.query_atoms, r.target_atoms) : 0.0;
  if (st.status == kStatusGraphTooLarge) r.status_count = st.nodenum;
  if (st.status == kStatusCliquesCut) r.status_count = st.mcsnum_overflow;
  r.proven = !(usable && st.search_cut);
  return r;
}

}  // namespace

PairResult compare_pair(CPDMOL *query, CPDMOL *target) {
  dock_pair(query, target);
  compute_docked(false);
  return engine_result(query, target);
}

namespace {
// Branches the bound's own clique search may take before it gives up.
constexpr long long kCliqueSearchBudget = 1000;
}  // namespace

bool clique_bound_valid(const EngineConfig &config) {
  return config.exec_mode != 8;
}

std::optional<PairResult> compare_pair_above(CPDMOL *query, CPDMOL *target, double min) {
  // Docked first in any case: the search goes on from the same graph.
  const bool searched = dock_pair(query, target);
  if (searched && exe1_state().exec_mode != 8) {
    const int a = query->nodenum_sub;
    const int b = target->nodenum_sub;
    // The largest score whose coefficient is still below the minimum.
    int enough = -1;
    while (enough < std::min(a, b) && coefficient(enough + 1, a, b) < min) ++enough;
    // A colouring settles most pairs; a short search pruned by colourings
    // settles most of the rest.
    if (enough >= 0 && (docked_clique_bound(enough) <= enough ||
                        !docked_clique_above(enough, kCliqueSearchBudget)))
      return std::nullopt;
  }
  compute_docked(false);
  return engine_result(query, target);
}

// ---------------------------------------------------------------------------
// Upper bound on the coefficient

int KeyIndex::id(const char *text) {
  // A missing string equals nothing, not even another missing one.
  if (text == nullptr) return --missing_;
  return ids_.try_emplace(text, static_cast<int>(ids_.size())).first->second;
}

AtomProfile make_profile(const CPDMOL &mol, bool by_element, KeyIndex &index) {
  AtomProfile p;
  p.by_element = by_element;
  p.atoms = mol.nodenum_sub;
  if (mol.cnode == nullptr) return p;
  std::map<std::tuple<bool, int, int>, int> classes;
  std::map<int, int> keys;
  for (int i = 0; i < mol.nodenum; i++) {
    const CNODE &c = mol.cnode[i];
    if (c.HAflag) continue;
    const bool marked = c.RAneighbor != 0;
    const int nid = index.id(c.nid);
    const int aid = index.id(c.aid);
    p.has_marked = p.has_marked || marked;
    classes[{marked, nid, aid}]++;
    keys[by_element ? aid : nid]++;
  }
  p.keys.assign(keys.begin(), keys.end());
  for (const auto &[k, count] : classes) {
    p.classes.push_back({std::get<1>(k), std::get<2>(k), std::get<0>(k), count});
  }
  return p;
}

namespace {

// Sum of the smaller count per key: the matching when atoms pair by key equality.
int common_keys(const AtomProfile &a, const AtomProfile &b) {
  int pairs = 0;
  auto i = a.keys.begin();
  auto j = b.keys.begin();
  while (i != a.keys.end() && j != b.keys.end()) {
    if (i->first < j->first) {
      ++i;
    } else if (j->first < i->first) {
      ++j;
    } else {
      pairs += std::min(i->second, j->second);
      ++i;
      ++j;
    }
  }
  return pairs;
}

// The network of the largest matching between the classes of two
// compounds: the first compound's classes (capacity: their atom counts)
// joined through every compatible class pair (unbounded) to the second's.
// Nodes 0..nl-1 are left classes, nl..nl+nr-1 right classes.
class ClassFlow {
 public:
  ClassFlow(const AtomProfile &a, const AtomProfile &b);
  // The maximum flow, by shortest augmenting paths.
  int max_flow();

 private:
  int find_path();
  int bottleneck(int sink) const;
  void augment(int sink, int amount);

  std::size_t nl, nr;
  std::vector<char> compatible;  // nl x nr
  std::vector<int> flow;         // nl x nr: atoms paired along each class pair
  std::vector<int> left, right;  // atoms not yet paired
  std::vector<int> parent;       // of the last search: -2 unseen, -1 source
  std::vector<int> queue;
};

ClassFlow::ClassFlow(const AtomProfile &a, const AtomProfile &b)
    : nl(a.classes.size()),
      nr(b.classes.size()),
      compatible(nl * nr),
      flow(nl * nr, 0),
      left(nl),
      right(nr),
      parent(nl + nr) {
  for (std::size_t u = 0; u < nl; u++) {
    for (std::size_t v = 0; v < nr; v++) {
      const AtomClass &x = a.classes[u];
      const AtomClass &y = b.classes[v];
      const bool element_key = a.by_element || x.by_element || y.by_element;
      compatible[u * nr + v] = element_key ? x.aid == y.aid : x.nid == y.nid;
    }
  }
  for (std::size_t u = 0; u < nl; u++) left[u] = a.classes[u].count;
  for (std::size_t v = 0; v < nr; v++) right[v] = b.classes[v].count;
}

int ClassFlow::max_flow() {
  int total = 0;
  for (;;) {
    const int sink = find_path();
    if (sink < 0) return total;
    const int amount = bottleneck(sink);
    augment(sink, amount);
    total += amount;
  }
}

// A shortest path from a left class with free atoms to a right class with
// free atoms (breadth first): its right end, or -1 when there is none.
int ClassFlow::find_path() {
  std::fill(parent.begin(), parent.end(), -2);
  queue.clear();
  for (std::size_t u = 0; u < nl; u++) {
    if (left[u] > 0) {
      parent[u] = -1;
      queue.push_back(static_cast<int>(u));
    }
  }
  for (std::size_t head = 0; head < queue.size(); head++) {
    const int node = queue[head];
    if (node < static_cast<int>(nl)) {
      for (std::size_t v = 0; v < nr; v++) {
        const int w = static_cast<int>(nl + v);
        if (parent[w] != -2 || !compatible[node * nr + v]) continue;
        parent[w] = node;
        if (right[v] > 0) return w;
        queue.push_back(w);
      }
    } else {
      const std::size_t v = static_cast<std::size_t>(node) - nl;
      for (std::size_t u = 0; u < nl; u++) {
        if (parent[u] != -2 || flow[u * nr + v] == 0) continue;
        parent[u] = node;
        queue.push_back(static_cast<int>(u));
      }
    }
  }
  return -1;
}

// The free atoms at both ends and every pairing undone on the way.
int ClassFlow::bottleneck(int sink) const {
  int amount = right[static_cast<std::size_t>(sink) - nl];
  int node = sink;
  while (parent[node] != -1) {
    const int from = parent[node];
    if (from >= static_cast<int>(nl)) {  // a step back along a used pairing
      amount = std::min(
          amount,
          flow[static_cast<std::size_t>(node) * nr + (static_cast<std::size_t>(from) - nl)]);
    }
    node = from;
  }
  return std::min(amount, left[static_cast<std::size_t>(node)]);
}

void ClassFlow::augment(int sink, int amount) {
  int node = sink;
  while (parent[node] != -1) {
    const int from = parent[node];
    if (from < static_cast<int>(nl)) {
      flow[static_cast<std::size_t>(from) * nr + (static_cast<std::size_t>(node) - nl)] += amount;
    } else {
      flow[static_cast<std::size_t>(node) * nr + (static_cast<std::size_t>(from) - nl)] -= amount;
    }
    node = from;
  }
  left[static_cast<std::size_t>(node)] -= amount;
  right[static_cast<std::size_t>(sink) - nl] -= amount;
}

// Largest matching between the classes of two compounds.
int class_matching(const AtomProfile &a, const AtomProfile &b) {
  if (a.classes.empty() || b.classes.empty()) return 0;
  ClassFlow network(a, b);
  return network.max_flow();
}

}  // namespace

int max_atom_pairs(const AtomProfile &a, const AtomProfile &b) {
  // Every atom keyed the same way on both sides: pairing is key equality.
  if (a.by_element || (!a.has_marked && !b.has_marked)) return common_keys(a, b);
  return class_matching(a, b);
}

bool below_bound(const AtomProfile &a, const AtomProfile &b, double min) {
  // The score never exceeds the smaller compound: a test without the matching.
  if (coefficient(std::min(a.atoms, b.atoms), a.atoms, b.atoms) < min) return true;
  return coefficient(max_atom_pairs(a, b), a.atoms, b.atoms) < min;
}

// ---------------------------------------------------------------------------
// Selection and output

bool ranked_before(const PairResult &x, const PairResult &y) {
  if (x.coefficient != y.coefficient) return x.coefficient > y.coefficient;
  return x.target < y.target;
}

void TopSelector::add(const PairResult &r) {
  if (k_ <= 0) {
    out_(r);
    return;
  }
  if (!kept_.empty() && kept_.front().query != r.query) finish();
  if (static_cast<int>(kept_.size()) < k_) {
    kept_.push_back(r);
    std::push_heap(kept_.begin(), kept_.end(), ranked_before);
  } else if (ranked_before(r, kept_.front())) {
    std::pop_heap(kept_.begin(), kept_.end(), ranked_before);
    kept_.back() = r;
    std::push_heap(kept_.begin(), kept_.end(), ranked_before);
  }
}

void TopSelector::finish() {
  std::sort(kept_.begin(), kept_.end(), ranked_before);
  for (const PairResult &r : kept_) out_(r);
  kept_.clear();
}

std::string header(Format format, bool names, bool substructure) {
  if (format == Format::kJsonl) return "";
  return std::string(
             "query\ttarget\tquery_atoms\ttarget_atoms\tscore\tcoefficient\tstatus\tproven") +
         (names ? "\tquery_name\ttarget_name" : "") +
         (substructure ? "\tatom_pairs\tquery_match\ttarget_match\n" : "\n");
}

void append_tsv_cell(std::string &out, std::string_view text) {
  for (const char c : text) out += c == '\t' || c == '\r' || c == '\n' ? ' ' : c;
}

std::string status_text(const PairResult &r) {
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

void append_json_string(std::string &out, std::string_view text) {
  out += '"';
  const auto *s = reinterpret_cast<const unsigned char *>(text.data());
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    const unsigned char c = s[i];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      i++;
    } else if (c < 0x20 || c == 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
      i++;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
      i++;
    } else {
      // A well-formed UTF-8 sequence is copied; any other byte becomes U+FFFD.
      std::size_t len = 0;
      unsigned lo = 0x80, hi = 0xbf;  // allowed range of the second byte
      if (c >= 0xc2 && c <= 0xdf) {
        len = 2;
      } else if (c >= 0xe0 && c <= 0xef) {
        len = 3;
        if (c == 0xe0) lo = 0xa0;
        if (c == 0xed) hi = 0x9f;
      } else if (c >= 0xf0 && c <= 0xf4) {
        len = 4;
        if (c == 0xf0) lo = 0x90;
        if (c == 0xf4) hi = 0x8f;
      }
      bool ok = len > 0 && i + len <= n;
      for (std::size_t k = 1; ok && k < len; k++) {
        const unsigned b = s[i + k];
        ok = k == 1 ? (b >= lo && b <= hi) : (b >= 0x80 && b <= 0xbf);
      }
      if (ok) {
        out.append(text.data() + i, len);
        i += len;
      } else {
        out += "\\ufffd";
        i++;
      }
    }
  }
  out += '"';
}

namespace {

void append_substructure(std::string &out, Format format, const RowSubstructure &sub) {
  const bool tsv = format == Format::kTsv;
  out += tsv ? "\t" : ",\"atom_pairs\":[";
  char pair[32];
  for (std::size_t k = 0; k < sub.atom_pairs.size(); k++) {
    const auto [a, b] = sub.atom_pairs[k];
    std::snprintf(pair, sizeof pair, tsv ? "%s%d:%d" : "%s[%d,%d]", k > 0 ? "," : "", a, b);
    out += pair;
  }
  if (!tsv) out += ']';
  for (const auto &[key, match] : {std::pair{",\"query_match\":", &sub.query_match},
                                   std::pair{",\"target_match\":", &sub.target_match}}) {
    if (tsv) {
      out += '\t';
      if (*match) append_tsv_cell(out, **match);
    } else {
      out += key;
      if (*match) {
        append_json_string(out, **match);
      } else {
        out += "null";
      }
    }
  }
}

}  // namespace

void append_row(std::string &out, Format format, const PairResult &r, const char *query_name,
                const char *target_name, const RowNames *names,
                const RowSubstructure *substructure) {
  const char *q = query_name != nullptr ? query_name : "";
  const char *t = target_name != nullptr ? target_name : "";
  char numbers[128];
  if (format == Format::kTsv) {
    out += q;
    out += '\t';
    out += t;
    std::snprintf(numbers, sizeof numbers, "\t%d\t%d\t%d\t%f\t", r.query_atoms, r.target_atoms,
                  r.score, r.coefficient);
    out += numbers;
    out += status_text(r);
    out += r.proven ? "\tyes" : "\tno";
    if (names != nullptr) {
      out += '\t';
      append_tsv_cell(out, names->query);
      out += '\t';
      append_tsv_cell(out, names->target);
    }
    if (substructure != nullptr) append_substructure(out, format, *substructure);
    out += '\n';
    return;
  }
  out += "{\"query\":";
  append_json_string(out, q);
  out += ",\"target\":";
  append_json_string(out, t);
  std::snprintf(numbers, sizeof numbers,
                ",\"query_atoms\":%d,\"target_atoms\":%d,\"score\":%d,\"coefficient\":%f,"
                "\"status\":\"",
                r.query_atoms, r.target_atoms, r.score, r.coefficient);
  out += numbers;
  out += status_text(r);
  out += r.proven ? "\",\"proven\":true" : "\",\"proven\":false";
  if (names != nullptr) {
    out += ",\"query_name\":";
    append_json_string(out, names->query);
    out += ",\"target_name\":";
    append_json_string(out, names->target);
  }
  if (substructure != nullptr) append_substructure(out, format, *substructure);
  out += "}\n";
}

// ---------------------------------------------------------------------------
// Running a screen

std::int64_t PairPlan::total() const {
  std::int64_t sum = 0;
  for (int q = 0; q < queries; q++) sum += std::max(0, targets - first_target(q));
  return sum;
}

std::int64_t PairRanges::total() const {
  std::int64_t sum = 0;
  for (std::size_t q = 0; q < begin.size(); q++) sum += std::max(0, end[q] - begin[q]);
  return sum;
}

namespace {

// A run of consecutive targets of one query: the unit of work.
struct Chunk {
  std::int64_t seq = 0;
  int query = 0;
  int begin = 0;
  int end = 0;
  int left_out = -1;  // a target of the query not computed (PairRanges::left_out)
};

// Hands out the chunks of a set of pairs in pair order.
class ChunkCursor {
 public:
  ChunkCursor(const PairRanges &ranges, int size) : ranges_(ranges), size_(std::max(size, 1)) {
    if (!ranges_.begin.empty()) target_ = ranges_.begin[0];
  }

  bool next(Chunk &c) {
    const int queries = static_cast<int>(ranges_.begin.size());
    while (query_ < queries && target_ >= ranges_.end[query_]) {
      if (++query_ < queries) target_ = ranges_.begin[query_];
    }
    if (query_ >= queries) return false;
    c.seq = seq_++;
    c.query = query_;
    c.begin = target_;
    c.end = target_ + std::min(size_, ranges_.end[query_] - target_);
    c.left_out = ranges_.left_out.empty() ? -1 : ranges_.left_out[query_];
    target_ = c.end;
    return true;
  }

  std::int64_t seq() const { return seq_; }

 private:
  const PairRanges &ranges_;
  int size_;
  int query_ = 0;
  int target_ = 0;
  std::int64_t seq_ = 0;
};

// Results of one chunk, waiting to be handed on.
struct Slot {
  bool ready = false;
  int query = 0;
  int end = 0;
  std::vector<PairResult> results;
  std::int64_t pairs = 0;
  std::int64_t skipped = 0;
  std::int64_t skipped_clique = 0;
};

std::int64_t count_chunks(const PairRanges &ranges, int size) {
  std::int64_t chunks = 0;
  ChunkCursor counter(ranges, size);
  Chunk c;
  while (counter.next(c)) chunks++;
  return chunks;
}

// The worker threads of a run of pairs: each takes the next chunk in pair
// order and leaves its results in a slot of a window, from which the
// calling thread takes them in order. However the run ends (an exception
// from the caller included), the workers are stopped and joined by the
// destructor.
class PairWorkers {
 public:
  PairWorkers(std::span<CPDMOL *const> queries, std::span<CPDMOL *const> targets,
              const PairRanges &ranges, const RunOptions &options, const Profiles &profiles);
  ~PairWorkers() { stop(); }
  PairWorkers(const PairWorkers &) = delete;
  PairWorkers &operator=(const PairWorkers &) = delete;

  void start(int count);
  // Chunks handed on so far.
  std::int64_t written() const { return written_; }
  // Waits a moment for the next chunk in order and moves it to `slot` when
  // it is ready (slot.ready); false when the run stops (a worker failed).
  bool take_next(Slot &slot);
  void stop();
  // What a worker threw, once the workers are stopped.
  void rethrow_failure() const;

 private:
  void work();
  bool next_chunk(Chunk &c);
  Slot compute(const Chunk &c) const;
  void store(const Chunk &c, Slot out);

  std::span<CPDMOL *const> queries_, targets_;
  const RunOptions &options_;
  const Profiles &profiles_;
  const bool bound_;         // the atom-count bound, with a minimum and profiles
  const bool clique_bound_;  // the clique bound, where it holds
  // Chunks may finish out of order by up to this many; the slots hold only
  // kept results, so a wide window costs little and keeps every thread busy
  // while one of them is held up by a slow pair.
  const std::size_t window_;
  std::mutex mutex_;
  std::condition_variable work_cv_;  // a slot became free, or the run stops
  std::condition_variable done_cv_;  // a chunk is ready, or a worker failed
  ChunkCursor cursor_;
  std::int64_t written_ = 0;  // chunks handed on
  std::vector<Slot> slots_;
  bool stop_ = false;
  std::exception_ptr failure_;
  std::vector<std::thread> threads_;
};

PairWorkers::PairWorkers(std::span<CPDMOL *const> queries, std::span<CPDMOL *const> targets,
                         const PairRanges &ranges, const RunOptions &options,
                         const Profiles &profiles)
    : queries_(queries),
      targets_(targets),
      options_(options),
      profiles_(profiles),
      bound_(options.min.has_value() && !profiles.queries.empty()),
      clique_bound_(options.min.has_value() && options.clique_bound &&
                    clique_bound_valid(options.engine)),
      window_(
          std::max<std::size_t>(4096, 64 * static_cast<std::size_t>(std::max(1, options.threads)))),
      cursor_(ranges, options.chunk),
      slots_(window_) {}

void PairWorkers::start(int count) {
  for (int k = 0; k < count; k++) threads_.emplace_back([this] { work(); });
}

void PairWorkers::work() {
  try {
    init_engine(options_.engine);
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

bool PairWorkers::next_chunk(Chunk &c) {
  std::unique_lock lock(mutex_);
  // Stay within the window, so that finished chunks waiting for an earlier
  // one never pile up.
  work_cv_.wait(
      lock, [&] { return stop_ || cursor_.seq() < written_ + static_cast<std::int64_t>(window_); });
  return !stop_ && cursor_.next(c);
}

// The pairs of a chunk on the calling worker's engine: the results the
// bounds and the minimum keep.
Slot PairWorkers::compute(const Chunk &c) const {
  Slot out;
  out.query = c.query;
  out.end = c.end;
  out.pairs = c.end - c.begin;
  CPDMOL *query = queries_[c.query];
  for (int t = c.begin; t < c.end; t++) {
    if (t == c.left_out) continue;
    if (bound_ && below_bound(profiles_.queries[c.query], profiles_.targets[t], *options_.min)) {
      out.skipped++;
      continue;
    }
    PairResult r;
    if (clique_bound_) {
      const std::optional<PairResult> above = compare_pair_above(query, targets_[t], *options_.min);
      if (!above) {
        out.skipped++;
        out.skipped_clique++;
        continue;
      }
      r = *above;
    } else {
      r = compare_pair(query, targets_[t]);
    }
    if (options_.min && r.coefficient < *options_.min) continue;
    r.query = c.query;
    r.target = t;
    out.results.push_back(r);
  }
  return out;
}

void PairWorkers::store(const Chunk &c, Slot out) {
  {
    std::lock_guard lock(mutex_);
    Slot &slot = slots_[static_cast<std::size_t>(c.seq) % window_];
    slot = std::move(out);
    slot.ready = true;
  }
  done_cv_.notify_all();
}

bool PairWorkers::take_next(Slot &slot) {
  {
    std::unique_lock lock(mutex_);
    Slot &next = slots_[static_cast<std::size_t>(written_) % window_];
    done_cv_.wait_for(lock, std::chrono::milliseconds(200), [&] { return next.ready || stop_; });
    if (stop_) return false;
    if (!next.ready) return true;
    slot = std::move(next);
    next = Slot{};
    written_++;
  }
  work_cv_.notify_all();
  return true;
}

void PairWorkers::stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  work_cv_.notify_all();
  for (std::thread &w : threads_) w.join();
  threads_.clear();
}

void PairWorkers::rethrow_failure() const {
  if (failure_) std::rethrow_exception(failure_);
}

}  // namespace

RunStats run_screen(std::span<CPDMOL *const> queries, std::span<CPDMOL *const> targets,
                    bool triangle, const RunOptions &options, const Emit &emit,
                    const Progress &progress) {
  prepare_records(queries);
  prepare_records(targets);

  const PairPlan plan{static_cast<int>(queries.size()), static_cast<int>(targets.size()), triangle};
  PairRanges ranges;
  for (int q = 0; q < plan.queries; q++) {
    ranges.begin.push_back(std::min(plan.first_target(q), plan.targets));
    ranges.end.push_back(plan.targets);
  }
  // Profiles for the bound, built here so that the workers only read them.
  std::vector<AtomProfile> query_profiles, target_profiles;
  if (options.min) {
    KeyIndex index;
    const bool by_element = (options.engine.atom_mode & 2) != 0;
    for (CPDMOL *m : queries) query_profiles.push_back(make_profile(*m, by_element, index));
    for (CPDMOL *m : targets) target_profiles.push_back(make_profile(*m, by_element, index));
  }
  RunOptions plain = options;
  plain.top = 0;
  RunStats kept;
  TopSelector selector(options.top, [&](const PairResult &r) {
    kept.kept++;
    emit(r);
  });
  RunStats stats = run_pairs(
      queries, targets, ranges, plain, {query_profiles, target_profiles},
      [&](const PairResult &r) { selector.add(r); }, {}, progress);
  selector.finish();
  stats.kept = kept.kept;
  return stats;
}

RunStats run_pairs(std::span<CPDMOL *const> queries, std::span<CPDMOL *const> targets,
                   const PairRanges &ranges, const RunOptions &options, const Profiles &profiles,
                   const Emit &emit, const ChunkDone &chunk_done, const Progress &progress,
                   const StopRequested &stop_requested) {
  RunStats stats;
  stats.pairs = ranges.total();
  const int threads = std::max(1, options.threads);
  const std::int64_t chunks = count_chunks(ranges, options.chunk);
  PairWorkers workers(queries, targets, ranges, options, profiles);

  using Clock = std::chrono::steady_clock;
  auto last_report = Clock::now();
  std::int64_t done = 0;
  workers.start(static_cast<int>(std::min<std::int64_t>(threads, chunks)));
  if (progress) progress(0, stats.pairs);
  while (workers.written() < chunks) {
    if (stop_requested && stop_requested()) {
      stats.stopped = true;
      break;
    }
    Slot slot;
    if (!workers.take_next(slot)) break;
    if (slot.ready) {
      done += slot.pairs;
      stats.skipped += slot.skipped;
      stats.skipped_clique += slot.skipped_clique;
      for (const PairResult &r : slot.results) {
        stats.kept++;
        emit(r);
      }
      if (chunk_done) chunk_done(slot.query, slot.end);
    }
    if (progress && Clock::now() - last_report >= std::chrono::milliseconds(250)) {
      progress(done, stats.pairs);
      last_report = Clock::now();
    }
  }
  workers.stop();
  workers.rethrow_failure();
  if (progress && !stats.stopped) progress(done, stats.pairs);
  stats.done = done;
  return stats;
}

// ---------------------------------------------------------------------------
// Command-line helpers

std::optional<long long> parse_integer(std::string_view text, long long lo, long long hi) {
  long long value = 0;
  const char *first = text.data();
  const char *last = text.data() + text.size();
  if (first != last && *first == '+') first++;  // from_chars takes no plus sign
  if (first == last || *first == '+') return std::nullopt;
  const auto [end, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || end != last || value < lo || value > hi) return std::nullopt;
  return value;
}

std::optional<double> parse_fraction(std::string_view text) {
  // Plain decimal notation only: digits with at most one point.
  if (text.empty() || text.find_first_not_of("0123456789.") != std::string_view::npos ||
      text.find('.') != text.rfind('.') || text == ".") {
    return std::nullopt;
  }
  double value = 0.0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !(value >= 0.0 && value <= 1.0)) {
    return std::nullopt;
  }
  return value;
}

int default_threads() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

namespace {

std::string duration_text(double seconds) {
  const long long s = std::llround(seconds);
  char buf[64];
  if (s >= 3600) {
    std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(buf, sizeof buf, "%lld:%02lld", s / 60, s % 60);
  }
  return buf;
}

}  // namespace

std::string progress_text(std::int64_t done, std::int64_t total, double seconds) {
  char buf[160];
  const double rate = seconds > 0.0 ? static_cast<double>(done) / seconds : 0.0;
  std::snprintf(buf, sizeof buf, "%lld/%lld pairs, %.0f pairs/s, ", static_cast<long long>(done),
                static_cast<long long>(total), rate);
  std::string text = buf;
  if (done >= total) {
    text += "0:00 left";
  } else if (rate > 0.0) {
    text += duration_text(static_cast<double>(total - done) / rate) + " left";
  } else {
    text += "time left unknown";
  }
  return text;
}

}  // namespace screen
