// The command line of the screening programs: options, inputs, output,
// messages and the end of a run.
//
// taviron-search and taviron-search-mpi take the same options and write the
// same output; they differ only in who computes the pairs. Both read their
// options, open their inputs and their output, and end a run with these
// functions; a failure prints one line naming the program and ends the
// process with status 9, unless a failure handler is set (see on_failure).
#pragma once

#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "atomic_file.h"
#include "search/parts.h"
#include "search/screen.h"
#include "search/output.h"
#include "search/stream.h"
#include "search/shard.h"

namespace screen_cli {

constexpr int kExitFailure = 9;

// What the help text says about the program; `extra` lists options of its
// own, "name   kind" rows as the option table takes them, each with its help
// line in `extra_help`.
struct ProgramText {
  const char *summary = "compare query compounds with target compounds, or all pairs in one file";
  std::vector<std::string> extra;
  std::vector<std::string> extra_help;
};

// Parses the command line (option errors end the process, as every option
// facility error does) and prints the help or version text when asked to.
void parse_command_line(int argc, char **argv, const ProgramText &text);

// The program's name as it was started.
const char *program();

// The value of an option of the program's own (ProgramText::extra).
const char *string_option(const char *name);
// True when the flag option `name` was given.
bool flag_option(const char *name);

// Prints "PROGRAM: message" and ends the process with status 9, or hands the
// message to the failure handler when one is set; the handler must not
// return (it throws).
[[noreturn]] void fail(const std::string &message);
void on_failure(std::function<void(const std::string &)> handler);

// The options of a screen, each checked.
struct Options {
  std::vector<const char *> words;  // QUERIES TARGETS, or the parts of --merge
  std::vector<const char *> entries;
  const char *pairs_file = nullptr;
  const char *output_fn = nullptr;
  const char *html_fn = nullptr;
  int html_max = 200;
  bool quiet = false;
  bool names = false;
  bool substructure = false;  // rows end with the pair's common substructure
  bool resume = false;
  bool merge = false;
  bool no_self = false;  // leave out each query's own record (QUERIES and TARGETS one file)
  screen::Format format = screen::Format::kTsv;
  screen::RunOptions run;
  int block = 1024;
  std::optional<screen::Shard> shard;

  // The inputs named on the command line, the query file first ("-" is
  // standard input); one when both are the same.
  std::vector<const char *> input_paths() const;
};

Options read_options();

// --merge: joins the parts named by the words; returns the exit status.
int run_merge(const Options &options);

// The inputs of a screen and the pairs to compute.
struct Screen {
  struct Input;
  Screen();
  ~Screen();
  Screen(Screen &&) noexcept;
  Screen &operator=(Screen &&) noexcept;

  screen::RecordSource *queries = nullptr;
  screen::RecordSource *targets = nullptr;
  bool triangle = false;  // --pairs
  screen::PairSpace space;
  std::int64_t first = 0, last = 0;  // the pairs of this run: its shard, after a resume

  std::vector<std::unique_ptr<Input>> inputs;
  std::unique_ptr<screen::RecordSource> selected;  // the -e queries
  // With --no-self: the position among the targets of query q's own record.
  std::function<std::int64_t(std::int64_t)> own_target;
};

// Opens the inputs, looks up the -e queries and sets the range of pairs
// (the shard). `standard_input`, when set, is a copy of standard input to
// read instead of it (owned by the screen).
Screen open_screen(const Options &options, FILE *standard_input = nullptr);

// The rows of a screen on their way out: FILE through FILE.part with a
// resume state, or a stream written directly.
struct Output {
  std::string name;                        // as messages show it
  std::string path;                        // -o FILE, or empty
  std::optional<screen::PartRecord> part;  // what a shard leaves beside FILE
  FILE *out = stdout;
  std::unique_ptr<screen::SafeOutput> file;
  std::unique_ptr<screen::StreamSink> stream;
  std::unique_ptr<AtomicFile> html;              // the --html page, replaced only when complete
  std::vector<screen::PairResult> html_results;  // kept rows, for the --html report
  bool resumable = true;
  bool show_progress = false;

  screen::RowSink &sink() {
    return file ? static_cast<screen::RowSink &>(*file) : static_cast<screen::RowSink &>(*stream);
  }
};

// Opens the output (and the --html page) only now that the inputs were read;
// a resumed screen starts where the interrupted one stopped (screen.first).
// `progress_allowed` decides the progress line when standard error is not a
// terminal. Catches SIGINT and SIGTERM while FILE.part is written.
Output open_output(const Options &options, Screen &screen,
                   const std::function<bool()> &progress_allowed = {});

// The engine and row settings of the screen (and the pairs it leaves out).
screen::StreamOptions stream_options(const Options &options, const Screen &screen);

// The progress display of the output (empty when it shows none); `seconds`
// is the time since the screen began.
screen::Progress progress_display(const Output &output, const std::function<double()> &seconds);

// After the screen: an interrupted one keeps its complete rows for --resume,
// a complete one becomes FILE (or is flushed). Throws what the writes threw.
void close_rows(Output &output, const screen::RunStats &stats);

// What a failed computation says: out of memory, an input that cannot be
// read, or the exception's own text.
std::string failure_message(std::exception_ptr failure);

// Ends a failed screen: the current exception (a failed write, memory, an
// input that cannot be read) becomes the message; FILE is left as it was.
[[noreturn]] void screen_failed(Output &output);

// Ends a screen that ran: an interrupted one keeps its rows for --resume and
// says so; a complete one closes the output, writes the --html page and the
// summary line. Returns the exit status.
int finish(const Options &options, Screen &screen, Output &output, const screen::RunStats &stats,
           double seconds);

}  // namespace screen_cli
