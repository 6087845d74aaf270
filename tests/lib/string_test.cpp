#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "string1.h"
#include "string2.h"
#include "string3.h"

namespace {

TEST(StringAlloc, MallocWrapCwrap) {
  char *b = strmalloc(3);
  ASSERT_NE(b, nullptr);
  strcpy(b, "abc");  // room for three characters and the terminator
  free(b);
  EXPECT_EQ(strmalloc(-1), nullptr);

  const char text[] = "hello";
  char *copy = strwrap(text);
  EXPECT_STREQ(copy, "hello");
  EXPECT_NE(copy, text);
  free(copy);
  EXPECT_EQ(strwrap(nullptr), nullptr);

  char *c = strcwrap('x');
  EXPECT_STREQ(c, "x");
  free(c);
}

TEST(StringCase, LowerUpperInPlace) {
  char s[] = "AbC-9z";
  EXPECT_EQ(strlower(s), s);
  EXPECT_STREQ(s, "abc-9z");
  EXPECT_EQ(strupper(s), s);
  EXPECT_STREQ(s, "ABC-9Z");
  char high[] = "\xE9Q";  // a byte above 127 must not upset tolower
  strlower(high);
  EXPECT_EQ(high[1], 'q');
  EXPECT_EQ(strlower(nullptr), nullptr);
  EXPECT_EQ(strupper(nullptr), nullptr);
}

TEST(StringCase, Charcat) {
  char s[8] = "ab";
  EXPECT_EQ(charcat(s, 'c'), s);
  EXPECT_STREQ(s, "abc");
  EXPECT_EQ(charcat(nullptr, 'c'), nullptr);
}

TEST(StringToken, CharacterDelimiters) {
  const char in[] = "  ab  cd ";
  // Leading, repeated and trailing blanks never make empty tokens.
  EXPECT_STREQ(strtoken(in, " ", 1), "ab");
  EXPECT_STREQ(strtoken(in, " ", 2), "cd");
  EXPECT_EQ(strtoken(in, " ", 3), nullptr);
  EXPECT_EQ(strtoken(in, " ", 0), nullptr);
  EXPECT_EQ(strtoken(in, " ", -1), nullptr);
  EXPECT_EQ(strtoken("", " ", 1), nullptr);
  EXPECT_EQ(strtoken(nullptr, " ", 1), nullptr);
  EXPECT_EQ(strtoken(in, nullptr, 1), nullptr);
  EXPECT_STREQ(in, "  ab  cd ");  // input untouched
  // Several delimiter characters; an empty set makes the whole text one token.
  EXPECT_STREQ(strtoken("C1\t 12 \tx", " \t", 2), "12");
  EXPECT_STREQ(strtoken("a b", "", 1), "a b");
}

TEST(StringToken, TokensAreIndependentCopies) {
  char buf[] = "one two";
  char *t1 = strtoken(buf, " ", 1);
  char *t2 = strtoken(buf, " ", 2);
  buf[0] = 'X';
  EXPECT_STREQ(t1, "one");
  EXPECT_STREQ(t2, "two");
  t1[0] = 'Z';  // writing into one token leaves the other alone
  EXPECT_STREQ(t2, "two");
  EXPECT_STREQ(strtoken(buf, " ", 1), "Xne");
}

TEST(StringToken, ManyTokensStayValid) {
  // Tokens outlive each other; fill past any internal chunk size.
  std::string line(300, 'a');
  line += " b";
  char *first = strtoken(line.c_str(), " ", 1);
  for (int i = 0; i < 5000; ++i) ASSERT_STREQ(strtoken(line.c_str(), " ", 2), "b");
  EXPECT_EQ(std::string(first), std::string(300, 'a'));
}

TEST(StringToken, WordDelimiter) {
  // a :: b :: :: c -> the empty part between the two "::" is skipped.
  EXPECT_STREQ(strwtoken("a::b::::c", "::", 3), "c");
  EXPECT_STREQ(strwtoken("a::b::::c", "::", 2), "b");
  EXPECT_STREQ(strwtoken("::a::", "::", 1), "a");
  EXPECT_EQ(strwtoken("::a::", "::", 2), nullptr);
  // A lone ':' is part of a token, only the whole word separates.
  EXPECT_STREQ(strwtoken("x:y::z", "::", 1), "x:y");
  EXPECT_EQ(strwtoken("", "::", 1), nullptr);
  EXPECT_EQ(strwtoken("abc", "", 1), nullptr);  // empty word refused
  EXPECT_EQ(strwtoken("abc", nullptr, 1), nullptr);
  EXPECT_EQ(strwtoken("abc", "::", 0), nullptr);
}

TEST(StringCut, Strcut) {
  auto cut = [](const char *s, int i, int j) {
    char *r = strcut(s, i, j);
    std::string out = r != nullptr ? r : "<null>";
    free(r);
    return out;
  };
  EXPECT_EQ(cut("hello", 1, 3), "ell");
  EXPECT_EQ(cut("hello", 1, -1), "ello");  // j < 0: to the end
  EXPECT_EQ(cut("hello", 3, 1), "lo");     // j < i: to the end
  EXPECT_EQ(cut("hello", 2, 9), "llo");    // j past the end
  EXPECT_EQ(cut("hello", 4, 4), "o");
  EXPECT_EQ(cut("hello", 5, 0), "<null>");
  EXPECT_EQ(cut("", 0, 0), "<null>");
  EXPECT_EQ(cut("hello", -1, 2), "<null>");
  EXPECT_EQ(cut(nullptr, 0, 0), "<null>");
}

TEST(StringCut, Strpcut) {
  const char s[] = "abcdef";
  char *r = strpcut(s + 1, s + 3);  // inclusive: b c d
  EXPECT_STREQ(r, "bcd");
  free(r);
  r = strpcut(s + 3, s + 1);  // before the start: to the end
  EXPECT_STREQ(r, "def");
  free(r);
  r = strpcut(s + 4, nullptr);
  EXPECT_STREQ(r, "ef");
  free(r);
  r = strpcut(s + 4, s + 6);  // the terminator is not copied twice
  EXPECT_STREQ(r, "ef");
  free(r);
  EXPECT_EQ(strpcut(nullptr, s), nullptr);
}

TEST(StringEscape, Decode) {
  char a[] = "a\\tb\\nc\\\\d\\\"e\\'f\\?g";
  EXPECT_STREQ(strDecode_escape(a), "a\tb\nc\\d\"e'f?g");
  char b[] = "x\\qy";  // unknown sequence: the letter alone
  EXPECT_STREQ(strDecode_escape(b), "xqy");
  char c[] = "end\\";  // lone trailing backslash dropped
  EXPECT_STREQ(strDecode_escape(c), "end");
  char d[] = "\\a\\b\\v\\f\\r";
  EXPECT_STREQ(strDecode_escape(d), "\a\b\v\f\r");
  EXPECT_EQ(strDecode_escape(nullptr), nullptr);
}

TEST(StringEscape, EncodeRoundTrip) {
  const char original[] = "tab\there \"q\" 'a' ?\\\a\b\v\f\r\nend";
  char buf[2 * sizeof original];
  strcpy(buf, original);
  EXPECT_STREQ(strEncode_escape(buf), "tab\\there \\\"q\\\" \\'a\\' \\?\\\\\\a\\b\\v\\f\\r\\nend");
  EXPECT_STREQ(strDecode_escape(buf), original);
  char plain[8] = "plain";
  EXPECT_STREQ(strEncode_escape(plain), "plain");
  EXPECT_EQ(strEncode_escape(nullptr), nullptr);
}

TEST(StringTabs, UntabifyTabifyRoundTrip) {
  char buf[64] = "ab\tc";
  // a,b at columns 1-2; the tab fills columns 3-4.
  EXPECT_STREQ(strUntabify(buf, 4), "ab  c");
  EXPECT_STREQ(strTabify(buf, 4), "ab\tc");
  char single[16] = "ab c";  // column 4 is 'c', so the space stays
  EXPECT_STREQ(strTabify(single, 4), "ab c");
  char stop[16] = "abc d";  // a single space exactly at a tab stop
  EXPECT_STREQ(strTabify(stop, 4), "abc\td");

  // Leading tab, a tab after a full stop, and a newline resetting the column.
  const char text[] = "\tx\nabcd\te\n  \t y";
  char work[128];
  strcpy(work, text);
  strUntabify(work, 4);
  EXPECT_STREQ(work, "    x\nabcd    e\n     y");
  const std::string expanded = work;
  strTabify(work, 4);
  strUntabify(work, 4);
  EXPECT_EQ(expanded, work);  // tabify keeps the text's expansion

  char same[8] = "a\tb";
  EXPECT_STREQ(strUntabify(same, 0), "a\tb");
  EXPECT_STREQ(strTabify(same, -2), "a\tb");
  EXPECT_EQ(strUntabify(nullptr, 4), nullptr);
}

TEST(StringFold, FoldAndUnfold) {
  char a[32] = "abcdefg";
  EXPECT_STREQ(strFold(a, 3), "abc\ndef\ng");
  EXPECT_STREQ(strUnfold(a), "abcdefg");
  char b[32] = "abc";
  EXPECT_STREQ(strFold(b, 3), "abc");  // exactly width: no extra newline
  char c[32] = "abcd\nef";
  EXPECT_STREQ(strFold(c, 2), "ab\ncd\nef");
  char d[8] = "abc";
  EXPECT_STREQ(strFold(d, 0), "abc");
  EXPECT_EQ(strFold(nullptr, 3), nullptr);
  EXPECT_EQ(strUnfold(nullptr), nullptr);
}

}  // namespace
