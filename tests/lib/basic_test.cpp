#include "basic.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

TEST(VemboVersion, BannerInFreshAllocation) {
  char *a = vembo_version();
  char *b = vembo_version();
  ASSERT_NE(a, nullptr);
  EXPECT_STREQ(a, "vembolib ver 2.0.0pre1.1.4_port");
  EXPECT_EQ(strlen(a), 31u);  // 8 + 5 + 18 characters
  EXPECT_NE(a, b);
  free(a);
  free(b);
}

// Standard input is replaced by a file holding `text` for each case.
class VemboInput : public testing::Test {
 protected:
  void feed(const std::string &text) {
    char path[] = "/tmp/vembo_input_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);
    ASSERT_NE(freopen(path, "r", stdin), nullptr);
    unlink(path);
  }
  // What the prompt left unread.
  static std::string rest() {
    std::string out;
    int c = 0;
    while ((c = getchar()) != EOF) out += static_cast<char>(c);
    return out;
  }
  // Runs vembo_input and returns its result; the prompt output goes to `err`.
  int ask(char mode, const char *t, const char *f, const char *s1, char *s2) {
    testing::internal::CaptureStderr();
    const int r = vembo_input(mode, t, f, s1, s2);
    err = testing::internal::GetCapturedStderr();
    return r;
  }
  std::string err;
};

TEST_F(VemboInput, Mode0JudgesTheFirstCharacter) {
  feed("yes\nY\nno\n");
  EXPECT_EQ(ask(0, "yY", "nN", "ok? ", const_cast<char *>("again: ")), 1);
  EXPECT_EQ(err, "ok? ");
  EXPECT_EQ(ask(0, "yY", "nN", nullptr, nullptr), 1);
  EXPECT_EQ(ask(0, "yY", "nN", nullptr, nullptr), 0);
  EXPECT_EQ(rest(), "");
}

TEST_F(VemboInput, Mode0AsksAgainAfterRejection) {
  // "maybe" is rejected (its line is discarded) and so is the empty line.
  feed("maybe\n\nn\ntail");
  char again[] = "again: ";
  EXPECT_EQ(ask(0, "yY", "nN", "ok? ", again), 0);
  EXPECT_EQ(err, "ok? again: again: ");
  EXPECT_EQ(rest(), "tail");
}

TEST_F(VemboInput, CutShortAnswerLeavesTheRestUnread) {
  // true/false "yY"/"nN": at most 3 characters kept, the fourth dropped.
  feed("yeahyeah\nnext\n");
  EXPECT_EQ(ask(0, "yY", "nN", nullptr, nullptr), 1);
  EXPECT_EQ(rest(), "yeah\nnext\n");
}

TEST_F(VemboInput, Mode1ComparesWholeWords) {
  // "y" and "yess" (cut at 4 characters, newline dropped) are rejected.
  feed("y\nyess\nyes\nno\n");
  char again[] = "?";
  EXPECT_EQ(ask(1, "yes", "no", "> ", again), 1);
  EXPECT_EQ(err, "> ??");
  EXPECT_EQ(ask(1, "yes", "no", nullptr, again), 0);
  // A longer answer is cut at 4, one more is dropped, the rest discarded.
  feed("yessir\nno\n");
  EXPECT_EQ(ask(1, "yes", "no", nullptr, again), 0);
  EXPECT_EQ(err, "?");
}

TEST_F(VemboInput, Mode2StoresTheLine) {
  feed("hello world\n\nlast");
  char buf[64];
  EXPECT_EQ(ask(2, nullptr, nullptr, "name: ", buf), 11);
  EXPECT_STREQ(buf, "hello world");
  EXPECT_EQ(err, "name: ");
  EXPECT_EQ(ask(2, nullptr, nullptr, nullptr, buf), 0);  // empty line
  EXPECT_STREQ(buf, "");
  // End of input before a newline: what was read is kept.
  EXPECT_EQ(ask(2, nullptr, nullptr, nullptr, buf), 4);
  EXPECT_STREQ(buf, "last");
  EXPECT_EQ(ask(2, nullptr, nullptr, nullptr, buf), 0);
  EXPECT_STREQ(buf, "");
}

TEST_F(VemboInput, EndOfInputGivesFalse) {
  char again[] = "again";
  feed("");
  EXPECT_EQ(ask(0, "yY", "nN", nullptr, again), 0);
  EXPECT_EQ(err, "");
  // A rejected last line: no endless re-asking.
  feed("maybe\n");
  EXPECT_EQ(ask(0, "yY", "nN", nullptr, again), 0);
  EXPECT_EQ(err, "again");
  feed("maybe");
  EXPECT_EQ(ask(1, "yes", "no", nullptr, again), 0);
  EXPECT_EQ(err, "");
  // An answer cut off by the end of input is still judged.
  feed("yes");
  EXPECT_EQ(ask(1, "yes", "no", nullptr, again), 1);
  feed("Yup");
  EXPECT_EQ(ask(0, "yY", "nN", nullptr, again), 1);
}

TEST_F(VemboInput, UnusableArgumentsReadNothing) {
  feed("y\n");
  EXPECT_EQ(ask(3, "yY", "nN", "prompt", nullptr), 0);
  EXPECT_EQ(ask(-1, "yY", "nN", "prompt", nullptr), 0);
  EXPECT_EQ(ask(0, nullptr, "nN", "prompt", nullptr), 0);
  EXPECT_EQ(ask(1, "yes", nullptr, "prompt", nullptr), 0);
  EXPECT_EQ(err, "");
  EXPECT_EQ(rest(), "y\n");
}

}  // namespace
