#include "switch.h"

#include <cstdlib>
#include <cstring>

#include "string1.h"
#include "string2.h"

char *getProgram(const char *path) {
  if (path == nullptr) return nullptr;
  const char *slash = strrchr(path, '/');
  if (slash == nullptr) return strwrap(path);
  if (slash[1] == '\0') return nullptr;
  return strwrap(slash + 1);
}

namespace {

// The value of the switch argv[1]: glued to it from its third character on, or
// else argv[2] when that exists and is not itself a switch. Returns 1 when the
// value came from argv[2], so that the caller skips it too.
char GetGetONE(int argc, char **argv, char **value) {
  *value = nullptr;
  if (argc < 2 || argv == nullptr || argv[1] == nullptr) return 0;
  const char *sw = argv[1];
  if (sw[0] != '\0' && sw[1] != '\0' && sw[2] != '\0') {
    *value = strwrap(sw + 2);
    return 0;
  }
  if (argc > 2 && argv[2] != nullptr && argv[2][0] != '-') {
    *value = strwrap(argv[2]);
    return 1;
  }
  return 0;
}

// The value split at delimiter into a left and a right part (either may be
// null); repeated delimiters count as one and a third part is ignored.
char GetGetLR(int argc, char **argv, char delimiter, char **left, char **right) {
  char *value = nullptr;
  const char flag = GetGetONE(argc, argv, &value);
  *left = nullptr;
  *right = nullptr;
  if (value != nullptr) {
    char *set = strcwrap(delimiter);
    if (value[0] == delimiter) {
      *right = strtoken(value, set, 1);
    } else {
      *left = strtoken(value, set, 1);
      *right = strtoken(value, set, 2);
    }
    free(set);
    free(value);  // the parts are private copies
  }
  return flag;
}

char first_char(const char *s) {
  return s != nullptr ? s[0] : 0;
}

int to_int(const char *s) {
  return s != nullptr ? static_cast<int>(strtol(s, nullptr, 10)) : 0;
}

double to_double(const char *s) {
  return s != nullptr ? strtod(s, nullptr) : 0.0;
}

}  // namespace

char strGetONE(int argc, char **argv, char **ret) {
  return GetGetONE(argc, argv, ret);
}

char charGetONE(int argc, char **argv, char *ret) {
  char *value = nullptr;
  const char flag = GetGetONE(argc, argv, &value);
  *ret = first_char(value);
  free(value);
  return flag;
}

char intGetONE(int argc, char **argv, int *ret) {
  char *value = nullptr;
  const char flag = GetGetONE(argc, argv, &value);
  *ret = to_int(value);
  free(value);
  return flag;
}

char doubleGetONE(int argc, char **argv, double *ret) {
  char *value = nullptr;
  const char flag = GetGetONE(argc, argv, &value);
  *ret = to_double(value);
  free(value);
  return flag;
}

char strGetLR(int argc, char **argv, char delimiter, char **returnL, char **returnR) {
  return GetGetLR(argc, argv, delimiter, returnL, returnR);
}

char charGetLR(int argc, char **argv, char delimiter, char *returnL, char *returnR) {
  char *left = nullptr;
  char *right = nullptr;
  const char flag = GetGetLR(argc, argv, delimiter, &left, &right);
  *returnL = first_char(left);
  *returnR = first_char(right);
  return flag;
}

char intGetLR(int argc, char **argv, char delimiter, int *returnL, int *returnR) {
  char *left = nullptr;
  char *right = nullptr;
  const char flag = GetGetLR(argc, argv, delimiter, &left, &right);
  *returnL = to_int(left);
  *returnR = to_int(right);
  return flag;
}

char doubleGetLR(int argc, char **argv, char delimiter, double *returnL, double *returnR) {
  char *left = nullptr;
  char *right = nullptr;
  const char flag = GetGetLR(argc, argv, delimiter, &left, &right);
  *returnL = to_double(left);
  *returnR = to_double(right);
  return flag;
}
