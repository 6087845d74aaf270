// Option table facility: row grammar, validation, argument scan, positional
// markers, value conversion, table rewrite, dumps and library options.
#include "switch2.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Words = std::vector<const char *>;

// A writable NULL-terminated array of strings, as opt_check() expects for
// both the argument vector and the option table.
class Strings {
 public:
  explicit Strings(const Words &items) {
    for (const char *s : items) text_.emplace_back(s);
    for (std::string &s : text_) ptrs_.push_back(s.data());
    ptrs_.push_back(nullptr);
  }
  Strings(const Strings &) = delete;
  Strings &operator=(const Strings &) = delete;

  char **data() { return ptrs_.data(); }
  int size() const { return static_cast<int>(text_.size()); }
  const char *operator[](int i) const { return ptrs_[i]; }

  // Elements 1 .. up to the terminator, joined with " | ".
  std::string Rows() const {
    std::string out;
    for (int i = 1; ptrs_[i] != nullptr; ++i) out += (i > 1 ? " | " : "") + std::string(ptrs_[i]);
    return out;
  }

 private:
  std::vector<std::string> text_;
  std::vector<char *> ptrs_;
};

// The program's own option table.
const Words kProgram = {
    "(prog)",         "i,input,(head)  str,one", "o,output        str", "e,entry    str",
    "f,entry2   str", "atom,a   flag",           "trick    int",        "align    flag",
    "qtroutput flag", "repeat     int -1",       "limit      int 0",    "help     flag",
    "version  flag"};

// Exact standard-error text of a dying call.
testing::Matcher<const std::string &> Says(const std::string &text) {
  return testing::Eq(text);
}

// Sends standard output, unbuffered, to standard error, so a death test sees
// both streams in the order they were written.
void StdoutToStderr() {
  std::fflush(stdout);
  dup2(2, 1);
  std::setvbuf(stdout, nullptr, _IONBF, 0);
}

class Switch2Test : public testing::Test {
 protected:
  void SetUp() override { opt_reset(); }
  void TearDown() override { opt_reset(); }

  static void Parse(Strings &table, const Words &args) {
    Strings argv(args);
    opt_check(argv.size(), argv.data(), table.data());
  }
};
using Switch2DeathTest = Switch2Test;

// ---------------------------------------------------------------------------
// Scanning, storing and the rewritten table. Each expectation is the
// description of every row (names, type and number words, "[value]" each),
// worked out by hand from the arguments.

struct RewriteCase {
  const char *what;
  Words rows;
  Words args;
  const char *expected;
};

