// Allocation, copying and case conversion of NUL-terminated strings.
#pragma once

char *strmalloc(int length);
char *strwrap(const char *s);
char *strcwrap(char c);
char *strlower(char *s);
char *strupper(char *s);
char *charcat(char *s, char c);
