#include "string3.h"

#include <string>

namespace {

// Escape letters and the characters they stand for; the characters that stand
// for themselves (quotes, question mark, backslash) follow.
constexpr char kEscapeLetters[] = "abtnvfr";
constexpr char kEscapeCodes[] = "\a\b\t\n\v\f\r";
constexpr char kSelfEscaped[] = "\"'?\\";

char decode_escape(char c) {
  for (int i = 0; kEscapeLetters[i] != '\0'; ++i) {
    if (kEscapeLetters[i] == c) return kEscapeCodes[i];
  }
  return c;  // also covers the self-escaped characters
}

// The letter that follows the backslash for c, or 0 when c is written as is.
char encode_escape(char c) {
  if (c == '\0') return 0;
  for (int i = 0; kEscapeCodes[i] != '\0'; ++i) {
    if (kEscapeCodes[i] == c) return kEscapeLetters[i];
  }
  for (int i = 0; kSelfEscaped[i] != '\0'; ++i) {
    if (kSelfEscaped[i] == c) return c;
  }
  return 0;
}

// Writes text into s, terminated.
char *store(char *s, const std::string &text) {
  text.copy(s, text.size());
  s[text.size()] = '\0';
  return s;
}

}  // namespace

char *strDecode_escape(char *s) {
  if (s == nullptr) return nullptr;
  // Decoding never lengthens the text, so it works in place.
  const char *r = s;
  char *w = s;
  while (*r != '\0') {
    if (*r != '\\') {
      *w++ = *r++;
      continue;
    }
    ++r;
    if (*r == '\0') break;  // a trailing lone backslash is dropped
    *w++ = decode_escape(*r++);
  }
  *w = '\0';
  return s;
}

char *strEncode_escape(char *s) {
  if (s == nullptr) return nullptr;
  const std::string in(s);
  std::string out;
  out.reserve(in.size() * 2);
  for (char c : in) {
    const char letter = encode_escape(c);
    if (letter != 0) {
      out += '\\';
      out += letter;
    } else {
      out += c;
    }
  }
  return store(s, out);
}

char *strUntabify(char *s, int tab) {
  if (s == nullptr || tab <= 0) return s;
  const std::string in(s);
  std::string out;
  long n = 0;  // column of the last character written
  for (char c : in) {
    if (c == '\n') {
      out += c;
      n = 0;
      continue;
    }
    ++n;
    if (c != '\t') {
      out += c;
      continue;
    }
    out += ' ';
    while (n % tab != 0) {
      out += ' ';
      ++n;
    }
  }
  return store(s, out);
}

char *strTabify(char *s, int tab) {
  if (s == nullptr || tab <= 0) return s;
  const std::string in(s);
  std::string out;
  long n = 0;  // column of the last character written
  for (size_t i = 0; i < in.size(); ++i) {
    const char c = in[i];
    if (c == '\n') {
      out += c;
      n = 0;
    } else if (c == '\t') {
      out += c;
      n = (n / tab + 1) * tab;
    } else if (c != ' ') {
      out += c;
      ++n;
    } else {
      const long col = n + 1;
      if (col % tab == 0) {
        out += '\t';
        n = col;
        continue;
      }
      // Spaces must cover every column up to the next tab stop.
      const long stop = (col / tab + 1) * tab;
      const size_t run = static_cast<size_t>(stop - col + 1);
      if (in.size() - i >= run && in.find_first_not_of(' ', i) >= i + run) {
        out += '\t';
        n = stop;
        i += run - 1;
      } else {
        out += ' ';
        n = col;
      }
    }
  }
  return store(s, out);
}

char *strUnfold(char *s) {
  if (s == nullptr) return nullptr;
  char *w = s;
  for (const char *r = s; *r != '\0'; ++r) {
    if (*r != '\n') *w++ = *r;
  }
  *w = '\0';
  return s;
}

char *strFold(char *s, int width) {
  if (s == nullptr || width <= 0) return s;
  const std::string in(s);
  std::string out;
  long k = -1;  // characters of the current piece so far, minus one
  for (char c : in) {
    if (c == '\n') {
      out += c;
      k = -1;
      continue;
    }
    if (++k == width) {
      out += '\n';
      k = 0;
    }
    out += c;
  }
  return store(s, out);
}
