// The record a part of a sharded screen keeps of itself, and the merge's
// check of its parts.
//
// A shard written with -o FILE leaves FILE.shard beside FILE: which part of
// how many it is, its pairs, the size and CRC-32 of FILE, and the screen it
// belongs to (its options and the content of its inputs, without their paths,
// so that parts computed on machines with other paths still merge). The
// merge refuses a part without its record, one changed or cut since, a part
// of another screen, a part given twice and a missing part; parts given out
// of order (a shell glob sorts 1, 10, 2) are put in order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "search/shard.h"

namespace screen {

struct PartRecord {
  Shard shard;             // part K of N
  std::int64_t first = 0;  // its pairs [first, last)
  std::int64_t last = 0;
  std::uint64_t bytes = 0;  // size of the output...
  std::uint32_t crc = 0;    // ...and its CRC-32
  std::string screen;       // "key value" lines naming the screen
};

std::string part_record_text(const PartRecord &record);
std::optional<PartRecord> parse_part_record(std::string_view text);

// Where the record of the output `path` is kept.
std::string part_record_path(const std::string &path);

// Checks every part against its record and the others; returns the paths in
// part order. Throws MergeError naming the part at fault.
std::vector<std::string> ordered_parts(const std::vector<std::string> &paths);

}  // namespace screen
