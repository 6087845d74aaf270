#include "switch.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

// An argument vector built from literals; argc is its size.
struct Args {
  Args(std::initializer_list<const char *> words) {
    for (const char *w : words) store.emplace_back(w);
    for (std::string &s : store) ptrs.push_back(s.data());
    ptrs.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(store.size()); }
  char **argv() { return ptrs.data(); }
  std::vector<std::string> store;
  std::vector<char *> ptrs;
};

std::string str(const char *s) {
  return s != nullptr ? s : "<null>";
}

TEST(GetProgram, BaseNameOfPath) {
  auto name = [](const char *path) {
    char *r = getProgram(path);
    std::string out = str(r);
    free(r);
    return out;
  };
  EXPECT_EQ(name("/usr/local/bin/tool"), "tool");
  EXPECT_EQ(name("tool"), "tool");
  EXPECT_EQ(name("./tool"), "tool");
  EXPECT_EQ(name("bin/"), "<null>");
  EXPECT_EQ(name("/"), "<null>");
  EXPECT_EQ(name(nullptr), "<null>");
}

TEST(GetOne, GluedSeparateOrAbsent) {
  char *v = nullptr;
  Args glued{"prog", "-x5"};
  EXPECT_EQ(strGetONE(glued.argc(), glued.argv(), &v), 0);
  EXPECT_EQ(str(v), "5");
  free(v);

  Args separate{"prog", "-x", "5"};
  EXPECT_EQ(strGetONE(separate.argc(), separate.argv(), &v), 1);  // skip argv[2]
  EXPECT_EQ(str(v), "5");
  free(v);

  Args next_switch{"prog", "-x", "-y"};
  EXPECT_EQ(strGetONE(next_switch.argc(), next_switch.argv(), &v), 0);
  EXPECT_EQ(v, nullptr);
  int i = 99;
  EXPECT_EQ(intGetONE(next_switch.argc(), next_switch.argv(), &i), 0);
  EXPECT_EQ(i, 0);

  Args alone{"prog", "-x"};
  EXPECT_EQ(strGetONE(alone.argc(), alone.argv(), &v), 0);
  EXPECT_EQ(v, nullptr);
  Args short_switch{"prog", "-"};  // shorter than a switch: no glued value
  EXPECT_EQ(strGetONE(short_switch.argc(), short_switch.argv(), &v), 0);
  EXPECT_EQ(v, nullptr);
  EXPECT_EQ(strGetONE(1, glued.argv(), &v), 0);  // no switch at all
  EXPECT_EQ(v, nullptr);
}

TEST(GetOne, TypedValues) {
  Args a{"prog", "-n", "42abc"};
  int i = 0;
  EXPECT_EQ(intGetONE(a.argc(), a.argv(), &i), 1);
  EXPECT_EQ(i, 42);  // strtol stops at the first non-digit
  char c = 0;
  EXPECT_EQ(charGetONE(a.argc(), a.argv(), &c), 1);
  EXPECT_EQ(c, '4');
  Args d{"prog", "-d2.5e1"};
  double x = 0;
  EXPECT_EQ(doubleGetONE(d.argc(), d.argv(), &x), 0);
  EXPECT_DOUBLE_EQ(x, 25.0);
  Args none{"prog", "-d"};
  x = 1;
  c = 'z';
  EXPECT_EQ(doubleGetONE(none.argc(), none.argv(), &x), 0);
  EXPECT_EQ(x, 0.0);
  EXPECT_EQ(charGetONE(none.argc(), none.argv(), &c), 0);
  EXPECT_EQ(c, 0);
}

TEST(GetLR, SplitsAtTheDelimiter) {
  auto lr = [](std::initializer_list<const char *> words) {
    Args a(words);
    char *l = nullptr;
    char *r = nullptr;
    const char flag = strGetLR(a.argc(), a.argv(), ':', &l, &r);
    return std::to_string(flag) + " " + str(l) + " " + str(r);
  };
  EXPECT_EQ(lr({"prog", "-r3:7"}), "0 3 7");
  EXPECT_EQ(lr({"prog", "-r:7"}), "0 <null> 7");
  EXPECT_EQ(lr({"prog", "-r3"}), "0 3 <null>");
  EXPECT_EQ(lr({"prog", "-r3::7:9"}), "0 3 7");  // repeated ':' is one; third part ignored
  EXPECT_EQ(lr({"prog", "-r"}), "0 <null> <null>");
  EXPECT_EQ(lr({"prog", "-r", "1:2"}), "1 1 2");
  EXPECT_EQ(lr({"prog", "-r", "3:"}), "1 3 <null>");
}

TEST(GetLR, TypedParts) {
  Args a{"prog", "-r3:x"};
  int l = -1, r = -1;
  EXPECT_EQ(intGetLR(a.argc(), a.argv(), ':', &l, &r), 0);
  EXPECT_EQ(l, 3);
  EXPECT_EQ(r, 0);  // "x" converts to 0
  Args b{"prog", "-r0.5:2"};
  double dl = 0, dr = 0;
  EXPECT_EQ(doubleGetLR(b.argc(), b.argv(), ':', &dl, &dr), 0);
  EXPECT_DOUBLE_EQ(dl, 0.5);
  EXPECT_DOUBLE_EQ(dr, 2.0);
  Args c{"prog", "-r", ":b"};
  char cl = 'z', cr = 0;
  EXPECT_EQ(charGetLR(c.argc(), c.argv(), ':', &cl, &cr), 1);
  EXPECT_EQ(cl, 0);  // absent left part
  EXPECT_EQ(cr, 'b');
  Args d{"prog", "-r"};
  EXPECT_EQ(intGetLR(d.argc(), d.argv(), ':', &l, &r), 0);
  EXPECT_EQ(l, 0);
  EXPECT_EQ(r, 0);
}

}  // namespace
