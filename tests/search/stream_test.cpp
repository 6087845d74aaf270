// Screens in blocks: the same rows as the whole-list screen for any block
// size, a resumption from any saved point completes the output exactly, and
// shards tile the pairs with balanced work.
#include "search/stream.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cpdio.h"
#include "text_sink.h"
#include "search/shard.h"

namespace {

using screen::Format;

struct Case {
  const char *file;
  bool triangle;
  double min;  // < 0: none
  int top;
  int block;
  Format format;
};

screen::StreamOptions options_of(const Case &c) {
  screen::StreamOptions o;
  if (c.min >= 0) o.run.min = c.min;
  o.run.top = c.top;
  o.run.threads = 2;
  o.run.chunk = 2;
  o.format = c.format;
  o.target_block = c.block;
  o.min_query_block = 1;
  o.max_query_block = c.block;
  return o;
}

std::unique_ptr<screen::RecordSource> source(const char *file) {
  FILE *fp = std::fopen(file, "r");
  return fp ? screen::RecordSource::index_qtr(fp) : nullptr;
}

// The rows of the whole-list screen of the file.
std::string reference(const Case &c) {
  FILE *fp = std::fopen(c.file, "r");
  CompList *list = read_CPDMOL_list_QTR(fp);
  std::fclose(fp);
  std::vector<CPDMOL *> mols;
  for (int k = 1; k <= complist_numberof(list); k++) {
    mols.push_back(static_cast<CPDMOL *>(complist_getdata(list, k)));
  }
  std::string out = screen::header(c.format);
  screen::run_screen(mols, mols, c.triangle, options_of(c).run, [&](const screen::PairResult &r) {
    screen::append_row(out, c.format, r, mols[r.query]->name, mols[r.target]->name);
  });
  return out;
}

// Rows of the pairs [first, last), without the header.
TextSink stream(const Case &c, std::int64_t first, std::int64_t last) {
  auto src = source(c.file);
  TextSink sink;
  screen::run_stream(*src, *src, c.triangle, first, last, options_of(c), sink);
  return sink;
}

const std::vector<Case> &cases() {
  static const std::vector<Case> all = {
      {TAVIRON_EXAMPLES_DIR "/compounds.qtr", true, -1, 0, 3, Format::kTsv},
      {TAVIRON_EXAMPLES_DIR "/compounds.qtr", false, 0.3, 0, 4, Format::kJsonl},
      {TAVIRON_EXAMPLES_DIR "/compounds.qtr", false, -1, 2, 5, Format::kTsv},
      {TAVIRON_EXAMPLES_DIR "/compounds.qtr", true, 0.4, 3, 1, Format::kJsonl},
      {TAVIRON_EXAMPLES_DIR "/compounds.qtr", true, -1, 1, 1000, Format::kTsv},
  };
  return all;
}

TEST(ScreenRun, BlocksGiveTheWholeListRowsAndResumeFromEverySavedPoint) {
  for (const Case &c : cases()) {
    SCOPED_TRACE(std::to_string(&c - cases().data()));
    auto src = source(c.file);
    ASSERT_TRUE(src);
    const screen::PairSpace space{src->size(), src->size(), c.triangle};
    const std::string full = reference(c);
    const std::string head = screen::header(c.format);
    TextSink whole = stream(c, 0, space.total());
    EXPECT_EQ(head + whole.text, full);
    ASSERT_FALSE(whole.checkpoints.empty());
    EXPECT_EQ(whole.checkpoints.back(), std::make_pair(space.total(), whole.text.size()));
    // A run continued from a saved point writes exactly the rest (a spread
    // of the points, the first and the last among them).
    const std::size_t n = whole.checkpoints.size();
    for (const std::size_t i : {std::size_t{0}, n / 4, n / 2, 3 * n / 4, n - 1}) {
      const auto [pairs, bytes] = whole.checkpoints[i];
      EXPECT_EQ(whole.text.substr(0, bytes) + stream(c, pairs, space.total()).text, whole.text)
          << "from pair " << pairs;
    }
  }
}

// A sink that saves at every chunk, passes under way included, as the
// output file does; each save keeps what the spill file held then. Given a
// save, it hands the screen that save to go on from.
struct PassSink final : screen::RowSink {
  struct Save {
    std::int64_t pairs = 0;
    std::size_t bytes = 0;
    std::optional<screen::PassPoint> pass;
    std::string spill;
  };
  std::string text;
  std::vector<Save> saves;
  std::optional<screen::PassPoint> pass;
  std::unique_ptr<FILE, int (*)(FILE *)> spill{std::tmpfile(), std::fclose};
  std::optional<Save> resumed;

