// A screen shared by the processes of an MPI job.
//
// Every process (rank) opens the inputs itself. Rank 0 hands out chunks of
// the screen's pairs on demand, two at a time to each rank so that none
// waits for its next one, computes chunks of its own on a thread beside
// that, and writes the rows of the chunks in order through a ChunkJoiner:
// the output is that of one process. Chunks done ahead of the one that is
// written next are held by rank 0, at most a few per rank, so its memory is
// bounded whatever the screen. Only the main thread of a rank calls MPI.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "search/chunk.h"
#include "search/stream.h"

namespace screen_mpi {

// MPI for the life of the process: started by the constructor, ended by
// finish() or the destructor.
class Session {
 public:
  Session(int *argc, char ***argv);
  ~Session();
  Session(const Session &) = delete;
  Session &operator=(const Session &) = delete;

  int rank() const { return rank_; }
  int size() const { return size_; }
  void finish();

 private:
  int rank_ = 0;
  int size_ = 1;
  bool active_ = false;
};

// The rank the launcher gave this process (from its environment, before MPI
// is started), or -1 when it tells none.
int launcher_rank();

// Every rank says how its set-up went (an empty message: well); rank 0
// prints the first failure, its own first or else "rank K: message", and
// every rank learns whether there was one.
bool all_well(const std::string &failure, const char *program);

// `failure` on the ranks whose numbers differ from rank 0's, else "".
std::string same_as_rank_0(std::vector<std::int64_t> numbers, const std::string &failure);

// Copies rank 0's standard input to a temporary file on every rank, which is
// returned at its start. Throws std::system_error when rank 0 cannot read it
// (the other ranks then throw too).
FILE *share_standard_input(const Session &session);

// A worker rank ended the screen: what it said.
struct RankFailed {
  int rank;
  std::string message;
};

struct WorkPlan {
  std::int64_t first = 0, last = 0;  // the pairs of the run
  std::int64_t chunk = 256;          // pairs per chunk
};

class LocalWorker;

// Rank 0: runs the screen with every rank and writes its rows in order to a
// joiner; computes chunks of its own on a thread that lives as long as this.
class Leader {
 public:
  Leader(const Session &session, screen::RecordSource &queries, screen::RecordSource &targets,
         bool triangle, const screen::StreamOptions &options);
  ~Leader();  // waits for the chunk being computed here
  Leader(const Leader &) = delete;
  Leader &operator=(const Leader &) = delete;

  // Ends early, with `stopped` set, once `stop` says so (the other ranks are
  // left computing: the job is then ended); throws RankFailed for a rank
  // that failed, and what a chunk of its own threw.
  screen::RunStats run(const WorkPlan &plan, screen::ChunkJoiner &joiner,
                       const screen::Progress &progress, const screen::StopRequested &stop);

 private:
  const Session &session_;
  std::unique_ptr<LocalWorker> local_;
};

// Other ranks: computes the chunks that rank 0 hands out until it says the
// screen is done. A failure is reported to rank 0, which ends the job.
void follow(const Session &session, screen::RecordSource &queries, screen::RecordSource &targets,
            bool triangle, const screen::StreamOptions &options);

// Ends every rank of the job with `status` (after rank 0 said why).
[[noreturn]] void abort_job(int status);

}  // namespace screen_mpi
