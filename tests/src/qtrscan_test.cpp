// Record scanner: differential against the reader on every end-to-end input
// (the generated hostile and capacity inputs included) and the examples.
#include "qtrscan.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cpdio.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> lines(CompList *list) {
  std::vector<std::string> out;
  for (int k = 1; k <= complist_numberof(list); k++) {
    out.emplace_back(static_cast<const char *>(complist_getdata(list, k)));
  }
  return out;
}

// Scans `path` with a small block (so that pieces straddle refills) and
// compares every record, its bytes read back, the completion letter and the
// entry look-up with the reader's.
void compare_with_reader(const fs::path &path) {
  SCOPED_TRACE(path.string());
  cpdio_reset();
  FILE *fp = std::fopen(path.c_str(), "r");
  ASSERT_NE(fp, nullptr);
  CompList *list = read_CPDMOL_list_QTR(fp);
  std::fclose(fp);
  const char letter = _global_first_;
  const int n = complist_numberof(list);

  const std::vector<const char *> ids = {"1", "2", "12", "C00001", "c1", "D1234", "X99"};
  qtrscan::EntryFinder finder(ids);
  const int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  qtrscan::Scanner scanner(fd, 20011);
  qtrscan::Record rec;
  std::uint64_t end = 0;
  int k = 0;
  while (scanner.next(rec, [](std::string_view) { return true; })) {
    ASSERT_LT(k, n) << "scanner found more records";
    finder.offer(rec, k);
    const auto *mol = static_cast<CPDMOL *>(complist_getdata(list, ++k));
    EXPECT_EQ(rec.offset, end);
    EXPECT_EQ(rec.text.size(), rec.size);
    end = rec.offset + rec.size;
    EXPECT_EQ(rec.name, mol->name);
    EXPECT_EQ(rec.atoms, mol->nodenum);
    const CPDMOL *again = qtrscan::read_record(rec.text);
    ASSERT_NE(again, nullptr);
    EXPECT_STREQ(again->name, mol->name);
    EXPECT_EQ(again->definition == nullptr, mol->definition == nullptr);
    if (again->definition && mol->definition) {
      EXPECT_STREQ(again->definition, mol->definition);
    }
    EXPECT_EQ(lines(again->node), lines(mol->node));
    EXPECT_EQ(lines(again->connect), lines(mol->connect));
  }
  close(fd);
  EXPECT_EQ(k, n);
  EXPECT_EQ(scanner.error(), 0);
  EXPECT_EQ(scanner.first_letter(), letter);
  _global_first_ = letter;
  for (std::size_t i = 0; i < ids.size(); i++) {
    EXPECT_EQ(finder.result(i, letter).index + 1, nsearch_CPDMOL(list, const_cast<char *>(ids[i])))
        << ids[i];
  }
}

TEST(QtrScan, SameRecordsAsTheReaderOnEveryEndToEndInput) {
  std::vector<fs::path> inputs;
  for (const auto &f : fs::directory_iterator(TAVIRON_EXAMPLES_DIR)) {
    if (f.path().extension() == ".qtr") inputs.push_back(f.path());
  }
  const fs::path work = fs::temp_directory_path() / ("qtrscan_test." + std::to_string(getpid()));
  int cases = 0;
  for (const auto &c : fs::directory_iterator(TAVIRON_TESTDATA_DIR "/../e2e/cases")) {
    fs::remove_all(work);
    fs::create_directories(work);
    if (fs::exists(c.path() / "files")) {
      fs::copy(c.path() / "files", work, fs::copy_options::recursive);
    }
    // Setups that run the programs (through BINDIR or a shared script) make
    // no inputs of their own kind.
    std::ifstream setup(c.path() / "setup.sh");
    const std::string script{std::istreambuf_iterator<char>(setup), {}};
    if (setup && script.find("BINDIR") == std::string::npos &&
        script.find("CASE_DIR") == std::string::npos) {
      const std::string cmd =
          "cd '" + work.string() + "' && bash '" + (c.path() / "setup.sh").string() + "'";
      ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }
    std::vector<fs::path> found;
    if (fs::exists(c.path() / "stdin")) found.push_back(c.path() / "stdin");
    for (const auto &f : fs::recursive_directory_iterator(work)) {
      if (f.is_regular_file()) found.push_back(f.path());
    }
    for (const fs::path &p : found) compare_with_reader(p);
    cases++;
  }
  fs::remove_all(work);
  for (const fs::path &p : inputs) compare_with_reader(p);
  EXPECT_GT(cases, 50);
}

// Line pieces decided byte by byte, as the reader's tests see them.
TEST(QtrScan, LinePredicates) {
  struct Case {
    std::string piece;
    bool continuation;
    std::string name;
  };
  const std::vector<Case> cases = {
      {" 1 C C\n", true, "C"},
      {"\t1\n", true, ""},
      {"\n", true, ""},
      {"\r\n", true, ""},
      {"\r", true, ""},
      {std::string("\0x\n", 3), true, ""},
      {std::string("\r\0", 2), true, ""},
      {"\rx\n", false, ""},
      {"ENTRY       C00001\r\n", false, "C00001"},
      {"ENTRY C1\rX  y\n", false, "C1\rX"},
      {std::string("ENTRY       C0\0001\n", 17), false, "C0"},
      {"ENTRY\n", false, ""},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(qtrscan::is_continuation(c.piece), c.continuation) << c.piece;
    EXPECT_EQ(qtrscan::entry_name(c.piece), c.name) << c.piece;
  }
}

}  // namespace