  explicit PassSink(std::optional<Save> from = {}) : pass(from ? from->pass : std::nullopt) {
    if (from && from->pass) {
      std::fwrite(from->spill.data(), 1, from->spill.size(), spill.get());
      resumed = std::move(from);
    }
  }
  void write(std::string_view rows) override { text += rows; }
  void checkpoint(std::int64_t pairs) override {
    Save save{pairs, text.size(), pass, {}};
    if (pass) {
      save.spill.resize(pass->spill_bytes);
      EXPECT_EQ(pread(fileno(spill.get()), save.spill.data(), save.spill.size(), 0),
                static_cast<ssize_t>(save.spill.size()));
    }
    saves.push_back(std::move(save));
  }
  void pass_checkpoint(std::int64_t pairs, const screen::PassPoint *p) override {
    pass = p ? std::optional(*p) : std::nullopt;
    checkpoint(pairs);
  }
  bool save_due() const override { return true; }
  FILE *spill_file(bool from_save) override {
    if (!from_save) {
      EXPECT_EQ(ftruncate(fileno(spill.get()), 0), 0);
    }
    std::fseek(spill.get(), 0, SEEK_END);
    return spill.get();
  }
  const screen::PassPoint *resumed_pass() const override {
    return resumed ? &*resumed->pass : nullptr;
  }
};

// The rows of the pairs [first, last) after `from`, an earlier run's save.
std::unique_ptr<PassSink> resumed_stream(const Case &c, const PassSink::Save &from,
                                         std::int64_t last) {
  auto src = source(c.file);
  auto sink = std::make_unique<PassSink>(from);
  screen::run_stream(*src, *src, c.triangle, from.pairs, last, options_of(c), *sink);
  return sink;
}

// A screen stopped anywhere, inside a pass too, and resumed (then stopped
// and resumed again) writes exactly the rows of the screen never stopped.
TEST(ScreenRun, ResumesInsideAPassFromEverySavedPoint) {
  for (const Case &c : cases()) {
    SCOPED_TRACE(std::to_string(&c - cases().data()));
    auto src = source(c.file);
    const screen::PairSpace space{src->size(), src->size(), c.triangle};
    PassSink whole;
    screen::run_stream(*src, *src, c.triangle, 0, space.total(), options_of(c), whole);
    EXPECT_EQ(whole.text, stream(c, 0, space.total()).text);
    const auto inside = std::count_if(whole.saves.begin(), whole.saves.end(),
                                      [](const PassSink::Save &s) { return s.pass.has_value(); });
    if (c.block > 1 && c.block < space.queries) {
      EXPECT_GT(inside, 0);
    }
    for (std::size_t i = 0; i < whole.saves.size(); i += 1 + whole.saves.size() / 12) {
      const PassSink::Save &save = whole.saves[i];
      const std::string before = whole.text.substr(0, save.bytes);
      const auto rest = resumed_stream(c, save, space.total());
      ASSERT_EQ(before + rest->text, whole.text) << "from save " << i;
      // Stopped again in the pass it went on with: its first save there.
      const auto again = std::find_if(rest->saves.begin(), rest->saves.end(),
                                      [](const PassSink::Save &s) { return s.pass.has_value(); });
      if (again == rest->saves.end()) continue;
      EXPECT_EQ(before + rest->text.substr(0, again->bytes) +
                    resumed_stream(c, *again, space.total())->text,
                whole.text)
          << "from save " << i << ", then " << again - rest->saves.begin();
    }
  }
}

TEST(ScreenRun, ShardsTileThePairsAndBalanceTheWork) {
  const Case c{TAVIRON_EXAMPLES_DIR "/compounds.qtr", true, -1, 0, 4, Format::kTsv};
  auto src = source(c.file);
  for (const bool triangle : {true, false}) {
    const screen::PairSpace space{src->size(), src->size(), triangle};
    const auto atoms = [&](std::int64_t i) { return src->atoms(static_cast<int>(i)); };
    double total_work = 0, largest = 0;
    for (std::int64_t q = 0; q < space.queries; q++) {
      for (std::int64_t t = space.first(q); t < space.targets; t++) {
        const double w = (atoms(q) + 1.0) * (atoms(t) + 1.0);
        total_work += w;
        largest = std::max(largest, w);
      }
    }
    for (const int parts : {1, 2, 3, 7}) {
      std::int64_t expected_first = 0;
      std::string joined;
      const Case ct{c.file, triangle, -1, 0, 4, Format::kTsv};
      for (int k = 1; k <= parts; k++) {
        const auto [first, last] = screen::shard_range(space, {k, parts}, atoms, atoms);
        EXPECT_EQ(first, expected_first);
        expected_first = last;
        double work = 0;
        for (std::int64_t q = 0; q < space.queries; q++) {
          for (std::int64_t t = space.first(q); t < space.targets; t++) {
            const std::int64_t p = space.start(q) + (t - space.first(q));
            if (p >= first && p < last) work += (atoms(q) + 1.0) * (atoms(t) + 1.0);
          }
        }
        EXPECT_LE(work, total_work / parts + largest) << k << "/" << parts;
        joined += stream(ct, first, last).text;
      }
      EXPECT_EQ(expected_first, space.total());
      EXPECT_EQ(joined, stream(ct, 0, space.total()).text);
    }
  }
}

// The rows of `text` less those of a record with itself (names are unique).
std::string without_self_rows(const std::string &text) {
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at) + 1;
    const std::string_view line(text.data() + at, end - at);
    const std::size_t tab = line.find('\t');
    if (line.substr(tab + 1).substr(0, tab + 1) != line.substr(0, tab + 1)) out += line;
    at = end;
  }
  return out;
}

