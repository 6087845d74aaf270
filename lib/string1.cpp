#include "string1.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

// Every allocation here comes from malloc so that callers release it with free.
// When memory runs out the allocating helpers return null.

char *strmalloc(int length) {
  if (length < 0) return nullptr;
  return static_cast<char *>(malloc(static_cast<size_t>(length) + 1));
}

char *strwrap(const char *s) {
  if (s == nullptr) return nullptr;
  const size_t n = strlen(s);
  auto *copy = static_cast<char *>(malloc(n + 1));
  if (copy != nullptr) memcpy(copy, s, n + 1);
  return copy;
}

char *strcwrap(char c) {
  auto *s = static_cast<char *>(malloc(2));
  if (s != nullptr) {
    s[0] = c;
    s[1] = '\0';
  }
  return s;
}

char *strlower(char *s) {
  if (s == nullptr) return nullptr;
  for (char *p = s; *p != '\0'; ++p)
    *p = static_cast<char>(tolower(static_cast<unsigned char>(*p)));
  return s;
}

char *strupper(char *s) {
  if (s == nullptr) return nullptr;
  for (char *p = s; *p != '\0'; ++p)
    *p = static_cast<char>(toupper(static_cast<unsigned char>(*p)));
  return s;
}

char *charcat(char *s, char c) {
  if (s == nullptr) return nullptr;
  const size_t n = strlen(s);
  s[n] = c;
  s[n + 1] = '\0';
  return s;
}
