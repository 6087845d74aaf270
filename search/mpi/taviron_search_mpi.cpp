// taviron-search-mpi: taviron-search on the processes of an MPI job.
//
// Started by mpirun or srun with taviron-search's options. Every rank reads
// the inputs; rank 0 hands out chunks of the pairs, computes too, and writes
// the output, which is byte for byte that of taviron-search.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <system_error>

#include "search/checksum.h"
#include "search/cli.h"
#include "search/mpi/ranks.h"

namespace {

using screen_cli::kExitFailure;
using screen_cli::program;

// A failure while the ranks set up: every rank learns of it before it ends.
struct SetupFailed {
  std::string message;
};

// The ranks other than rank 0 keep quiet while they read the command line
// and the inputs: every rank reads the same and would say the same (an
// option error, the help text, a skipped molecule).
class QuietRank {
 public:
  QuietRank() {
    if (screen_mpi::launcher_rank() <= 0) return;
    const int null = open("/dev/null", O_WRONLY);
    for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
      saved_[fd] = dup(fd);
      if (null >= 0 && saved_[fd] >= 0) dup2(null, fd);
    }
    if (null >= 0) close(null);
  }
  ~QuietRank() {
    for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
      if (saved_[fd] < 0) continue;
      dup2(saved_[fd], fd);
      close(saved_[fd]);
    }
  }
  QuietRank(const QuietRank &) = delete;
  QuietRank &operator=(const QuietRank &) = delete;

 private:
  int saved_[3] = {-1, -1, -1};
};

// The progress line goes to a terminal, or through the launcher, which
// forwards rank 0's standard error by a pipe; not into a file.
// mpirun hands rank 0's standard error on through a pipe, so a terminal is
// not seen here: the progress line is shown when asked for, never in a log.
bool progress_allowed() {
  return screen_cli::flag_option("progress");
}

std::int64_t chunk_option(std::int64_t pairs, int ranks) {
  const char *text = screen_cli::string_option("chunk");
  if (text == nullptr) return screen::chunk_pairs(pairs, ranks);
  const auto value = screen::parse_integer(text, 1, 1'000'000'000'000);
  if (!value) {
    screen_cli::fail(std::string("bad value for --chunk: '") + text +
                     "' (expected a whole number of at least 1)");
  }
  return *value;
}

// The screen ended before it was complete: the complete rows stay for a
// resume, the message says why and where they are, and the job ends.
[[noreturn]] void end_early(screen_cli::Output &output, const screen_cli::Screen &screen,
                            std::int64_t done, const std::string &why, int status,
                            bool end_job = true) {
  if (output.show_progress) std::fprintf(stderr, "\r\033[K");
  std::string where = "the output is incomplete";
  try {
    if (output.file) {
      output.file->keep_for_resume();
      done = output.file->checkpoint_pairs();
      where =
          output.resumable
              ? output.name + " was left as it was; the rows so far are kept in " +
                    output.file->partial_path() + ": run the same command with --resume to continue"
              : output.name + " was left as it was (a screen of standard input cannot be resumed)";
    } else {
      output.stream->flush();
    }
  } catch (const screen::WriteError &e) {
    where = "cannot write " + e.path + ": " + std::strerror(e.error);
  }
  std::fprintf(stderr, "%s: %s after %lld of %lld pairs; %s\n", program(), why.c_str(),
               static_cast<long long>(done - screen.first),
               static_cast<long long>(screen.last - screen.first), where.c_str());
  if (end_job) screen_mpi::abort_job(status);
  std::fflush(nullptr);
  std::_Exit(status);
}

// A screen that was asked to stop: by SIGTERM the launcher is ending every
// rank already.
[[noreturn]] void end_interrupted(screen_cli::Output &output, const screen_cli::Screen &screen,
                                  std::int64_t done) {
  const int sig = screen::interrupt_signal();
  if (sig == SIGTERM) {
    end_early(output, screen, done, "ended by SIGTERM (a rank failed, or the job was cancelled)",
              kExitFailure, false);
  }
  end_early(output, screen, done, "interrupted", 128 + sig);
}

screen_cli::ProgramText program_text() {
  screen_cli::ProgramText text;
  text.summary =
      "compare query compounds with target compounds, or all pairs in one file, on the "
      "processes of an MPI job (started by mpirun or srun)";
  text.extra = {"chunk        str", "progress     flag"};
  text.extra_help = {
      "\t--chunk <n>         pairs handed out at a time (a share of the screen)",
      "\t--progress          the progress line, for a terminal that mpirun's pipe hides"};
  return text;
}

// What the ranks set up: the options, the inputs and (on rank 0) the output.
struct SetUp {
  screen_cli::Options options;
  screen_cli::Screen screen;
  screen_cli::Output output;
};

// Every rank learns whether every rank's step of the set-up went well
// (`failure` empty); when one failed, rank 0 said why and MPI is finished.
bool agreed(screen_mpi::Session &mpi, const std::string &failure) {
  if (screen_mpi::all_well(failure, program())) return true;
  mpi.finish();
  return false;
}

// The steps of the set-up; each says what went wrong on this rank, or "".
std::string read_options(SetUp &job) {
  try {
    job.options = screen_cli::read_options();
  } catch (const SetupFailed &f) {
    return f.message;
  }
  return "";
}

std::string open_inputs(const screen_mpi::Session &mpi, SetUp &job) {
  try {
    FILE *standard_input = nullptr;
    for (const char *path : job.options.input_paths()) {
      if (std::strcmp(path, "-") == 0) standard_input = screen_mpi::share_standard_input(mpi);
    }
    const QuietRank quiet;
    job.screen = screen_cli::open_screen(job.options, standard_input);
  } catch (const SetupFailed &f) {
    return f.message;
  } catch (const std::system_error &e) {
    return std::string("cannot read standard input: ") + std::strerror(e.code().value());
  }
  return "";
}