const RewriteCase kRewriteCases[] = {
    {"leading word goes to the (head) row; untouched rows show their defaults",
     kProgram,
     {"/usr/local/bin/taviron", "x.txt", "--trick", "2", "-a"},
     "i,input,(head) str,one [x.txt] | o,output str,one  | e,entry str,one  | f,entry2 str,one  | "
     "atom,a flag,zero [on] | trick int,one [2] | align flag,zero  | qtroutput flag,zero  | "
     "repeat int,one [-1] | limit int,one [0] | help flag,zero  | version flag,zero "},
    {"'--x=a=b' gives a, '--x=' takes the next word, name=value needs no dashes, last use wins",
     kProgram,
     {"p", "--entry=C00001=junk", "entry2=C00009", "--output=", "out.txt", "--repeat", "-1",
      "--limit", "7", "--limit", "20"},
     "i,input,(head) str,one  | o,output str,one [out.txt] | e,entry str,one [C00001] | "
     "f,entry2 str,one [C00009] | atom,a flag,zero  | trick int,one  | align flag,zero  | "
     "qtroutput flag,zero  | repeat int,one [-1] | limit int,one [20] | help flag,zero  | "
     "version flag,zero "},
    {"explicit flag values are stored as on/off",
     kProgram,
     {"p", "--atom=no", "--align=TRUE", "qtroutput=yes", "--help=1", "--version=off"},
     "i,input,(head) str,one  | o,output str,one  | e,entry str,one  | f,entry2 str,one  | "
     "atom,a flag,zero [off] | trick int,one  | align flag,zero [on] | qtroutput flag,zero [on] | "
     "repeat int,one [-1] | limit int,one [0] | help flag,zero [on] | version flag,zero [off]"},
    {"clusters, glued values, and a next word starting with a dash",
     kProgram,
     {"p", "-ai", "x.txt", "-eC1", "-f", "-dash"},
     "i,input,(head) str,one [x.txt] | o,output str,one  | e,entry str,one [C1] | "
     "f,entry2 str,one [-dash] | atom,a flag,zero [on] | trick int,one  | align flag,zero  | "
     "qtroutput flag,zero  | repeat int,one [-1] | limit int,one [0] | help flag,zero  | "
     "version flag,zero "},
    {"name=value leaves the leading run on",
     {"(prog)", "i,(head) str,one", "e str"},
     {"p", "x.txt", "e=1", "y.txt", "-e", "2"},
     "i,(head) str,one [x.txt] [y.txt] | e str,one [2]"},
    {"flags in a cluster; toggles flip, '=value' sets them",
     {"(prog)", "a flag", "b flag", "c flag", "t,tog toggle", "u toggle on", "v toggle"},
     {"p", "-abc", "-tt", "--tog", "-u", "--v=TRUE", "-v"},
     "a flag,zero [on] | b flag,zero [on] | c flag,zero [on] | t,tog toggle,zero [on] | "
     "u toggle,zero [off] | v toggle,zero [off]"},
    {"lr values split at '-'; a leading '-' leaves the left value absent",
     {"(prog)", "r int,lr 1-2", "s str,lr", "c char,lr", "d double,lr"},
     {"p", "-r", "3-7", "-s-7", "--c=x-", "d=0.5--2.5"},
     "r int,lr [3] [7] | s str,lr [(null)] [7] | c char,lr [x] [(null)] | d double,lr [0.5] [2.5]"},
    {"list uses append to the defaults",
     {"(prog)", "l,list str,list d1 d2", "n str,list (null) x"},
     {"p", "-l", "a", "--list=b", "list=c"},
     "l,list str,list [d1] [d2] [a] [b] [c] | n str,list [(null)] [x]"},
    // Row text: x str,list a\ b c\td \q e\\ f g\<TAB>h. In "e\\ f" the first
    // backslash stays and the second escapes the space; "g\" ends at the real tab.
    {"escapes in default words",
     {"(prog)", "x str,list a\\ b c\\td \\q e\\\\ f g\\\th"},
     {"p"},
     "x str,list [a b] [c\td] [\\q] [e\\ f] [g\\] [h]"},
    {"empty names skipped, type words case-blind, later item wins, no word 2 means flag",
     {"(prog)", "\t ,,a,,alpha,\tINT,STR,list,One  \t v1", "b  Toggle,Flag", "c"},
     {"p", "-a", "w", "-b", "--c"},
     "a,alpha str,one [w] | b flag,zero [on] | c flag,zero [on]"},
    {"'-' and '--' are positional words",
     {"(prog)", "(all) str", "x flag"},
     {"p", "-", "-x", "--", "a"},
     "(all) str,list [-] [--] [a] | x flag,zero [on]"},
    {"without options every word goes to both head and tail",
     {"(prog)", "h,(head) str", "(tail) str"},
     {"p", "a", "b"},
     "h,(head) str,list [a] [b] | (tail) str,list [a] [b]"},
    {"head takes the leading words, tail the trailing ones",
     {"(prog)", "(head) str", "(tail) str", "x flag"},
     {"p", "a", "b", "-x", "c", "d"},
     "(head) str,list [a] [b] | (tail) str,list [c] [d] | x flag,zero [on]"},
    {"name=value makes no pending-word check",
     {"(prog)", "(tail) str", "x flag", "y str"},
     {"p", "-x", "a", "y=1", "b"},
     "(tail) str,list [a] [b] | x flag,zero [on] | y str,one [1]"},
    {"an (all) row takes every word and nothing else",
     {"(prog)", "(all),(tail) str", "x flag", "(head) str,one"},
     {"p", "a", "-x", "b", "--x", "c"},
     "(all),(tail) str,list [a] [b] [c] | x flag,zero [on] | (head) str,one [a]"},
    {"positional words follow the default",
     {"(prog)", "h,(head) str,one def", "x flag"},
     {"p", "w", "-x"},
     "h,(head) str,one [def] [w] | x flag,zero [on]"},
    {"a marker is a usable name in a row with ordinary names",
     {"(prog)", "h,(head) str", "x flag"},
     {"p", "-x", "--(head)=v"},
     "h,(head) str,list [v] | x flag,zero [on]"},
    {"nameless row, repeated name in one row, marker row of number one",
     {"(prog)", "   ", "x,x int 3", "(head) str,one"},
     {"p", "w"},
     " flag,zero  | x,x int,one [3] | (head) str,one [w]"},
};

