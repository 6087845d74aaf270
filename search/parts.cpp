#include "search/parts.h"

#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "search/checksum.h"
#include "search/output.h"

namespace screen {

namespace {

constexpr const char *kTag = "taviron-search part 1";

PartRecord read_record(const std::string &path) {
  const std::string where = part_record_path(path);
  std::ifstream in(where, std::ios::binary);
  if (!in) {
    throw MergeError{path + ": no record of its part (" + where +
                     " is missing: parts are written with --shard K/N -o FILE)"};
  }
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::optional<PartRecord> record = parse_part_record(text);
  if (!record) throw MergeError{where + ": not a part record of taviron-search"};
  const std::optional<FileSum> sum = file_sum(path);
  if (!sum || sum->size != record->bytes || sum->crc != record->crc) {
    throw MergeError{path + ": changed or cut since its shard was written (its size or " +
                     "checksum differs from " + where + ")"};
  }
  return *record;
}

}  // namespace

std::string part_record_path(const std::string &path) {
  return path + ".shard";
}

std::string part_record_text(const PartRecord &r) {
  std::ostringstream out;
  out << kTag << "\npart " << r.shard.part << "/" << r.shard.parts << "\npairs " << r.first << " "
      << r.last << "\nbytes " << r.bytes << "\ncrc32 " << hex32(r.crc) << "\n"
      << r.screen;
  return out.str();
}

std::optional<PartRecord> parse_part_record(std::string_view text) {
  std::istringstream in{std::string(text)};
  std::string tag, key, part, crc;
  PartRecord r;
  if (!std::getline(in, tag) || tag != kTag) return std::nullopt;
  if (!(in >> key >> part) || key != "part") return std::nullopt;
  const std::optional<Shard> shard = parse_shard(part);
  if (!shard) return std::nullopt;
  r.shard = *shard;
  if (!(in >> key >> r.first >> r.last) || key != "pairs") return std::nullopt;
  if (!(in >> key >> r.bytes) || key != "bytes") return std::nullopt;
  if (!(in >> key >> crc) || key != "crc32" || crc.size() != 8) return std::nullopt;
  std::size_t used = 0;
  try {
    r.crc = static_cast<std::uint32_t>(std::stoul(crc, &used, 16));
  } catch (const std::exception &) {
    return std::nullopt;
  }
  if (used != crc.size() || in.get() != '\n') return std::nullopt;
  r.screen.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return r;
}

std::vector<std::string> ordered_parts(const std::vector<std::string> &paths) {
  std::map<int, std::string> by_part;
  std::optional<PartRecord> first;
  std::string first_path;
  for (const std::string &path : paths) {
    const PartRecord r = read_record(path);
    if (!first) {
      first = r;
      first_path = path;
    } else if (r.screen != first->screen || r.shard.parts != first->shard.parts) {
      const std::string what = r.screen != first->screen ? first_difference(r.screen, first->screen)
                                                         : "the number of parts";
      throw MergeError{path + ": a part of another screen than " + first_path + " (" + what +
                       " differs)"};
    }
    const auto [it, fresh] = by_part.emplace(r.shard.part, path);
    if (!fresh) {
      throw MergeError{it->second + " and " + path + " are both part " +
                       std::to_string(r.shard.part) + " of " + std::to_string(r.shard.parts)};
    }
  }
  if (!first) return {};
  std::vector<std::string> ordered;
  for (int k = 1; k <= first->shard.parts; k++) {
    const auto it = by_part.find(k);
    if (it == by_part.end()) {
      throw MergeError{"part " + std::to_string(k) + " of " + std::to_string(first->shard.parts) +
                       " is missing"};
    }
    ordered.push_back(it->second);
  }
  return ordered;
}

}  // namespace screen
