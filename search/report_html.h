// The HTML report of a screen: one self-contained page with the run's
// summary, the kept rows as a table that sorts by any column, and the
// depictions of the first rows, drawn as the reader scrolls to them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "depict/depict.h"
#include "search/screen.h"

namespace html_report {

// What the page says about the run.
struct Summary {
  std::vector<std::string> inputs;   // input files as named
  bool all_pairs = false;            // --pairs: every record with each later one
  bool no_self = false;              // --no-self: each query's own record left out
  screen::RunOptions run;            // the screen's options; its engine draws the pairs again
  std::vector<std::string> entries;  // -e: the queries picked, as given
  screen::Format format = screen::Format::kTsv;
  bool names = false;           // --names
  std::string name_field;       // --name-field (empty: the title line)
  long long max_atoms = 10000;  // --max-atoms and --max-depth of molecule inputs
  long long max_depth = 10000;
  int block = 1024;          // --block
  std::string shard;         // --shard K/N (empty: the whole screen)
  int html_max = 200;        // --html-max
  std::int64_t pairs = 0;    // pairs in the screen
  std::int64_t skipped = 0;  // ruled out by the bound
  double seconds = 0.0;      // time the screen took
};

// One kept row with its two records.
struct Row {
  screen::PairResult result;
  CPDMOL *query = nullptr;
  CPDMOL *target = nullptr;
};

struct Options {
  int max_depictions = 200;  // rows drawn, from the first
  depict::Options drawing;   // how each pair is drawn
};

// The whole page. The pairs drawn are computed again on the calling thread's
// engine, configured here with the screen's engine options.
std::string page(const Summary &summary, std::span<const Row> rows, const Options &options = {});

}  // namespace html_report
