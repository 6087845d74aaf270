#include "search/checksum.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace screen {

std::uint32_t crc32_of(std::string_view bytes, std::uint32_t crc) {
  return static_cast<std::uint32_t>(
      crc32_z(crc, reinterpret_cast<const Bytef *>(bytes.data()), bytes.size()));
}

std::optional<FileSum> file_sum(const std::string &path, std::uint64_t limit) {
  const std::unique_ptr<FILE, int (*)(FILE *)> fp(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!fp) return std::nullopt;
  std::vector<char> buf(1 << 20);
  FileSum sum;
  while (sum.size < limit) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), limit - sum.size));
    const std::size_t got = std::fread(buf.data(), 1, want, fp.get());
    sum.crc = crc32_of({buf.data(), got}, sum.crc);
    sum.size += got;
    if (got < want) break;
  }
  if (std::ferror(fp.get())) return std::nullopt;
  return sum;
}

std::string hex32(std::uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

}  // namespace screen