// Chunks are numbered alike everywhere only when every rank sees the same
// records (a file system that shows an older copy to some node, say).
// Every rank must read the same records: a node with a stale copy of a file
// (same size, other content) would mix another screen into the output.
std::string same_records(const SetUp &job) {
  std::vector<std::int64_t> numbers{static_cast<std::int64_t>(job.screen.queries->size()),
                                    static_cast<std::int64_t>(job.screen.targets->size())};
  for (const char *path : job.options.input_paths()) {
    if (std::strcmp(path, "-") == 0) continue;  // rank 0's copy is everyone's
    const std::optional<screen::FileSum> sum = screen::file_sum(path);
    numbers.push_back(sum ? static_cast<std::int64_t>(sum->size) : -1);
    numbers.push_back(sum ? static_cast<std::int64_t>(sum->crc) : -1);
  }
  return screen_mpi::same_as_rank_0(
      std::move(numbers),
      "the inputs hold other records than on rank 0 (the ranks must read the same files)");
}

std::string open_output(const screen_mpi::Session &mpi, SetUp &job) {
  if (mpi.rank() != 0) return "";
  try {
    job.output = screen_cli::open_output(job.options, job.screen, progress_allowed);
  } catch (const SetupFailed &f) {
    return f.message;
  }
  return "";
}

// Rank 0's screen with every rank, up to its closed rows; a screen that
// ends early ends the job here.
screen::RunStats screen_with_ranks(const screen_mpi::Session &mpi, SetUp &job,
                                   const screen_mpi::WorkPlan &plan, screen::ChunkJoiner &joiner,
                                   const screen::Progress &progress) {
  screen_cli::Output &output = job.output;
  const screen_cli::Screen &screen = job.screen;
  // Outlives the leader: its own thread reads the options.
  const screen::StreamOptions stream_options = screen_cli::stream_options(job.options, screen);
  screen_mpi::Leader lead(mpi, *screen.queries, *screen.targets, screen.triangle, stream_options);
  screen::RunStats stats;
  try {
    stats = lead.run(plan, joiner, progress, [] { return screen::interrupt_signal() != 0; });
  } catch (const screen_mpi::RankFailed &f) {
    end_early(output, screen, joiner.done(),
              "rank " + std::to_string(f.rank) + " failed (" + f.message + ")", kExitFailure);
  } catch (const screen::WriteError &) {
    screen_cli::screen_failed(output);
  } catch (...) {
    end_early(output, screen, joiner.done(),
              "rank 0 failed (" + screen_cli::failure_message(std::current_exception()) + ")",
              kExitFailure);
  }
  if (stats.stopped) end_interrupted(output, screen, joiner.done());
  try {
    screen_cli::close_rows(output, stats);
  } catch (...) {
    screen_cli::screen_failed(output);
  }
  return stats;
}

// Rank 0 from here on: the other ranks compute what it hands out. A
// failure now ends the whole job; SIGINT and SIGTERM (sent by the launcher
// when a rank died, or by a cancelled job) end the screen.
int lead(screen_mpi::Session &mpi, SetUp &job) {
  screen_cli::on_failure([](const std::string &message) {
    std::fprintf(stderr, "%s: %s\n", program(), message.c_str());
    screen_mpi::abort_job(kExitFailure);
  });
  screen::catch_interrupts(true);

  const auto start = std::chrono::steady_clock::now();
  auto seconds = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  const screen_cli::Screen &screen = job.screen;
  screen_cli::Output &output = job.output;
  const screen_mpi::WorkPlan plan{screen.first, screen.last,
                                  chunk_option(screen.last - screen.first, mpi.size())};
  std::function<void(const screen::PairResult &)> on_kept;
  if (output.html != nullptr) {
    on_kept = [&](const screen::PairResult &r) { output.html_results.push_back(r); };
  }
  screen::ChunkJoiner joiner(screen.space, screen.first, screen.last, job.options.run.top,
                             output.sink(), on_kept);
  const screen::RunStats stats =
      screen_with_ranks(mpi, job, plan, joiner, screen_cli::progress_display(output, seconds));
  mpi.finish();
  screen_cli::on_failure({});
  return screen_cli::finish(job.options, job.screen, output, stats, seconds());
}

}  // namespace

int main(int argc, char **argv) {
  const screen_cli::ProgramText text = program_text();
  {
    const QuietRank quiet;
    // Help and version are printed here, without starting MPI.
    screen_cli::parse_command_line(argc, argv, text);
  }
  screen_mpi::Session mpi(&argc, &argv);

  // Set-up: the options, the inputs and (on rank 0) the output. Every rank
  // does the same and any failure ends every rank alike.
  screen_cli::on_failure([](const std::string &message) { throw SetupFailed{message}; });
  SetUp job;
  if (!agreed(mpi, read_options(job))) return kExitFailure;
  if (job.options.merge) {
    // Joining finished parts is one process's work.
    mpi.finish();
    screen_cli::on_failure({});
    return mpi.rank() == 0 ? screen_cli::run_merge(job.options) : 0;
  }
  if (!agreed(mpi, open_inputs(mpi, job))) return kExitFailure;
  if (!agreed(mpi, same_records(job))) return kExitFailure;
  if (!agreed(mpi, open_output(mpi, job))) return kExitFailure;
  if (mpi.rank() != 0) {
    screen_cli::on_failure({});
    screen_mpi::follow(mpi, *job.screen.queries, *job.screen.targets, job.screen.triangle,
                       screen_cli::stream_options(job.options, job.screen));
    mpi.finish();
    return 0;
  }
  return lead(mpi, job);
}
