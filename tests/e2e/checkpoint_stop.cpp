// Preloaded into taviron-search by the resume cases, so that a screen can be
// interrupted at a known point however fast the machine is: the clock moves
// ten seconds per reading, so that every checkpoint saves the resume state,
// and the process stops itself (SIGSTOP) after each save. The test looks at
// what was saved and sends SIGCONT, with its own signal once rows were kept.
// Once the file named by CHECKPOINT_STOP_RELEASE exists (when that is set),
// the process no longer stops.
#include <dlfcn.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {
std::atomic<long long> skew_seconds{0};

bool released() {
  const char *path = std::getenv("CHECKPOINT_STOP_RELEASE");
  return path != nullptr && access(path, F_OK) == 0;
}
}  // namespace

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
  if (r == 0 && n > 7 && std::strcmp(to + n - 7, ".resume") == 0 && !released()) raise(SIGSTOP);
  return r;
}
