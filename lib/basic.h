// Library banner and the interactive prompt.
#pragma once

// The library banner in a fresh allocation that belongs to the caller.
char *vembo_version();
// Asks s1 on standard error and reads one answer line from standard input.
// Mode 0: the answer's first character is looked up in the true set, then the
// false set; mode 1: the whole answer must equal the true or false word. Both
// ask again (after printing s2) until an answer is accepted and return 1 for
// true, 0 for false; when the input ends first the result is 0. Mode 2 stores
// the line, without its newline, in the buffer s2 and returns its length.
int vembo_input(char mode, const char *truestr, const char *falsestr, const char *s1, char *s2);
