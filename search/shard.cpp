#include "search/shard.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

namespace screen {

std::optional<Shard> parse_shard(std::string_view text) {
  const std::size_t slash = text.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  const auto k = parse_integer(text.substr(0, slash), 1, 1000000);
  const auto n = parse_integer(text.substr(slash + 1), 1, 1000000);
  if (!k || !n || *k > *n) return std::nullopt;
  return Shard{static_cast<int>(*k), static_cast<int>(*n)};
}

std::pair<std::int64_t, std::int64_t> shard_range(
    const PairSpace &space, Shard shard, const std::function<int(std::int64_t)> &query_atoms,
    const std::function<int(std::int64_t)> &target_atoms) {
  // Work of a pair: (atoms + 1) of one times (atoms + 1) of the other, so that
  // compounds without atoms still cost something. Sums in long double: the
  // products of large screens pass the range of 64-bit integers.
  std::vector<long double> prefix(static_cast<std::size_t>(space.targets) + 1, 0.0L);
  for (std::int64_t t = 0; t < space.targets; t++) {
    prefix[static_cast<std::size_t>(t) + 1] =
        prefix[static_cast<std::size_t>(t)] + target_atoms(t) + 1;
  }
  auto targets_work = [&](std::int64_t from, std::int64_t to) {
    return prefix[static_cast<std::size_t>(to)] - prefix[static_cast<std::size_t>(from)];
  };
  long double total = 0.0L;
  for (std::int64_t q = 0; q < space.queries; q++) {
    total += (query_atoms(q) + 1) * targets_work(space.first(q), space.first(q) + space.count(q));
  }
  // The first pair before which the work reaches `part` of `parts` of the total.
  auto boundary = [&](int part) -> std::int64_t {
    if (part <= 0) return 0;
    if (part >= shard.parts) return space.total();
    const long double goal = total * part / shard.parts;
    long double done = 0.0L;
    for (std::int64_t q = 0; q < space.queries; q++) {
      const std::int64_t f = space.first(q), c = space.count(q);
      const long double weight = query_atoms(q) + 1;
      const long double work = weight * targets_work(f, f + c);
      if (done + work < goal) {
        done += work;
        continue;
      }
      std::int64_t lo = 0, hi = c;  // fewest pairs of q that reach the goal
      while (lo < hi) {
        const std::int64_t mid = lo + (hi - lo) / 2;
        (done + weight * targets_work(f, f + mid) < goal) ? lo = mid + 1 : hi = mid;
      }
      return space.start(q) + lo;
    }
    return space.total();
  };
  return {boundary(shard.part - 1), boundary(shard.part)};
}

// ---------------------------------------------------------------------------
// Merge

namespace {

// The fields of one row that the merge needs.
struct Row {
  std::string_view query;  // as written (a JSON string literal in JSON lines)
  double coefficient = 0.0;
};

bool parse_int(std::string_view text, int &value) {
  const auto v = parse_integer(text, 0, 1000000000);
  if (!v) return false;
  value = static_cast<int>(*v);
  return true;
}

// The exact coefficient of a row, from its counts, as the screen computed it
// (the printed one is rounded to six places).
bool finish_row(Row &row, std::string_view atoms_a, std::string_view atoms_b,
                std::string_view score, std::string_view status) {
  int a = 0, b = 0, m = 0;
  if (!parse_int(atoms_a, a) || !parse_int(atoms_b, b) || !parse_int(score, m)) return false;
  const bool usable = status == "ok" || status.starts_with("cut:");
  row.coefficient = usable ? coefficient(m, a, b) : 0.0;
  return true;
}

bool parse_tsv(std::string_view line, const MergeLayout &layout, Row &row) {
  const int fields = (layout.names ? 10 : 8) + (layout.substructure ? 3 : 0);
  std::string_view f[13];
  for (int i = 0; i < fields; i++) {
    const std::size_t tab = line.find('\t');
    if ((tab == std::string_view::npos) != (i == fields - 1)) return false;
    f[i] = line.substr(0, tab);
    line.remove_prefix(tab == std::string_view::npos ? line.size() : tab + 1);
  }
  row.query = f[0];
  return (f[7] == "yes" || f[7] == "no") && finish_row(row, f[2], f[3], f[4], f[6]);
}

// A JSON string literal at the start of `text`, as append_json_string writes it.
std::size_t json_string_end(std::string_view text) {
  if (text.empty() || text[0] != '"') return 0;
  for (std::size_t i = 1; i < text.size(); i++) {
    if (text[i] == '\\') {
      i++;
    } else if (text[i] == '"') {
      return i + 1;
    }
  }
  return 0;
}

bool expect(std::string_view &text, std::string_view word) {
  if (!text.starts_with(word)) return false;
  text.remove_prefix(word.size());
  return true;
}

// The value up to the next `stop` character.
std::string_view take_until(std::string_view &text, char stop) {
  const std::size_t end = text.find(stop);
  const std::string_view value = text.substr(0, end);
  text.remove_prefix(end == std::string_view::npos ? text.size() : end);
  return value;
}

// `"key":"..."` with a JSON string value, preceded by a comma.
bool skip_string_member(std::string_view &text, std::string_view key) {
  if (!expect(text, ",\"") || !expect(text, key) || !expect(text, "\":")) return false;
  const std::size_t end = json_string_end(text);
  text.remove_prefix(end);
  return end != 0;
}

// `,"atom_pairs":[[0,3],...]` and the two matches, strings or null.
bool skip_substructure(std::string_view &text) {
  if (!expect(text, ",\"atom_pairs\":[")) return false;
  if (!expect(text, "]")) {
    take_until(text, ']');
    while (expect(text, "],[")) take_until(text, ']');
    if (!expect(text, "]]")) return false;
  }
  for (const std::string_view key : {",\"query_match\":", ",\"target_match\":"}) {
    if (!expect(text, key)) return false;
    if (expect(text, "null")) continue;
    const std::size_t end = json_string_end(text);
    if (end == 0) return false;
    text.remove_prefix(end);
  }
  return true;
}

bool parse_json(std::string_view line, const MergeLayout &layout, Row &row) {
  const bool names = layout.names;
  if (!expect(line, "{\"query\":")) return false;
  const std::size_t q = json_string_end(line);
  if (q == 0) return false;
  row.query = line.substr(0, q);
  line.remove_prefix(q);
  if (!expect(line, ",\"target\":")) return false;
  const std::size_t t = json_string_end(line);
  if (t == 0) return false;
  line.remove_prefix(t);
  if (!expect(line, ",\"query_atoms\":")) return false;
  const std::string_view a = take_until(line, ',');
  if (!expect(line, ",\"target_atoms\":")) return false;
  const std::string_view b = take_until(line, ',');
  if (!expect(line, ",\"score\":")) return false;
  const std::string_view m = take_until(line, ',');
  if (!expect(line, ",\"coefficient\":")) return false;
  take_until(line, ',');
  if (!expect(line, ",\"status\":\"")) return false;
  const std::string_view status = take_until(line, '"');
  if (!expect(line, "\",\"proven\":")) return false;
  if (!expect(line, "true") && !expect(line, "false")) return false;
  if (names &&
      !(skip_string_member(line, "query_name") && skip_string_member(line, "target_name"))) {
    return false;
  }
  if (layout.substructure && !skip_substructure(line)) return false;
  if (line != "}") return false;
  return finish_row(row, a, b, m, status);
}

// The best `k` rows of one query, written in their order once it ends.
class GroupSelector {
 public:
  GroupSelector(int k, RowSink &out) : k_(static_cast<std::size_t>(k)), out_(out) {}

