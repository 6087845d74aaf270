#include "string2.h"

#include <cstdlib>
#include <cstring>

namespace {

#if !defined(__SANITIZE_ADDRESS__)
// Tokens are small and never released, so they are carved out of large chunks
// rather than given one heap block each. Each chunk starts with a pointer to
// the previous one, which keeps them all reachable.
constexpr size_t kChunkSize = 64 * 1024;
constexpr size_t kChunkHeader = sizeof(void *);
constexpr size_t kOwnBlock = kChunkSize / 8;  // larger copies get a block of their own

void *chunk_chain = nullptr;
char *chunk_next = nullptr;
size_t chunk_left = 0;

char *chunk_alloc(size_t size) {
  if (size > kOwnBlock) {
    auto *block = static_cast<char *>(malloc(kChunkHeader + size));
    if (block == nullptr) return nullptr;
    memcpy(block, &chunk_chain, kChunkHeader);
    chunk_chain = block;
    return block + kChunkHeader;
  }
  if (size > chunk_left) {
    auto *chunk = static_cast<char *>(malloc(kChunkSize));
    if (chunk == nullptr) return nullptr;
    memcpy(chunk, &chunk_chain, kChunkHeader);
    chunk_chain = chunk;
    chunk_next = chunk + kChunkHeader;
    chunk_left = kChunkSize - kChunkHeader;
  }
  char *p = chunk_next;
  chunk_next += size;
  chunk_left -= size;
  return p;
}
#else
// Under the address sanitizer every copy gets its own block, so that overruns
// of a token are caught.
char *chunk_alloc(size_t size) {
  return static_cast<char *>(malloc(size));
}
#endif

bool is_delimiter(char c, const char *char_del) {
  return strchr(char_del, c) != nullptr;
}

}  // namespace

char *strtoken_keep(const char *p, size_t n) {
  char *copy = chunk_alloc(n + 1);
  if (copy == nullptr) return nullptr;
  memcpy(copy, p, n);
  copy[n] = '\0';
  return copy;
}

const char *strtoken_scan(const char *s, const char *char_del, int number, const char **end) {
  *end = nullptr;
  if (s == nullptr || char_del == nullptr || number <= 0) return nullptr;
  bool inside = false;
  for (const char *p = s; *p != '\0'; ++p) {
    if (is_delimiter(*p, char_del)) {
      inside = false;
    } else if (!inside) {
      if (--number == 0) {
        *end = strpbrk(p, char_del);
        return p;
      }
      inside = true;
    }
  }
  return nullptr;
}

const char *strwtoken_scan(const char *s, const char *word_del, int number, const char **end) {
  *end = nullptr;
  if (s == nullptr || word_del == nullptr || number <= 0) return nullptr;
  const size_t wl = strlen(word_del);
  if (wl == 0) return nullptr;  // an empty word would never advance the scan
  bool inside = false;
  for (const char *p = s; *p != '\0';) {
    if (strncmp(p, word_del, wl) == 0) {
      p += wl;
      inside = false;
      continue;
    }
    if (!inside) {
      if (--number == 0) {
        *end = strstr(p, word_del);
        return p;
      }
      inside = true;
    }
    ++p;
  }
  return nullptr;
}

namespace {

char *keep_token(const char *start, const char *end) {
  if (start == nullptr) return nullptr;
  const size_t n = end != nullptr ? static_cast<size_t>(end - start) : strlen(start);
  return strtoken_keep(start, n);
}

}  // namespace

// Only the token itself is copied: it is all the caller can reach of the copy.
char *strtoken(const char *s, const char *char_del, int number) {
  const char *end = nullptr;
  const char *start = strtoken_scan(s, char_del, number, &end);
  return keep_token(start, end);
}

char *strwtoken(const char *s, const char *word_del, int number) {
  const char *end = nullptr;
  const char *start = strwtoken_scan(s, word_del, number, &end);
  return keep_token(start, end);
}

char *strpcut(const char *p1, const char *p2) {
  if (p1 == nullptr) return nullptr;
  size_t n = 0;
  if (p2 == nullptr || p2 < p1) {
    n = strlen(p1);
  } else {
    // Never past the terminator, even when p2 lies beyond it.
    n = strnlen(p1, static_cast<size_t>(p2 - p1) + 1);
  }
  auto *copy = static_cast<char *>(malloc(n + 1));
  if (copy == nullptr) return nullptr;
  memcpy(copy, p1, n);
  copy[n] = '\0';
  return copy;
}

char *strcut(const char *s, int i, int j) {
  if (s == nullptr || i < 0) return nullptr;
  const size_t len = strlen(s);
  const size_t from = static_cast<size_t>(i);
  if (from >= len) return nullptr;
  const char *last = nullptr;  // through the end
  if (j >= i && static_cast<size_t>(j) < len) last = s + j;
  return strpcut(s + from, last);
}
