// Rows of a screen kept in memory, with the points it called complete.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "search/stream.h"

struct TextSink final : screen::RowSink {
  std::string text;
  std::vector<std::pair<std::int64_t, std::size_t>> checkpoints;  // (pairs, bytes)
  void write(std::string_view rows) override { text += rows; }
  void checkpoint(std::int64_t pairs) override { checkpoints.emplace_back(pairs, text.size()); }
};
