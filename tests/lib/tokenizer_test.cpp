#include "tokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string tok(const char *t) {
  return t != nullptr ? t : "<null>";
}

// Runs first: the module has seen no call yet, so a null string has no
// previous state to stand for.
TEST(TokenizerFresh, NullStringBeforeAnyCall) {
  EXPECT_EQ(strtokenizer(nullptr, ","), nullptr);
  EXPECT_EQ(strtokenizer_flush(nullptr), 0);
  testing::internal::CaptureStdout();
  strtokenizer_debug();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

class Tokenizer : public testing::Test {
 protected:
  void SetUp() override { strtokenizer_finish(); }
};

TEST_F(Tokenizer, WalksTokensAndRepositions) {
  char s[] = "a b c";
  EXPECT_EQ(tok(strtokenizer(s, " ")), "a");
  EXPECT_EQ(tok(strtokenizer(s, " ")), "b");
  EXPECT_EQ(tok(strtokenizer(s, " ")), "c");
  EXPECT_EQ(tok(strtokenizer(s, " ")), "<null>");
  EXPECT_EQ(tok(strtokenizer(s, nullptr)), "<null>");  // stays at the end
  // A numbered call counts from the start and moves the resume point.
  EXPECT_EQ(tok(strntokenizer(s, nullptr, 2)), "b");
  EXPECT_EQ(tok(strtokenizer(s, nullptr)), "c");
  EXPECT_STREQ(s, "a b c");  // the caller's text is never modified
}

TEST_F(Tokenizer, MissingTokenLeavesResumePoint) {
  char s[] = "x y";
  EXPECT_EQ(tok(strtokenizer(s, " ")), "x");
  EXPECT_EQ(tok(strntokenizer(s, nullptr, 5)), "<null>");
  EXPECT_EQ(tok(strntokenizer(s, nullptr, -1)), "<null>");
  EXPECT_EQ(tok(strtokenizer(s, nullptr)), "y");  // still after "x"
  char empty[] = "";
  EXPECT_EQ(tok(strtokenizer(empty, " ")), "<null>");
}

TEST_F(Tokenizer, StatesAreKeyedByAddress) {
  char s1[] = "p q";
  char s2[] = "p q";
  EXPECT_EQ(tok(strtokenizer(s1, " ")), "p");
  EXPECT_EQ(tok(strtokenizer(s2, " ")), "p");
  EXPECT_EQ(tok(strtokenizer(s1, " ")), "q");
  EXPECT_EQ(tok(strtokenizer(s2, " ")), "q");
}

TEST_F(Tokenizer, FlushStartsAfresh) {
  char s[] = "a b";
  char other[] = "z";
  EXPECT_EQ(tok(strtokenizer(s, " ")), "a");
  EXPECT_EQ(strtokenizer_flush(s), 1);
  EXPECT_EQ(strtokenizer_flush(s), 0);
  EXPECT_EQ(strtokenizer_flush(other), 0);
  EXPECT_EQ(tok(strtokenizer(s, " ")), "a");
  // s was the last created state: flushing it leaves no string for null.
  strtokenizer_flush(s);
  EXPECT_EQ(strtokenizer(nullptr, " "), nullptr);
}

TEST_F(Tokenizer, NullStringMeansLastCreatedState) {
  char s[] = "a b c";
  char t[] = "x y";
  EXPECT_EQ(tok(strtokenizer(s, " ")), "a");
  EXPECT_EQ(tok(strtokenizer(nullptr, nullptr)), "b");
  EXPECT_EQ(tok(strtokenizer(t, " ")), "x");
  EXPECT_EQ(tok(strtokenizer(s, nullptr)), "c");  // found state: t stays last
  EXPECT_EQ(tok(strtokenizer(nullptr, nullptr)), "y");
  EXPECT_EQ(strtokenizer_flush(nullptr), 1);  // flushes t
  EXPECT_EQ(strtokenizer(nullptr, nullptr), nullptr);
}

TEST_F(Tokenizer, DelimiterSetIsInheritedFromLastCreated) {
  char a[] = "1,2";
  char b[] = "3;4,5";
  char c[] = "6;7,8";
  EXPECT_EQ(tok(strtokenizer(a, ",")), "1");
  EXPECT_EQ(tok(strtokenizer(b, nullptr)), "3;4");  // inherits ","
  EXPECT_EQ(tok(strntokenizer(b, ";", 2)), "4,5");  // replaced by ";"
  EXPECT_EQ(tok(strtokenizer(a, nullptr)), "2");    // a kept its own ","
  // b is still the last created state, so c inherits b's ";".
  EXPECT_EQ(tok(strtokenizer(c, nullptr)), "6");
  // No set at all: nothing to scan with.
  strtokenizer_finish();
  char d[] = "d e";
  EXPECT_EQ(strtokenizer(d, nullptr), nullptr);
  EXPECT_EQ(tok(strtokenizer(d, " ")), "d");
}

TEST_F(Tokenizer, OptionRowPattern) {
  // A row's first field, the field's comma parts one by one, then the row's
  // next field through the row's remembered set and resume point.
  char row[] = "-a,--all\t flag  Some help";
  char *field = strtokenizer(row, " \t");
  ASSERT_EQ(tok(field), "-a,--all");
  EXPECT_EQ(tok(strtokenizer(field, ",")), "-a");
  EXPECT_EQ(tok(strtokenizer(field, nullptr)), "--all");
  EXPECT_EQ(strtokenizer(field, nullptr), nullptr);
  EXPECT_EQ(tok(strtokenizer(row, nullptr)), "flag");
  EXPECT_EQ(tok(strtokenizer(row, nullptr)), "Some");
}

TEST_F(Tokenizer, WordForm) {
  char s[] = "a::b::::c";
  EXPECT_EQ(tok(strwtokenizer(s, "::")), "a");
  EXPECT_EQ(tok(strwtokenizer(s, nullptr)), "b");
  EXPECT_EQ(tok(strwtokenizer(s, nullptr)), "c");
  EXPECT_EQ(strwtokenizer(s, nullptr), nullptr);
  EXPECT_EQ(tok(strwntokenizer(s, nullptr, 2)), "b");
  // Both forms share the resume point: after "b" it stands at "::::c".
  EXPECT_EQ(tok(strtokenizer(s, ":")), "c");
  char e[] = "abc";
  EXPECT_EQ(strwtokenizer(e, ""), nullptr);  // an empty word separates nothing
}

TEST_F(Tokenizer, DebugPrintsEveryState) {
  char s[] = "a b";
  char w[] = "x--y";
  strtokenizer(s, " ");
  strwtokenizer(w, "--");
  strwtokenizer(w, nullptr);
  testing::internal::CaptureStdout();
  strtokenizer_debug();
  // s resumes at " b"; w's last token ran to the end. The word form only
  // sets or inherits the word, so w has no character set.
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            " str=[a b] next=[ b] char=[ ] word=[(null)]\n"
            " str=[x--y] next=[(null)] char=[(null)] word=[--]\n");
  testing::internal::CaptureStdout();
  print_STS(nullptr, 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "[ data is null ]\n");
}

TEST_F(Tokenizer, FinishForgetsAll) {
  char s[] = "a b";
  strtokenizer(s, " ");
  strtokenizer_finish();
  EXPECT_EQ(strtokenizer(nullptr, " "), nullptr);
  testing::internal::CaptureStdout();
  strtokenizer_debug();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(tok(strtokenizer(s, " ")), "a");
}

TEST_F(Tokenizer, LongTokenizeAndFlushRunsStayUsable) {
  // Flushed states leave holes; a long run of them must not exhaust the cache.
  std::vector<std::string> texts(2000, "k v");
  for (int round = 0; round < 3; ++round) {
    for (std::string &t : texts) {
      ASSERT_EQ(tok(strtokenizer(t.data(), " ")), "k");
      ASSERT_EQ(tok(strtokenizer(t.data(), nullptr)), "v");
      ASSERT_EQ(strtokenizer_flush(t.data()), 1);
    }
  }
  char keep[] = "m n";
  EXPECT_EQ(tok(strtokenizer(keep, " ")), "m");
  EXPECT_EQ(tok(strtokenizer(keep, nullptr)), "n");
}

}  // namespace
