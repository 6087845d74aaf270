// Token extraction and substring cutting. Tokens point into private copies
// that stay valid until the process ends; callers never free them.
#pragma once

char *strtoken(const char *s, const char *char_del, int number);
char *strwtoken(const char *s, const char *word_del, int number);
char *strpcut(const char *p1, const char *p2);
char *strcut(const char *s, int i, int j);