TEST_F(Switch2Test, RewrittenTable) {
  for (const RewriteCase &c : kRewriteCases) {
    opt_reset();
    Strings table(c.rows);
    Parse(table, c.args);
    EXPECT_EQ(table.Rows(), c.expected) << c.what;
    EXPECT_EQ(table[static_cast<int>(c.rows.size())], nullptr) << c.what;
  }
}

TEST_F(Switch2Test, ProgramNameIsTheBaseName) {
  Strings table(kProgram);
  Parse(table, {"/usr/local/bin/taviron"});
  EXPECT_STREQ(table[0], "taviron");
}

TEST_F(Switch2Test, LongDescriptionIsKeptWhole) {
  std::string row = "x str " + std::string(10000, 'v');
  Strings table({"(prog)", row.c_str()});
  Parse(table, {"p"});
  EXPECT_EQ(table.Rows(), "x str,one [" + std::string(10000, 'v') + "]");
}

// ---------------------------------------------------------------------------
// opt_scan conversions and return values

TEST_F(Switch2Test, ScanProgramTable) {
  Strings table(kProgram);
  Parse(table, {"p", "x.txt", "-e", "1", "-f", "C00002", "--align", "--trick", "7"});
  char *s = nullptr;
  EXPECT_EQ(opt_scan("i", &s), 1);
  EXPECT_STREQ(s, "x.txt");
  s = reinterpret_cast<char *>(1);
  EXPECT_EQ(opt_scan("output", &s), 0);  // no default: NULL
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(opt_scan("entry2", &s), 1);
  EXPECT_STREQ(s, "C00002");
  EXPECT_EQ(opt_scan("atom"), 0);
  EXPECT_EQ(opt_scan("align"), 1);
  int n = 5;
  EXPECT_EQ(opt_scan("trick", &n), 1);
  EXPECT_EQ(n, 7);
  EXPECT_EQ(opt_scan("repeat", &n), 0);  // not given: default written, 0 returned
  EXPECT_EQ(n, -1);
  n = 5;
  EXPECT_EQ(opt_scan("limit", &n), 0);
  EXPECT_EQ(n, 0);
  n = 42;
  EXPECT_EQ(opt_scan("nosuch", &n), 0);  // writes nothing
  EXPECT_EQ(n, 42);
  EXPECT_EQ(opt_scan(nullptr), 0);
}

TEST_F(Switch2Test, ScanBeforeParseWritesNothing) {
  int n = 42;
  EXPECT_EQ(opt_scan("limit", &n), 0);
  EXPECT_EQ(n, 42);
}

TEST_F(Switch2Test, ScanIntegersOutsideIntSaturate) {
  Strings table({"(prog)", "big int 4294967297", "small int -9999999999", "r int,lr"});
  Parse(table, {"p", "-r", "99999999999-12abc"});
  int n = 0, m = 0;
  opt_scan("big", &n);
  EXPECT_EQ(n, INT_MAX);  // not 1, which plain narrowing of 2^32 + 1 would give
  opt_scan("small", &n);
  EXPECT_EQ(n, INT_MIN);
  opt_scan("r", &n, &m);
  EXPECT_EQ(n, INT_MAX);
  EXPECT_EQ(m, 12);  // strtol stops at the first non-digit
}

TEST_F(Switch2Test, ScanPairs) {
  Strings table({"(prog)", "r int,lr", "s str,lr", "c char,lr", "d double,lr", "n int,lr 4-5"});
  Parse(table, {"p", "-r", "3-7", "-s-7", "--c=x-", "d=0.5--2.5"});
  int l = 0, r = 0;
  EXPECT_EQ(opt_scan("r", &l, &r), 1);
  EXPECT_EQ(l, 3);
  EXPECT_EQ(r, 7);
  char *sl = reinterpret_cast<char *>(1), *sr = nullptr;
  EXPECT_EQ(opt_scan("s", &sl, &sr), 1);
  EXPECT_EQ(sl, nullptr);
  EXPECT_STREQ(sr, "7");
  char cl = 0, cr = 'z';
  EXPECT_EQ(opt_scan("c", &cl, &cr), 1);
  EXPECT_EQ(cl, 'x');
  EXPECT_EQ(cr, 0);
  double dl = 0, dr = 0;
  EXPECT_EQ(opt_scan("d", &dl, &dr), 1);
  EXPECT_DOUBLE_EQ(dl, 0.5);
  EXPECT_DOUBLE_EQ(dr, 2.5);
  // A default is one word, never split: strtol("4-5") is 4; there is no value 2.
  EXPECT_EQ(opt_scan("n", &l, &r), 0);
  EXPECT_EQ(l, 4);
  EXPECT_EQ(r, 0);
}

