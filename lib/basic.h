// Library banner and the interactive prompt.
#pragma once

char *vembo_version();
int vembo_input(char mode, const char *truestr, const char *falsestr, const char *s1, char *s2);
