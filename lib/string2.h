// Token extraction and substring cutting. Tokens point into private copies
// that stay valid until the process ends; callers never free them.
#pragma once

#include <cstddef>

char *strtoken(const char *s, const char *char_del, int number);
char *strwtoken(const char *s, const char *word_del, int number);
char *strpcut(const char *p1, const char *p2);
char *strcut(const char *s, int i, int j);

// Shared with the tokenizer.
//
// Finds the number-th token (from 1) of s: with a delimiter character set, a
// token is a maximal run of characters not in the set; with a delimiter word,
// tokens are separated by whole occurrences of the word (which must not be
// empty). Returns the token's first character within s, or null when there is
// none; *end is set to the delimiter that ends the token (the delimiter
// character, or the start of the word's next occurrence), or null when the
// token runs to the end of s.
const char *strtoken_scan(const char *s, const char *char_del, int number, const char **end);
const char *strwtoken_scan(const char *s, const char *word_del, int number, const char **end);
// A private, NUL-terminated copy of the n characters at p, kept until exit
// (null when memory runs out). Never to be freed by the caller.
char *strtoken_keep(const char *p, size_t n);
