#include "search/mpi/ranks.h"

#include <mpi.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <list>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <utility>
#include <thread>
#include <vector>

#include "search/cli.h"
#include "search/output.h"

namespace screen_mpi {

namespace {

enum Tag : int { kAssign = 1, kResult, kPayload, kFailure };

// Target records a rank keeps between its chunks, counted by their text.
constexpr std::uint64_t kCacheBytes = 256ull << 20;
// Messages are cut into pieces of this size (MPI counts in ints).
constexpr std::size_t kPiece = 1u << 30;
// Chunks handed to one rank and not yet returned: one computed, one waiting.
constexpr int kAhead = 2;
// Rows of chunks done ahead of their turn that rank 0 holds before it stops
// handing out work (besides the chunks at the ranks).
constexpr std::size_t kHeldBytes = 512u << 20;

// An idle loop sleeps between looks at the messages, longer while nothing
// comes; Open MPI would otherwise wait by spinning on a core that computes.
class Backoff {
 public:
  void reset() { wait_ = std::chrono::microseconds(50); }
  void pause() {
    std::this_thread::sleep_for(wait_);
    wait_ = std::min(wait_ * 2, std::chrono::microseconds(2000));
  }

 private:
  std::chrono::microseconds wait_{50};
};

void check(int rc, const char *what) {
  if (rc != MPI_SUCCESS) throw std::runtime_error(std::string("MPI: ") + what + " failed");
}

void send_bytes(const char *data, std::size_t size, int dest, int tag) {
  do {
    const std::size_t n = std::min(size, kPiece);
    check(MPI_Send(data, static_cast<int>(n), MPI_BYTE, dest, tag, MPI_COMM_WORLD), "send");
    data += n;
    size -= n;
  } while (size > 0);
}

void recv_bytes(char *data, std::size_t size, int source, int tag) {
  do {
    const std::size_t n = std::min(size, kPiece);
    check(MPI_Recv(data, static_cast<int>(n), MPI_BYTE, source, tag, MPI_COMM_WORLD,
                   MPI_STATUS_IGNORE),
          "receive");
    data += n;
    size -= n;
  } while (size > 0);
}

// A chunk on the wire: a header of seven numbers, then its rows and results.
struct Header {
  std::int64_t seq, first, last, skipped, skipped_clique, rows, results;
};

// A computed chunk in the order of the message: the header, the row text,
// the results as they lie in memory (every rank runs the same program).
struct Packed {
  Header header{};
  std::string payload;
};

Packed pack(std::int64_t seq, const screen::ChunkRows &c) {
  Packed p;
  p.header = {seq,
              c.first,
              c.last,
              c.stats.skipped,
              c.stats.skipped_clique,
              static_cast<std::int64_t>(c.rows.size()),
              static_cast<std::int64_t>(c.results.size())};
  const std::size_t result_bytes = c.results.size() * sizeof(screen::PairResult);
  p.payload.resize(c.rows.size() + result_bytes);
  std::memcpy(p.payload.data(), c.rows.data(), c.rows.size());
  if (result_bytes > 0) {
    std::memcpy(p.payload.data() + c.rows.size(), c.results.data(), result_bytes);
  }
  return p;
}

screen::ChunkRows unpack(const Header &h, const std::string &payload) {
  screen::ChunkRows c;
  c.first = h.first;
  c.last = h.last;
  c.stats.pairs = h.last - h.first;
  c.stats.skipped = h.skipped;
  c.stats.skipped_clique = h.skipped_clique;
  const auto rows = static_cast<std::size_t>(h.rows);
  c.rows.assign(payload.data(), rows);
  c.results.resize(static_cast<std::size_t>(h.results));
  if (!c.results.empty()) {
    std::memcpy(c.results.data(), payload.data() + rows,
                c.results.size() * sizeof(screen::PairResult));
  }
  return c;
}

// Chunk number `seq` of the plan.
std::pair<std::int64_t, std::int64_t> chunk_range(const WorkPlan &plan, std::int64_t seq) {
  const std::int64_t a = plan.first + seq * plan.chunk;
  return {a, std::min(plan.last, a + plan.chunk)};
}

}  // namespace

// Rank 0's own chunks, computed on a thread beside the one that talks to
// the other ranks and writes.
class LocalWorker {
 public:
  LocalWorker(screen::RecordSource &queries, screen::RecordSource &targets, bool triangle,
              const screen::StreamOptions &options)
      : cache_(targets, kCacheBytes), thread_([&, triangle] {
          screen::StreamOptions o = options;
          run(queries, triangle, o);
        }) {}
  ~LocalWorker() {
    {
      std::lock_guard lock(mutex_);
      closing_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  LocalWorker(const LocalWorker &) = delete;
  LocalWorker &operator=(const LocalWorker &) = delete;

  void give(std::int64_t seq, std::int64_t first, std::int64_t last) {
    {
      std::lock_guard lock(mutex_);
      todo_.push_back({seq, first, last});
    }
    cv_.notify_all();
  }
  // Chunks done since the last call; rethrows what a chunk threw.
  std::vector<std::pair<std::int64_t, screen::ChunkRows>> take() {
    std::lock_guard lock(mutex_);
    if (failure_) std::rethrow_exception(failure_);
    return std::exchange(done_, {});
  }

 private:
  struct Job {
    std::int64_t seq, first, last;
  };

  void run(screen::RecordSource &queries, bool triangle, const screen::StreamOptions &options) {
    for (;;) {
      Job job{};
      {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return closing_ || !todo_.empty(); });
        if (closing_) return;
        job = todo_.front();
        todo_.pop_front();
      }
      try {
        screen::ChunkRows rows = screen::run_chunk(queries, cache_, triangle, job.first, job.last,
                                                   options, [&] { return closing_.load(); });
        std::lock_guard lock(mutex_);
        done_.emplace_back(job.seq, std::move(rows));
      } catch (...) {
        std::lock_guard lock(mutex_);
        failure_ = std::current_exception();
        return;
      }
    }
  }

