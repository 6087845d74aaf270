// Program name from the invoking path, and single-switch argument getters.
#pragma once

char *getProgram(const char *path);

// Getters for the switch argv[1] (dash and letter) and its value, glued to it
// or in argv[2]. Each returns 1 when the value was taken from argv[2], else 0.
// strGetONE's value is a fresh allocation for the caller; the parts given by
// strGetLR are kept until exit and must not be freed.
char strGetONE(int argc, char **argv, char **ret);
char charGetONE(int argc, char **argv, char *ret);
char intGetONE(int argc, char **argv, int *ret);
char doubleGetONE(int argc, char **argv, double *ret);
char strGetLR(int argc, char **argv, char delimiter, char **returnL, char **returnR);
char charGetLR(int argc, char **argv, char delimiter, char *returnL, char *returnR);
char intGetLR(int argc, char **argv, char delimiter, int *returnL, int *returnR);
char doubleGetLR(int argc, char **argv, char delimiter, double *returnL, double *returnR);