TEST_F(Switch2Test, ScanLists) {
  Strings table({"(prog)", "l str,list d1", "n str,list (null) x", "e str,list"});
  Parse(table, {"p", "-l", "a", "--l=b"});
  char **v = nullptr;
  ASSERT_EQ(opt_scan("l", &v), 3);  // the count includes the default
  EXPECT_STREQ(v[0], "d1");
  EXPECT_STREQ(v[1], "a");
  EXPECT_STREQ(v[2], "b");
  EXPECT_EQ(v[3], nullptr);
  std::free(v);
  ASSERT_EQ(opt_scan("n", &v), 2);
  EXPECT_EQ(v[0], nullptr);
  EXPECT_STREQ(v[1], "x");
  std::free(v);
  ASSERT_EQ(opt_scan("e", &v), 0);
  EXPECT_EQ(v[0], nullptr);
  std::free(v);
}

TEST_F(Switch2Test, ScanSingleValuesAndFlags) {
  Strings table({"(prog)", "c char z", "g char", "h char", "d double 2.5", "x double",
                 "s str (null)", "a flag YES", "b flag 0", "t toggle"});
  Parse(table, {"p", "-g", "hello", "-h", "", "--x=1e3", "-tt"});
  char c = 0;
  EXPECT_EQ(opt_scan("c", &c), 0);
  EXPECT_EQ(c, 'z');
  EXPECT_EQ(opt_scan("g", &c), 1);
  EXPECT_EQ(c, 'h');
  EXPECT_EQ(opt_scan("h", &c), 1);  // an empty value has no first character
  EXPECT_EQ(c, 0);
  double d = 0;
  EXPECT_EQ(opt_scan("d", &d), 0);
  EXPECT_DOUBLE_EQ(d, 2.5);
  EXPECT_EQ(opt_scan("x", &d), 1);
  EXPECT_DOUBLE_EQ(d, 1000.0);
  char *s = reinterpret_cast<char *>(1);
  EXPECT_EQ(opt_scan("s", &s), 0);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(opt_scan("a"), 1);  // table defaults may use any on word
  EXPECT_EQ(opt_scan("b"), 0);
  EXPECT_EQ(opt_scan("t"), 0);  // given twice: back to off
}

// ---------------------------------------------------------------------------
// Failures: one line on standard error, status 9

struct FailureCase {
  Words rows;
  Words args;
  const char *message;
};