// A screen that leaves out each query's own record: the rows of the whole
// screen less those of a record with itself, and with --top the best of the
// rest (as TopSelector picks them), for any block size and any range.
TEST(ScreenRun, LeavesOutEachQuerysOwnRecord) {
  auto src = source(TAVIRON_EXAMPLES_DIR "/compounds.qtr");
  ASSERT_TRUE(src);
  const screen::PairSpace space{src->size(), src->size(), false};
  using Pairs = std::vector<std::pair<int, int>>;
  // The whole screen, and a range that cuts query 3 after its own record's
  // place and query 9 before it.
  for (const auto &[first, last] : {std::pair<std::int64_t, std::int64_t>{0, space.total()},
                                    {space.start(3) + 2, space.start(9) + 5}}) {
    for (const int block : {1, 3, 1000}) {
      SCOPED_TRACE("block " + std::to_string(block) + ", from " + std::to_string(first));
      screen::StreamOptions o = options_of({"", false, -1, 0, block, Format::kTsv});
      std::vector<screen::PairResult> all;
      o.on_kept = [&](const screen::PairResult &r) { all.push_back(r); };
      TextSink whole, left_out, best;
      screen::run_stream(*src, *src, false, first, last, o, whole);
      o.own_target = [](std::int64_t q) { return q; };
      o.on_kept = {};
      const screen::RunStats stats =
          screen::run_stream(*src, *src, false, first, last, o, left_out);
      EXPECT_EQ(left_out.text, without_self_rows(whole.text));
      EXPECT_EQ(stats.pairs, last - first);

      Pairs ranked, expected;
      o.run.top = 2;
      o.on_kept = [&](const screen::PairResult &r) { ranked.emplace_back(r.query, r.target); };
      screen::run_stream(*src, *src, false, first, last, o, best);
      std::sort(all.begin(), all.end(), [](const auto &x, const auto &y) {
        return std::pair(x.query, x.target) < std::pair(y.query, y.target);
      });
      screen::TopSelector select(
          2, [&](const screen::PairResult &r) { expected.emplace_back(r.query, r.target); });
      for (const screen::PairResult &r : all) {
        if (r.query != r.target) select.add(r);
      }
      select.finish();
      EXPECT_EQ(ranked, expected);
    }
  }
}

TEST(ScreenRun, ShardText) {
  EXPECT_EQ(screen::parse_shard("2/3")->part, 2);
  EXPECT_EQ(screen::parse_shard("1/1")->parts, 1);
  for (const char *bad : {"0/3", "4/3", "3", "/3", "1/", "a/b", "1/3/4", "-1/3", "1/0"}) {
    EXPECT_FALSE(screen::parse_shard(bad)) << bad;
  }
}

}  // namespace