  screen::CachedSource cache_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Job> todo_;
  std::vector<std::pair<std::int64_t, screen::ChunkRows>> done_;
  std::exception_ptr failure_;
  std::atomic<bool> closing_{false};
  std::thread thread_;
};

Session::Session(int *argc, char ***argv) {
  int provided = 0;
  if (MPI_Init_thread(argc, argv, MPI_THREAD_FUNNELED, &provided) != MPI_SUCCESS) {
    throw std::runtime_error("MPI could not be started");
  }
  active_ = true;
  // Errors come back as codes, so that a rank can say what went wrong.
  MPI_Comm_set_errhandler(MPI_COMM_WORLD, MPI_ERRORS_RETURN);
  MPI_Comm_rank(MPI_COMM_WORLD, &rank_);
  MPI_Comm_size(MPI_COMM_WORLD, &size_);
}

Session::~Session() {
  finish();
}

void Session::finish() {
  if (active_) MPI_Finalize();
  active_ = false;
}

int launcher_rank() {
  // Open MPI's mpirun, PMIx launchers, MPICH's hydra, Slurm's srun.
  for (const char *name : {"OMPI_COMM_WORLD_RANK", "PMIX_RANK", "PMI_RANK", "SLURM_PROCID"}) {
    if (const char *value = std::getenv(name)) return std::atoi(value);
  }
  return -1;
}

bool all_well(const std::string &failure, const char *program) {
  int rank = 0, size = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  const int mine = failure.empty() ? INT_MAX : rank;
  int first = INT_MAX;
  MPI_Allreduce(&mine, &first, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  if (first == INT_MAX) return true;
  // The first failing rank tells rank 0 what went wrong.
  if (rank == first && rank != 0) send_bytes(failure.data(), failure.size() + 1, 0, kFailure);
  if (rank == 0) {
    std::string message = failure;
    if (first != 0) {
      MPI_Status status;
      MPI_Probe(first, kFailure, MPI_COMM_WORLD, &status);
      int count = 0;
      MPI_Get_count(&status, MPI_BYTE, &count);
      std::string text(static_cast<std::size_t>(count), '\0');
      recv_bytes(text.data(), text.size(), first, kFailure);
      message = "rank " + std::to_string(first) + ": " + text.c_str();
    }
    std::fprintf(stderr, "%s: %s\n", program, message.c_str());
  }
  return false;
}

std::string same_as_rank_0(std::vector<std::int64_t> numbers, const std::string &failure) {
  std::vector<std::int64_t> first = numbers;
  MPI_Bcast(first.data(), static_cast<int>(first.size()), MPI_INT64_T, 0, MPI_COMM_WORLD);
  return first == numbers ? "" : failure;
}

FILE *share_standard_input(const Session &session) {
  FILE *copy = nullptr;
  int error = 0;
  std::uint64_t size = 0;
  if (session.rank() == 0) {
    try {
      copy = screen::spool(stdin);
      struct stat st {};
      if (fstat(fileno(copy), &st) != 0) throw std::system_error(errno, std::generic_category());
      size = static_cast<std::uint64_t>(st.st_size);
    } catch (const std::system_error &e) {
      error = e.code().value() != 0 ? e.code().value() : EIO;
    }
  } else if ((copy = std::tmpfile()) == nullptr) {
    error = errno != 0 ? errno : EIO;
  }
  // Every rank knows whether every rank has its file before the text comes.
  int worst = 0;
  MPI_Allreduce(&error, &worst, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  if (worst != 0) {
    if (copy != nullptr) std::fclose(copy);
    throw std::system_error(error != 0 ? error : worst, std::generic_category());
  }
  MPI_Bcast(&size, 1, MPI_UINT64_T, 0, MPI_COMM_WORLD);
  std::vector<char> buf(std::min<std::uint64_t>(size, 64u << 20));
  for (std::uint64_t done = 0; done < size;) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(size - done, buf.size()));
    int failed = 0;
    if (session.rank() == 0) failed = std::fread(buf.data(), 1, n, copy) != n;
    MPI_Bcast(&failed, 1, MPI_INT, 0, MPI_COMM_WORLD);
    if (failed) {
      std::fclose(copy);
      throw std::system_error(EIO, std::generic_category());
    }
    MPI_Bcast(buf.data(), static_cast<int>(n), MPI_BYTE, 0, MPI_COMM_WORLD);
    if (session.rank() != 0 && std::fwrite(buf.data(), 1, n, copy) != n) {
      const int e = errno;
      std::fclose(copy);
      throw std::system_error(e != 0 ? e : EIO, std::generic_category());
    }
    done += n;
  }
  if (std::fflush(copy) != 0) throw std::system_error(errno, std::generic_category());
  std::rewind(copy);
  return copy;
}

Leader::Leader(const Session &session, screen::RecordSource &queries, screen::RecordSource &targets,
               bool triangle, const screen::StreamOptions &options)
    : session_(session),
      local_(std::make_unique<LocalWorker>(queries, targets, triangle, options)) {}

Leader::~Leader() = default;

namespace {

std::size_t size_of(const screen::ChunkRows &c) {
  return c.rows.size() + c.results.size() * sizeof(screen::PairResult);
}

// A chunk whose rows are coming in from another rank.
struct Incoming {
  int from = 0;
  Header header{};
  std::string payload;
  std::vector<MPI_Request> requests;
};

// An assignment on its way to a rank.
struct Assignment {
  std::int64_t job[3];
  MPI_Request request;
};

// One run of rank 0: the hand-out of chunks, the rows that come back from
// the ranks and from its own thread, and their join in order. Nothing here
// waits on another rank: a rank that died must never hold up rank 0, which
// then still ends the screen when it is told to.
class HandOut {
 public:
  HandOut(const Session &session, LocalWorker &local, const WorkPlan &plan,
          screen::ChunkJoiner &joiner, const screen::Progress &progress,
          const screen::StopRequested &stop);
  screen::RunStats run();