  void add(std::string_view query, double coefficient, std::string line) {
    if (query != query_) finish();
    query_ = query;
    Kept item{coefficient, seq_++, std::move(line)};
    if (heap_.size() < k_) {
      heap_.push_back(std::move(item));
      std::push_heap(heap_.begin(), heap_.end(), better);
    } else if (better(item, heap_.front())) {
      std::pop_heap(heap_.begin(), heap_.end(), better);
      heap_.back() = std::move(item);
      std::push_heap(heap_.begin(), heap_.end(), better);
    }
  }
  // Best first, as the screen ranks them: among rows of one coefficient the
  // earlier row is the earlier target, as each part ranks its rows so and
  // the parts come in pair order.
  void finish() {
    std::sort(heap_.begin(), heap_.end(), better);
    for (const Kept &k : heap_) out_.write(k.line);
    heap_.clear();
    query_.clear();
  }

 private:
  struct Kept {
    double coefficient;
    std::int64_t seq;  // row order: on one coefficient, target order
    std::string line;
  };
  static bool better(const Kept &x, const Kept &y) {
    if (x.coefficient != y.coefficient) return x.coefficient > y.coefficient;
    return x.seq < y.seq;
  }
  std::size_t k_;
  RowSink &out_;
  std::string query_;
  std::int64_t seq_ = 0;
  std::vector<Kept> heap_;
};

std::string errno_text() {
  return std::strerror(errno != 0 ? errno : EIO);
}

}  // namespace

MergeLayout merge_layout(const std::vector<std::string> &paths) {
  std::optional<Format> format;
  std::optional<bool> names, substructure;
  for (const std::string &path : paths) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw MergeError{"cannot read " + path + ": " + errno_text()};
    std::string line;
    if (!std::getline(in, line)) {
      if (in.bad()) throw MergeError{"cannot read " + path + ": " + errno_text()};
      continue;  // JSON lines without rows
    }
    // The TSV header tells both; a JSON line by its members.
    std::optional<std::pair<bool, bool>> tsv;  // names, substructure
    for (const bool n : {false, true}) {
      for (const bool sub : {false, true}) {
        if (line + "\n" == header(Format::kTsv, n, sub)) tsv = {n, sub};
      }
    }
    const bool tsv_names = tsv && tsv->first;
    const Format f = tsv ? Format::kTsv : Format::kJsonl;
    if (f == Format::kJsonl && !line.starts_with("{")) {
      throw MergeError{path + ": not an output of taviron-search"};
    }
    if (format && *format != f) throw MergeError{path + ": parts of different formats"};
    format = f;
    const bool n = f == Format::kTsv ? tsv_names : line.find(",\"query_name\":") != line.npos;
    if (names && *names != n) throw MergeError{path + ": parts with and without --names"};
    names = n;
    const bool sub = f == Format::kTsv ? tsv->second : line.find(",\"atom_pairs\":") != line.npos;
    if (substructure && *substructure != sub) {
      throw MergeError{path + ": parts with and without --substructure"};
    }
    substructure = sub;
  }
  return {format.value_or(Format::kJsonl), names.value_or(false), substructure.value_or(false)};
}

