// Program name from the invoking path, and single-switch argument getters.
#pragma once

char *getProgram(const char *path);

char strGetONE(int argc, char **argv, char **ret);
char charGetONE(int argc, char **argv, char *ret);
char intGetONE(int argc, char **argv, int *ret);
char doubleGetONE(int argc, char **argv, double *ret);
char strGetLR(int argc, char **argv, char delimiter, char **returnL, char **returnR);
char charGetLR(int argc, char **argv, char delimiter, char *returnL, char *returnR);
char intGetLR(int argc, char **argv, char delimiter, int *returnL, int *returnR);
char doubleGetLR(int argc, char **argv, char delimiter, double *returnL, double *returnR);
