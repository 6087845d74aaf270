// Fuzz target: the option table facility, fed argument vectors.
//
// Input: one setting byte, then NUL-separated words.
//   byte 0, bit 0 clear: the words are the argument vector (program name
//                        first), parsed against the program's own table
//   byte 0, bit 0 set:   the words up to the first empty word are table rows
//                        (after the "(prog)" placeholder), the rest the
//                        argument vector
//   byte 0, bit 1:       dumps on, as opt_setDebugMode(1)
// Process ends of the facility are turned into an exception, so that every
// error path and both library options run without ending the fuzzer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "switch2.h"

namespace program {
// The option rows and table of src/taviron.cpp, extracted by fuzz/build.sh.
#include "taviron_options.inc"
}  // namespace program

namespace {

constexpr size_t kMaxWords = 64;

struct Ended {
  int status;
};

[[noreturn]] void throw_end(int status) {
  throw Ended{status};
}

// Touches every character, so that a bad string shows up here.
void touch(const char *s) {
  if (s != nullptr && std::strlen(s) == static_cast<size_t>(-1)) std::abort();
}

// Reads the value of every name of a rewritten row ("names type,number ...")
// with the pointer types that the row's type asks for.
void scan_row(const char *description) {
  std::string_view text = description;
  const size_t blank = text.find(' ');
  if (blank == std::string_view::npos) std::abort();
  const std::string names(text.substr(0, blank));
  const std::string_view rest = text.substr(blank + 1);
  const std::string kind(rest.substr(0, rest.find(' ')));

  size_t start = 0;
  while (start <= names.size()) {
    size_t comma = names.find(',', start);
    if (comma == std::string::npos) comma = names.size();
    const std::string name = names.substr(start, comma - start);
    start = comma + 1;
    if (name.empty()) continue;
    if (kind == "str,list") {
      char **values = nullptr;
      const int n = opt_scan(name.c_str(), &values);
      if (values == nullptr) std::abort();
      for (int i = 0; i < n; ++i) touch(values[i]);
      if (values[n] != nullptr) std::abort();
      std::free(values);
    } else if (kind.starts_with("str,")) {
      char *a = nullptr, *b = nullptr;
      opt_scan(name.c_str(), &a, &b);
      touch(a);
      touch(b);
    } else if (kind.starts_with("char,")) {
      char a = 0, b = 0;
      opt_scan(name.c_str(), &a, &b);
    } else if (kind.starts_with("int,")) {
      int a = 0, b = 0;
      opt_scan(name.c_str(), &a, &b);
    } else if (kind.starts_with("double,")) {
      double a = 0, b = 0;
      opt_scan(name.c_str(), &a, &b);
    } else {
      const int on = opt_scan(name.c_str());
      if (on != 0 && on != 1) std::abort();
    }
  }
}

// What the program reads after parsing, in its order.
void scan_program() {
  char *input = nullptr, *output = nullptr, *entry = nullptr, *entry2 = nullptr;
  int trick = 0, repeat = 0, limit = 0;
  opt_scan("i", &input);
  opt_scan("o", &output);
  opt_scan("e", &entry);
  opt_scan("f", &entry2);
  opt_scan("atom");
  opt_scan("trick", &trick);
  opt_scan("align");
  opt_scan("qtroutput");
  opt_scan("repeat", &repeat);
  opt_scan("limit", &limit);
  for (const char *s : {input, output, entry, entry2}) touch(s);
  if (opt_scan("help")) opt_exit(0, nullptr);
  if (opt_scan("version")) opt_exit(0, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  opt_setExitHandler(throw_end);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const bool own_table = data[0] & 1;
  const bool debug = data[0] & 2;

  std::vector<std::string> words;
  {
    const char *p = reinterpret_cast<const char *>(data + 1);
    const char *end = reinterpret_cast<const char *>(data + size);
    while (p <= end && words.size() < kMaxWords) {
      const char *nul = static_cast<const char *>(std::memchr(p, '\0', end - p));
      if (nul == nullptr) nul = end;
      words.emplace_back(p, nul);
      p = nul + 1;
    }
  }

  // The table: the program's rows, or the rows given in the input.
  std::vector<std::string> rows;
  size_t first_arg = 0;
  if (own_table) {
    rows.emplace_back("(prog)");
    while (first_arg < words.size() && !words[first_arg].empty())
      rows.push_back(words[first_arg++]);
    if (first_arg < words.size()) ++first_arg;  // the empty word ends the rows
  } else {
    for (char **row = program::options; *row != nullptr; ++row) rows.emplace_back(*row);
  }
  std::vector<char *> table;
  for (std::string &row : rows) table.push_back(row.data());
  table.push_back(nullptr);

  std::vector<char *> argv;
  for (size_t i = first_arg; i < words.size(); ++i) argv.push_back(words[i].data());
  const int argc = static_cast<int>(argv.size());
  argv.push_back(nullptr);

  opt_setDebugMode(debug ? 1 : 0);
  try {
    opt_check(argc, argv.data(), table.data());
    // The rewritten table: the program name, one description per row, NULL.
    const size_t nrows = rows.size() - 1;
    if (table[0] == nullptr || table[nrows + 1] != nullptr) std::abort();
    touch(table[0]);
    for (size_t i = 1; i <= nrows; ++i) {
      if (table[i] == nullptr) std::abort();
      scan_row(table[i]);
    }
    if (!own_table) scan_program();
  } catch (const Ended &end) {
    if (end.status != 0 && end.status != 9) std::abort();
  }
  opt_reset();
  return 0;
}