const FailureCase kFailureCases[] = {
    // Command line.
    {kProgram, {"p", "-e", "1", "x.txt"}, "switch2: illegal option, x.txt\n"},
    {kProgram, {"p", "--trick"}, "switch2: no value was found, --trick\n"},
    {kProgram, {"p", "--trick="}, "switch2: no value was found, --trick=\n"},
    {kProgram, {"p", "limit="}, "switch2: no value was found, limit=\n"},
    {kProgram, {"p", "-ae"}, "switch2: no value was found, -e\n"},
    {kProgram, {"p", "-axz"}, "switch2: illegal option, -axz\n"},
    {kProgram, {"p", "-r5"}, "switch2: illegal option, -r5\n"},  // "repeat" is long only
    {kProgram, {"p", "--nosuch=3"}, "switch2: illegal option, --nosuch=3\n"},
    {kProgram, {"p", "nosuch=3"}, "switch2: illegal option, nosuch=3\n"},
    {kProgram, {"p", "--="}, "switch2: illegal option, --=\n"},
    {kProgram, {"p", "---e=1"}, "switch2: illegal option, ---e=1\n"},  // key keeps the dashes
    {{"(prog)", "(tail) str", "x flag"}, {"p", "a", "b", "-x"}, "switch2: illegal option, a, b\n"},
    {{"(prog)", "(head) str", "x flag"}, {"p", "a", "-x", "b"}, "switch2: illegal option, b\n"},
    {{"(prog)", "(head) str", "x flag"},
     {"p", "--(head)=v"},
     "switch2: illegal option, --(head)=v\n"},  // a row of markers only has no names
    {{"(prog)"}, {"p", "-x"}, "switch2: illegal option, -x\n"},
    {{"(prog)"}, {"p", "--x"}, "switch2: illegal option, --x\n"},
    {{"(prog)"}, {"p", "x=1"}, "switch2: illegal option, x=1\n"},
    {{"(prog)"}, {"p", "word"}, "switch2: illegal option, word\n"},
    // Table, checked before any argument.
    {{"(prog)", "x flag", "a flag", "b flag", "c flag", "x int"},
     {"p", "-q"},
     "switch2: option error detected, between lines 1 & 5\n"},
    {{"(prog)", "a flag", "x flag", "b flag", "c flag", "y,x int"},
     {"p"},
     "switch2: option error detected, between lines 2 & 5\n"},
    {{"(prog)", "(head) str", "(head),z str"},
     {"p"},
     "switch2: option error detected, between lines 1 & 2\n"},
    {{"(prog)", "n int,list"}, {"p"}, "switch2: option error detected, at line 1\n"},
    {{"(prog)", "a flag", "f flag,one"}, {"p"}, "switch2: option error detected, at line 2\n"},
    {{"(prog)", "a flag", "b flag", "(head) int"},
     {"p"},
     "switch2: option error detected, at line 3\n"},
    {{"(prog)", "(tail) str,lr"}, {"p"}, "switch2: option error detected, at line 1\n"},
    {{"(prog)", "(all) flag"}, {"p"}, "switch2: option error detected, at line 1\n"},
    {{"(prog)", "x int,zero"}, {"p"}, "switch2: option error detected, at line 1\n"},
    {{"(prog)", "x toggle,lr"}, {"p"}, "switch2: option error detected, at line 1\n"},
    {{"(prog)", "x char,list"}, {"p"}, "switch2: option error detected, at line 1\n"},
    {{"(prog)", "x one"}, {"p"}, "switch2: option error detected, at line 1\n"},  // a flag
    {{"(prog)", "x flag", "x flag", "d double,list"},
     {"p"},
     "switch2: option error detected, at line 3\n"},  // row checks come first
    {{"(prog)", "x Str,BOGUS"}, {"p"}, "switch2: unrecognized type, 'bogus'\n"},
    {{"(prog)", "x -1"}, {"p"}, "switch2: unrecognized type, '-1'\n"},
};

TEST_F(Switch2DeathTest, Failures) {
  for (const FailureCase &c : kFailureCases) {
    Strings table(c.rows);
    EXPECT_EXIT(Parse(table, c.args), testing::ExitedWithCode(9), Says(c.message)) << c.message;
  }
}

TEST_F(Switch2DeathTest, DuplicateCall) {
  Strings first(kProgram), second(kProgram);
  EXPECT_EXIT(
      {
        Parse(first, {"p"});
        Parse(second, {"p"});
      },
      testing::ExitedWithCode(9), Says("switch2: duplicate call, opt_check\n"));
  // A call without a table counts too.
  EXPECT_EXIT(
      {
        opt_check(0, nullptr, nullptr);
        Parse(second, {"p"});
      },
      testing::ExitedWithCode(9), Says("switch2: duplicate call, opt_check\n"));
}

// ---------------------------------------------------------------------------
// Library options, dumps, unusual argument vectors, reset and exit

TEST_F(Switch2DeathTest, LibraryVersionWinsOverEverything) {
  Strings table({"(prog)", "x bogus"});
  EXPECT_EXIT(
      {
        StdoutToStderr();
        Parse(table, {"p", "-zzz", "--library_version", "--option_debug"});
      },
      testing::ExitedWithCode(0), Says("vembolib ver 2.0.0pre1.1.4_port\n"));
}

TEST_F(Switch2DeathTest, OptionDebugDumpsAndExits) {
  Strings table({"(prog)", "x,xx   int 3", "f flag"});
  const Words args = {"dir/tool", "--option_debug", "-x", "4"};
  EXPECT_EXIT(
      {
        StdoutToStderr();
        Parse(table, args);
      },
      testing::ExitedWithCode(0),
      Says("--- BEFORE ---\n(prog)\nx,xx   int 3\nf flag\n--------------\n"
           "--- AFTER ---\ntool\nx,xx int,one [4]\nf flag,zero \n-------------\n"));
  Strings bad({"(prog)", "f flag,one"});
  EXPECT_EXIT(
      {
        StdoutToStderr();
        Parse(bad, args);
      },
      testing::ExitedWithCode(9),
      Says("--- BEFORE ---\n(prog)\nf flag,one\n--------------\n"
           "switch2: option error detected, at line 1\n"));
}

