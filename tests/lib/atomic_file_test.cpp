#include "atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

class AtomicFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("atomic_file_test." + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const char *name) const { return (dir_ / name).string(); }
  static std::string read(const std::string &p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static void write(const std::string &p, const char *text) { std::ofstream(p) << text; }
  // The folder holds exactly these names (no temporary left behind).
  void expect_entries(std::initializer_list<const char *> names) const {
    std::set<std::string> want(names.begin(), names.end()), have;
    for (const auto &e : fs::directory_iterator(dir_)) have.insert(e.path().filename().string());
    EXPECT_EQ(have, want);
  }
  fs::path dir_;
};

TEST_F(AtomicFileTest, TargetChangesOnlyOnCommit) {
  const std::string out = path("out.txt");
  write(out, "old\n");
  chmod(out.c_str(), 0600);
  {
    AtomicFile f;
    ASSERT_TRUE(f.open(out));
    std::fputs("new\n", f.stream());
    std::fflush(f.stream());
    EXPECT_EQ(read(out), "old\n");
    ASSERT_TRUE(f.commit());
  }
  EXPECT_EQ(read(out), "new\n");
  struct stat st {};
  ASSERT_EQ(stat(out.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "the replaced file's mode is kept";
  expect_entries({"out.txt"});
}

TEST_F(AtomicFileTest, AbandonedOrDestroyedLeavesTargetAsItWas) {
  const std::string out = path("out.txt");
  write(out, "old\n");
  for (const bool explicit_abandon : {true, false}) {
    AtomicFile f;
    ASSERT_TRUE(f.open(out));
    std::fputs("half", f.stream());
    if (explicit_abandon) f.abandon();
  }
  EXPECT_EQ(read(out), "old\n");
  expect_entries({"out.txt"});
  // A new file that is never committed does not appear at all.
  {
    AtomicFile f;
    ASSERT_TRUE(f.open(path("new.txt")));
  }
  expect_entries({"out.txt"});
}

TEST_F(AtomicFileTest, NewFileGetsTheUmaskDefault) {
  const mode_t old = umask(027);
  AtomicFile f;
  ASSERT_TRUE(f.open(path("new.txt")));
  ASSERT_TRUE(f.commit());
  umask(old);
  struct stat st {};
  ASSERT_EQ(stat(path("new.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(AtomicFileTest, SymlinkStaysAndItsTargetIsReplaced) {
  write(path("real.txt"), "old\n");
  fs::create_symlink("real.txt", path("link.txt"));
  AtomicFile f;
  ASSERT_TRUE(f.open(path("link.txt")));
  std::fputs("new\n", f.stream());
  ASSERT_TRUE(f.commit());
  EXPECT_TRUE(fs::is_symlink(path("link.txt")));
  EXPECT_EQ(read(path("real.txt")), "new\n");
  expect_entries({"real.txt", "link.txt"});
}

TEST_F(AtomicFileTest, DevicesAreWrittenDirectlyAndMissingFoldersFail) {
  AtomicFile null;
  ASSERT_TRUE(null.open("/dev/null"));
  std::fputs("x", null.stream());
  EXPECT_TRUE(null.commit());
  struct stat st {};
  ASSERT_EQ(stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));

  AtomicFile missing;
  EXPECT_FALSE(missing.open(path("no/such/out.txt")));
  EXPECT_EQ(errno, ENOENT);
}

TEST_F(AtomicFileTest, SignalRemovesTheTemporary) {
  const std::string out = path("out.txt");
  write(out, "old\n");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    guard_file_writes();
    AtomicFile f;
    if (!f.open(out)) _exit(2);
    std::fputs("half", f.stream());
    std::fflush(f.stream());
    std::raise(SIGTERM);
    _exit(3);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_EQ(read(out), "old\n");
  expect_entries({"out.txt"});
}

TEST(SameFile, TellsHardLinksAndCopiesApart) {
  const fs::path dir = fs::temp_directory_path() / ("same_file_test." + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string a = (dir / "a").string(), b = (dir / "b").string(), c = (dir / "c").string();
  std::ofstream(a) << "x";
  std::ofstream(c) << "x";
  fs::create_hard_link(a, b);
  EXPECT_TRUE(same_file(a.c_str(), b.c_str()));
  EXPECT_TRUE(same_file(a.c_str(), (dir / "." / "a").c_str()));
  EXPECT_FALSE(same_file(a.c_str(), c.c_str()));
  EXPECT_FALSE(same_file(a.c_str(), (dir / "missing").c_str()));
  fs::remove_all(dir);
}

}  // namespace
