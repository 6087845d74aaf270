#include "basic.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "string1.h"

namespace {
constexpr const char *kLibraryName = "vembolib";
constexpr const char *kLibraryVersion = "2.0.0pre1.1.4_port";
constexpr int kBannerLength = 31;
}  // namespace

char *vembo_version() {
  char *banner = strmalloc(kBannerLength);
  if (banner != nullptr) {
    snprintf(banner, kBannerLength + 1, "%s ver %s", kLibraryName, kLibraryVersion);
  }
  return banner;
}

namespace {

// Reads and drops the rest of the current line. Returns false at end of input.
bool skip_line() {
  int c = 0;
  while ((c = getchar()) != EOF) {
    if (c == '\n') return true;
  }
  return false;
}

bool in_set(char c, const char *set) {
  return c != '\0' && strchr(set, c) != nullptr;
}

}  // namespace

int vembo_input(char mode, const char *truestr, const char *falsestr, const char *s1, char *s2) {
  if (mode < 0 || mode > 2) return 0;

  if (mode == 2) {
    if (s1 != nullptr) fprintf(stderr, "%s", s1);
    // End of input ends the line too; what came before it is kept.
    int n = 0;
    int c = 0;
    while ((c = getchar()) != EOF && c != '\n') {
      if (s2 != nullptr) s2[n++] = static_cast<char>(c);
    }
    if (s2 != nullptr) s2[n] = '\0';
    return n;
  }

  if (truestr == nullptr || falsestr == nullptr) return 0;
  const size_t limit = std::max(strlen(truestr), strlen(falsestr)) + 1;
  if (s1 != nullptr) fprintf(stderr, "%s", s1);
  for (;;) {
    // One answer: at most `limit` characters; one more is read and dropped
    // when the answer is cut short.
    std::string answer;
    bool line_read = false;  // its newline (or the end of input) was consumed
    bool at_eof = false;
    int c = getchar();
    if (c == EOF) return 0;  // no answer can come any more: the false answer
    if (c == '\n') {
      line_read = true;
    } else {
      answer += static_cast<char>(c);
      while (answer.size() < limit) {
        c = getchar();
        if (c == EOF || c == '\n') break;
        answer += static_cast<char>(c);
      }
      if (answer.size() == limit) c = getchar();
      if (c == EOF) {
        at_eof = true;
        line_read = true;
      } else if (c == '\n') {
        line_read = true;
      }
    }

    if (mode == 0 && !answer.empty()) {
      if (in_set(answer[0], truestr)) return 1;
      if (in_set(answer[0], falsestr)) return 0;
    } else {
      if (answer == truestr) return 1;
      if (answer == falsestr) return 0;
    }

    // Rejected. An answer cut off by the end of input is the last one.
    if (at_eof) return 0;
    if (!line_read && !skip_line()) return 0;
    if (s2 != nullptr) fprintf(stderr, "%s", s2);
  }
}