 private:
  bool stop_requested() const { return stop_ && stop_(); }
  void send_job(int rank, std::int64_t seq, std::int64_t a, std::int64_t b);
  bool sent();
  void hand_out(int rank);
  bool hand_out_work();
  bool receive_messages();
  void receive_rows(int from);
  bool take_incoming();
  bool take_local();
  bool join_ready();
  void show_progress();
  void say_done();

  const Session &session_;
  LocalWorker &local_;
  const WorkPlan &plan_;
  screen::ChunkJoiner &joiner_;
  const screen::Progress &progress_;
  const screen::StopRequested &stop_;
  const std::int64_t pairs_;
  const std::int64_t chunks_;
  // Chunks handed out beyond the one written next: enough to keep every
  // rank busy while one chunk takes long, few enough to bound what waits;
  // and none while the rows waiting for an earlier chunk pass kHeldBytes.
  const std::int64_t window_;
  std::size_t held_ = 0;      // bytes of the chunks in `ready_`
  std::int64_t next_ = 0;     // chunks handed out
  std::int64_t written_ = 0;  // chunks joined
  std::vector<int> out_;      // chunks at each rank
  std::map<std::int64_t, screen::ChunkRows> ready_;
  std::list<Incoming> incoming_;
  std::list<Assignment> sends_;
  std::chrono::steady_clock::time_point next_report_;
  Backoff backoff_;
  screen::RunStats stats_;
};

HandOut::HandOut(const Session &session, LocalWorker &local, const WorkPlan &plan,
                 screen::ChunkJoiner &joiner, const screen::Progress &progress,
                 const screen::StopRequested &stop)
    : session_(session),
      local_(local),
      plan_(plan),
      joiner_(joiner),
      progress_(progress),
      stop_(stop),
      pairs_(plan.last - plan.first),
      chunks_(pairs_ > 0 ? (pairs_ + plan.chunk - 1) / plan.chunk : 0),
      window_(4 * static_cast<std::int64_t>(session.size()) + 4),
      out_(static_cast<std::size_t>(session.size()), 0) {}

screen::RunStats HandOut::run() {
  if (progress_) progress_(0, pairs_);
  next_report_ = std::chrono::steady_clock::now();
  while (written_ < chunks_) {
    if (stop_requested()) {
      stats_.stopped = true;
      break;
    }
    bool busy = hand_out_work();
    sent();
    if (receive_messages()) busy = true;
    if (take_incoming()) busy = true;
    if (take_local()) busy = true;
    if (join_ready()) show_progress();
    if (busy) {
      backoff_.reset();
    } else {
      backoff_.pause();
    }
  }
  if (!stats_.stopped) say_done();
  stats_.pairs = pairs_;
  stats_.skipped = joiner_.stats().skipped;
  stats_.skipped_clique = joiner_.stats().skipped_clique;
  stats_.kept = joiner_.stats().kept;
  return stats_;
}

void HandOut::send_job(int rank, std::int64_t seq, std::int64_t a, std::int64_t b) {
  Assignment &s = sends_.emplace_back(Assignment{{seq, a, b}, MPI_REQUEST_NULL});
  check(MPI_Isend(s.job, 3, MPI_INT64_T, rank, kAssign, MPI_COMM_WORLD, &s.request), "send");
}

// Forgets the assignments that went out; true when none is left on its way.
bool HandOut::sent() {
  for (auto it = sends_.begin(); it != sends_.end();) {
    int flag = 0;
    check(MPI_Test(&it->request, &flag, MPI_STATUS_IGNORE), "send");
    it = flag ? sends_.erase(it) : std::next(it);
  }
  return sends_.empty();
}

void HandOut::hand_out(int rank) {
  const auto [a, b] = chunk_range(plan_, next_);
  if (rank == 0) {
    local_.give(next_, a, b);
  } else {
    send_job(rank, next_, a, b);
  }
  out_[static_cast<std::size_t>(rank)]++;
  next_++;
}

// Work for every rank with room for it, the other ranks first.
bool HandOut::hand_out_work() {
  bool busy = false;
  for (int k = 0; k < session_.size(); k++) {
    const int rank = (k + 1) % session_.size();
    while (next_ < chunks_ && next_ < written_ + window_ && held_ < kHeldBytes &&
           out_[static_cast<std::size_t>(rank)] < kAhead) {
      hand_out(rank);
      busy = true;
    }
  }
  return busy;
}

// What the other ranks sent: the header of a chunk's rows, or a failure
// (thrown as RankFailed).
bool HandOut::receive_messages() {
  bool busy = false;
  for (;;) {
    int flag = 0;
    MPI_Status status;
    check(MPI_Iprobe(MPI_ANY_SOURCE, MPI_ANY_TAG, MPI_COMM_WORLD, &flag, &status), "probe");
    if (!flag) return busy;
    busy = true;
    const int from = status.MPI_SOURCE;
    if (status.MPI_TAG == kFailure) {
      int count = 0;
      MPI_Get_count(&status, MPI_BYTE, &count);
      std::string text(static_cast<std::size_t>(count), '\0');
      recv_bytes(text.data(), text.size(), from, kFailure);
      throw RankFailed{from, text.c_str()};
    }
    if (status.MPI_TAG != kResult) throw std::runtime_error("MPI: unexpected message");
    receive_rows(from);
  }
}

// The rows follow the header; they are taken in while the loop goes on, so
// that a rank that dies sending them never holds it up.
void HandOut::receive_rows(int from) {
  Incoming &in = incoming_.emplace_back();
  in.from = from;
  recv_bytes(reinterpret_cast<char *>(&in.header), sizeof in.header, from, kResult);
  in.payload.resize(static_cast<std::size_t>(in.header.rows) +
                    static_cast<std::size_t>(in.header.results) * sizeof(screen::PairResult));
  for (std::size_t at = 0; at < in.payload.size(); at += kPiece) {
    const std::size_t n = std::min(kPiece, in.payload.size() - at);
    in.requests.emplace_back();
    check(MPI_Irecv(in.payload.data() + at, static_cast<int>(n), MPI_BYTE, from, kPayload,
                    MPI_COMM_WORLD, &in.requests.back()),
          "receive");
  }
}

// The chunks of other ranks whose rows are all in.
bool HandOut::take_incoming() {
  bool busy = false;
  for (auto it = incoming_.begin(); it != incoming_.end();) {
    int flag = 0;
    check(MPI_Testall(static_cast<int>(it->requests.size()), it->requests.data(), &flag,
                      MPI_STATUSES_IGNORE),
          "receive");
    if (!flag) {
      ++it;
      continue;
    }
    held_ += size_of(ready_.emplace(it->header.seq, unpack(it->header, it->payload)).first->second);
    out_[static_cast<std::size_t>(it->from)]--;
    it = incoming_.erase(it);
    busy = true;
  }
  return busy;
}

// The chunks rank 0's own thread computed.
bool HandOut::take_local() {
  bool busy = false;
  for (auto &[seq, rows] : local_.take()) {
    held_ += size_of(rows);
    ready_.emplace(seq, std::move(rows));
    out_[0]--;
    busy = true;
  }
  return busy;
}

// Rows in order: every ready chunk that comes next; true when one was joined.
bool HandOut::join_ready() {
  bool joined = false;
  for (auto it = ready_.find(written_); it != ready_.end(); it = ready_.find(written_)) {
    if (stop_requested()) break;
    joiner_.add(it->second);
    held_ -= size_of(it->second);
    ready_.erase(it);
    written_++;
    joined = true;
  }
  return joined;
}

// The progress line changes a few times a second at most.
void HandOut::show_progress() {
  if (progress_ && std::chrono::steady_clock::now() >= next_report_) {
    progress_(joiner_.done() - plan_.first, pairs_);
    next_report_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
  }
}

// The other ranks are done (or stop): each hears it once.
void HandOut::say_done() {
  const int workers = session_.size() - 1;
  for (int rank = 1; rank <= workers; rank++) send_job(rank, -1, -1, -1);
  while (!sent()) {
    if (stop_requested()) {
      stats_.stopped = true;
      break;
    }
    backoff_.pause();
  }
}

// Rows on their way to rank 0; their sends go on while the next chunk is
// computed, and are moved along whenever the screen asks whether to stop.
class Outbox {
 public:
  // Sends the rows of chunk `seq`: the header, then the payload in pieces.
  void post(std::int64_t seq, const screen::ChunkRows &rows);
  // Forgets the sends that are complete, in order.
  void move_along();
  // Waits for every send.
  void wait_all();