TEST_F(Switch2Test, DebugModeDumpsAndReturns) {
  opt_setDebugMode(1);
  Strings table({"(prog)", "a flag"});
  testing::internal::CaptureStdout();
  Parse(table, {"p", "-a"});
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "--- BEFORE ---\n(prog)\na flag\n--------------\n"
            "--- AFTER ---\np\na flag,zero [on]\n-------------\n");
  EXPECT_EQ(opt_scan("a"), 1);
}

TEST_F(Switch2Test, NullTableOnlyFiltersLibraryOptions) {
  Strings args({"p", "--option_debug", "whatever"});
  testing::internal::CaptureStdout();
  opt_check(args.size(), args.data(), nullptr);  // returns despite "--option_debug"
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(opt_scan("whatever"), 0);
}

TEST_F(Switch2Test, EmptyArgumentVector) {
  Strings table({"(prog)", "n int 5"});
  opt_check(0, nullptr, table.data());
  EXPECT_STREQ(table[0], "");  // no program name to take
  int n = 0;
  EXPECT_EQ(opt_scan("n", &n), 0);
  EXPECT_EQ(n, 5);
}

TEST_F(Switch2Test, TableWithoutPlaceholderIsLeftAlone) {
  char *table[] = {nullptr};
  Strings args({"p"});
  opt_check(args.size(), args.data(), table);
  EXPECT_EQ(table[0], nullptr);
}

TEST_F(Switch2Test, ResetAllowsAnotherParse) {
  Strings first({"(prog)", "a flag"}), second({"(prog)", "a flag"});
  Parse(first, {"p", "-a"});
  EXPECT_EQ(opt_scan("a"), 1);
  opt_reset();
  EXPECT_EQ(opt_scan("a"), 0);
  Parse(second, {"p"});
  EXPECT_EQ(opt_scan("a"), 0);
}

// Every process end reaches an installed handler instead of exit(): errors
// (after their message), the library options and opt_exit alike.
struct Ended {
  int status;
};

TEST_F(Switch2Test, ExitHandlerSeesEveryProcessEnd) {
  opt_setExitHandler([](int status) { throw Ended{status}; });
  auto status_of = [](const Words &rows, const Words &args) {
    opt_reset();
    Strings table(rows);
    try {
      Parse(table, args);
    } catch (const Ended &end) {
      return end.status;
    }
    return -1;  // returned normally
  };
  testing::internal::CaptureStderr();
  EXPECT_EQ(status_of(kProgram, {"p", "--nope"}), 9);
  EXPECT_EQ(status_of(kProgram, {"p", "x.qtr", "-e"}), 9);
  EXPECT_EQ(status_of({"(prog)", "x bogus"}, {"p"}), 9);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "switch2: illegal option, --nope\n"
            "switch2: no value was found, -e\n"
            "switch2: unrecognized type, 'bogus'\n");
  testing::internal::CaptureStdout();
  EXPECT_EQ(status_of(kProgram, {"p", "--library_version"}), 0);
  EXPECT_EQ(status_of(kProgram, {"p", "--option_debug"}), 0);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(status_of(kProgram, {"p", "-a"}), -1);
  try {
    opt_exit(3, nullptr);
  } catch (const Ended &end) {
    EXPECT_EQ(end.status, 3);
  }
  // A handler survives a reset; a null one brings exit() back.
  opt_reset();
  Strings table(kProgram);
  EXPECT_THROW(Parse(table, {"p", "-z"}), Ended);
  opt_setExitHandler(nullptr);
  opt_reset();
  EXPECT_EXIT(Parse(table, {"p", "-z"}), testing::ExitedWithCode(9),
              Says("switch2: illegal option, -z\n"));
}

TEST_F(Switch2DeathTest, OptExitCallsFunctionThenEnds) {
  EXPECT_EXIT(opt_exit(3, [] { std::fputs("bye\n", stderr); }), testing::ExitedWithCode(3),
              Says("bye\n"));
  EXPECT_EXIT(opt_exit(0, nullptr), testing::ExitedWithCode(0), Says(""));
}

}  // namespace
