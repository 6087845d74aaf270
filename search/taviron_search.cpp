// taviron-search: similarity of many compound pairs on every core.
//
// Compares every query record with every target record, or every pair of
// records within one file, with the same engine and options as taviron, and
// writes one line per pair in pair order.
#include <chrono>
#include <new>

#include "search/cli.h"

namespace {

int search(int argc, char **argv) {
  const screen_cli::ProgramText text;
  screen_cli::parse_command_line(argc, argv, text);
  const screen_cli::Options options = screen_cli::read_options();
  if (options.merge) return screen_cli::run_merge(options);

  screen_cli::Screen screen = screen_cli::open_screen(options);
  screen_cli::Output output = screen_cli::open_output(options, screen);

  const auto start = std::chrono::steady_clock::now();
  auto seconds = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  screen::StreamOptions stream_options = screen_cli::stream_options(options, screen);
  if (output.html != nullptr) {
    stream_options.on_kept = [&](const screen::PairResult &r) { output.html_results.push_back(r); };
  }
  screen::RunStats stats;
  try {
    stats = screen::run_stream(*screen.queries, *screen.targets, screen.triangle, screen.first,
                               screen.last, stream_options, output.sink(),
                               screen_cli::progress_display(output, seconds),
                               [] { return screen::interrupt_signal() != 0; });
    screen_cli::close_rows(output, stats);
  } catch (...) {
    screen_cli::screen_failed(output);
  }
  return screen_cli::finish(options, screen, output, stats, seconds());
}

}  // namespace

int main(int argc, char **argv) {
  // Reading the inputs may run out of memory too, before the screen's own
  // handling takes over: one line and status 9, never an abort.
  try {
    return search(argc, argv);
  } catch (const std::bad_alloc &) {
    screen_cli::fail("out of memory");
  }
}
