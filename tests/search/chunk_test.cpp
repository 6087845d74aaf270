// Chunks of a screen joined in order give the rows of the whole screen, for
// any chunk size, with --min, --top and a range that starts inside a query;
// the cache hands out the records of its source.
#include "search/chunk.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "text_sink.h"
namespace {

using screen::Format;

std::unique_ptr<screen::RecordSource> source(const char *file) {
  FILE *fp = std::fopen(file, "r");
  return fp ? screen::RecordSource::index_qtr(fp) : nullptr;
}

struct Case {
  bool triangle;
  double min;  // < 0: none
  int top;
  Format format;
};

TEST(ScreenChunk, JoinedChunksWriteTheRowsOfTheWholeRange) {
  const Case cases[] = {{true, -1, 0, Format::kTsv},
                        {false, 0.3, 0, Format::kJsonl},
                        {false, -1, 2, Format::kTsv},
                        {true, 0.4, 3, Format::kJsonl}};
  auto src = source(TAVIRON_EXAMPLES_DIR "/compounds.qtr");
  ASSERT_TRUE(src);
  // Blocks of 3 records and room for two of them: records are read again.
  screen::CachedSource cached(*src, src->bytes(0, 6), 3);
  for (const Case &c : cases) {
    SCOPED_TRACE(&c - cases);
    screen::StreamOptions o;
    if (c.min >= 0) o.run.min = c.min;
    o.run.top = c.top;
    o.run.threads = 1;
    o.format = c.format;
    // Targets in blocks of 2, so that loads of the cache follow each other
    // within one chunk.
    o.target_block = 2;
    const screen::PairSpace space{src->size(), src->size(), c.triangle};
    // The whole screen, and a range that starts and ends inside a query.
    for (const auto &[first, last] : {std::pair<std::int64_t, std::int64_t>{0, space.total()},
                                      {space.start(2) + 1, space.start(9) + 2}}) {
      TextSink whole;
      const screen::RunStats expected =
          screen::run_stream(*src, *src, c.triangle, first, last, o, whole);
      for (const std::int64_t size : {1, 5, 23, 1000}) {
        TextSink joined;
        std::vector<screen::PairResult> kept;
        screen::ChunkJoiner joiner(space, first, last, c.top, joined,
                                   [&](const screen::PairResult &r) { kept.push_back(r); });
        for (std::int64_t a = first; a < last; a += size) {
          joiner.add(screen::run_chunk(*src, cached, c.triangle, a, std::min(last, a + size), o));
        }
        EXPECT_EQ(joined.text, whole.text) << "chunks of " << size;
        EXPECT_EQ(joiner.done(), last);
        EXPECT_EQ(joiner.stats().kept, expected.kept);
        EXPECT_EQ(joiner.stats().skipped, expected.skipped);
        EXPECT_EQ(static_cast<std::int64_t>(kept.size()), expected.kept);
        // Every checkpoint is a point to resume from: the rows before it
        // are those of the pairs before it.
        if (size != 5) continue;
        for (const auto &[pairs, bytes] : joined.checkpoints) {
          TextSink rest;
          screen::run_stream(*src, *src, c.triangle, pairs, last, o, rest);
          EXPECT_EQ(joined.text.substr(0, bytes) + rest.text, whole.text) << "from " << pairs;
        }
      }
    }
  }
  EXPECT_GT(cached.reads(), (src->size() + 2) / 3);
}

TEST(ScreenChunk, ChunkSize) {
  EXPECT_EQ(screen::chunk_pairs(1000, 4), 256);
  EXPECT_EQ(screen::chunk_pairs(64'000'000, 2), 1'000'000);
  EXPECT_EQ(screen::chunk_pairs(10, 1, 1), 1);
}

}  // namespace
