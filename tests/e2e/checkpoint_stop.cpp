// Preloaded into taviron-search by the resume cases, so that a screen can be
// interrupted at a known point however fast the machine is: the clock moves
// ten seconds per reading, so that every checkpoint saves the resume state,
// and the process stops itself (SIGSTOP) after each save. The test looks at
// what was saved and sends SIGCONT, with its own signal once rows were kept.
#include <dlfcn.h>
#include <signal.h>
#include <time.h>

#include <atomic>
#include <cstring>

namespace {
std::atomic<long long> skew_seconds{0};
}

extern "C" int clock_gettime(clockid_t clock, struct timespec *ts) {
  using Real = int (*)(clockid_t, struct timespec *);
  static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "clock_gettime"));
  const int r = real(clock, ts);
  if (r == 0 && clock == CLOCK_MONOTONIC) ts->tv_sec += skew_seconds += 10;
  return r;
}

extern "C" int rename(const char *from, const char *to) {
  using Real = int (*)(const char *, const char *);
  static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "rename"));
  const int r = real(from, to);
  const std::size_t n = std::strlen(to);
  if (r == 0 && n > 7 && std::strcmp(to + n - 7, ".resume") == 0) raise(SIGSTOP);
  return r;
}
