// Preloaded into one rank by the MPI tests: after READ_FAILS_AFTER seeks in
// the input files, every further seek fails with EIO, as a disk that fails
// in the middle of a screen.
#include <dlfcn.h>
#include <stdio.h>
#include <sys/types.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

namespace {
std::atomic<long> seeks{0};
}

extern "C" int fseeko(FILE *fp, off_t offset, int whence) {
  using Real = int (*)(FILE *, off_t, int);
  static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "fseeko"));
  static const char *after = std::getenv("READ_FAILS_AFTER");
  if (after != nullptr && ++seeks > std::atol(after)) {
    errno = EIO;
    return -1;
  }
  return real(fp, offset, whence);
}
