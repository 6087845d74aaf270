// Declarative command-line parser driven by a table of option rows.
#pragma once

void opt_check(int argc, char **argv, char **options);
int opt_scan(const char *keyword, ...);
void opt_exit(int status, void (*func)());
void opt_setDebugMode(char flag);