 private:
  struct Sending {
    Packed packed;
    std::vector<MPI_Request> requests;
  };
  std::deque<Sending> sending_;  // a deque: the buffers of earlier sends stay where they are
};

void Outbox::post(std::int64_t seq, const screen::ChunkRows &rows) {
  Sending &s = sending_.emplace_back();
  s.packed = pack(seq, rows);
  s.requests.emplace_back();
  check(MPI_Isend(&s.packed.header, sizeof(Header), MPI_BYTE, 0, kResult, MPI_COMM_WORLD,
                  &s.requests.back()),
        "send");
  for (std::size_t at = 0; at < s.packed.payload.size(); at += kPiece) {
    const std::size_t n = std::min(kPiece, s.packed.payload.size() - at);
    s.requests.emplace_back();
    check(MPI_Isend(s.packed.payload.data() + at, static_cast<int>(n), MPI_BYTE, 0, kPayload,
                    MPI_COMM_WORLD, &s.requests.back()),
          "send");
  }
}

void Outbox::move_along() {
  while (!sending_.empty()) {
    int flag = 0;
    auto &r = sending_.front().requests;
    MPI_Testall(static_cast<int>(r.size()), r.data(), &flag, MPI_STATUSES_IGNORE);
    if (!flag) return;
    sending_.pop_front();
  }
}

void Outbox::wait_all() {
  for (Sending &s : sending_) {
    MPI_Waitall(static_cast<int>(s.requests.size()), s.requests.data(), MPI_STATUSES_IGNORE);
  }
}

// The launcher ends every rank by SIGTERM and soon after SIGKILL, sooner
// once one of them is gone; this rank stays a moment, so that rank 0 has
// the time to keep the rows it has.
void leave_when_interrupted() {
  if (const int sig = screen::interrupt_signal()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::_Exit(128 + sig);
  }
}

// Waits for rank 0's next assignment, with `move_along` called meanwhile;
// false when rank 0 says the screen is done.
bool next_assignment(std::int64_t (&job)[3], const screen::StopRequested &move_along) {
  Backoff backoff;
  for (;;) {
    int flag = 0;
    MPI_Status status;
    check(MPI_Iprobe(0, kAssign, MPI_COMM_WORLD, &flag, &status), "probe");
    if (flag) break;
    move_along();
    backoff.pause();
  }
  check(MPI_Recv(job, 3, MPI_INT64_T, 0, kAssign, MPI_COMM_WORLD, MPI_STATUS_IGNORE), "receive");
  return job[0] >= 0;
}

}  // namespace

screen::RunStats Leader::run(const WorkPlan &plan, screen::ChunkJoiner &joiner,
                             const screen::Progress &progress, const screen::StopRequested &stop) {
  HandOut hand_out(session_, *local_, plan, joiner, progress, stop);
  return hand_out.run();
}

void follow(const Session &, screen::RecordSource &queries, screen::RecordSource &targets,
            bool triangle, const screen::StreamOptions &options) {
  screen::CachedSource cache(targets, kCacheBytes);
  Outbox outbox;
  screen::catch_interrupts(true);
  const screen::StopRequested move_along = [&] {
    leave_when_interrupted();
    outbox.move_along();
    return false;
  };
  try {
    std::int64_t job[3];
    while (next_assignment(job, move_along)) {
      outbox.post(job[0],
                  screen::run_chunk(queries, cache, triangle, job[1], job[2], options, move_along));
    }
    outbox.wait_all();
  } catch (...) {
    // Rank 0 says so and ends the job; should it not, this rank ends it.
    const std::string text = screen_cli::failure_message(std::current_exception());
    send_bytes(text.c_str(), text.size() + 1, 0, kFailure);
    std::this_thread::sleep_for(std::chrono::seconds(60));
    abort_job(9);
  }
}

void abort_job(int status) {
  std::fflush(nullptr);
  MPI_Abort(MPI_COMM_WORLD, status);
  std::_Exit(status);
}

}  // namespace screen_mpi
