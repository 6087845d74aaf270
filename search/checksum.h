// Checksums of outputs and inputs: CRC-32 (zlib's), fast enough to run over
// every byte a screen writes or reads.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace screen {

// The CRC-32 of `bytes`, continuing `crc` (0 to start).
std::uint32_t crc32_of(std::string_view bytes, std::uint32_t crc = 0);

struct FileSum {
  std::uint64_t size = 0;  // bytes summed
  std::uint32_t crc = 0;
};
// The size and CRC-32 of the first `limit` bytes of a file (all of it by
// default); nullopt when it cannot be read.
std::optional<FileSum> file_sum(const std::string &path,
                                std::uint64_t limit = std::numeric_limits<std::uint64_t>::max());

// Eight lower-case hexadecimal digits.
std::string hex32(std::uint32_t value);

}  // namespace screen