void merge_parts(const std::vector<std::string> &paths, const MergeLayout &layout,
                 const MergeOptions &options, RowSink &out) {
  const Format format = layout.format;
  GroupSelector selector(options.top, out);
  for (const std::string &path : paths) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw MergeError{"cannot read " + path + ": " + errno_text()};
    std::string line;
    long number = 0;
    while (std::getline(in, line)) {
      number++;
      const std::string where = path + ":" + std::to_string(number);
      if (in.eof()) throw MergeError{where + ": the last line is cut short"};
      if (format == Format::kTsv && number == 1) {
        if (line + "\n" != header(Format::kTsv, layout.names, layout.substructure)) {
          throw MergeError{where + ": no TSV header"};
        }
        continue;
      }
      Row row;
      if (!(format == Format::kTsv ? parse_tsv(line, layout, row)
                                   : parse_json(line, layout, row))) {
        throw MergeError{where + ": not a row of taviron-search"};
      }
      if (options.min && row.coefficient < *options.min) continue;
      // row.query points into line: the copy with its line end is made aside.
      if (options.top > 0) {
        selector.add(row.query, row.coefficient, line + '\n');
      } else {
        out.write(line + '\n');
      }
    }
    if (in.bad()) throw MergeError{"cannot read " + path + ": " + errno_text()};
  }
  selector.finish();
}

}  // namespace screen
