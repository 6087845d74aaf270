#include "atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>

namespace {

// Temporaries to remove when a signal ends the process. A signal handler may
// only read them, so they are plain C strings owned by their AtomicFile.
std::array<std::atomic<const char *>, 16> temporaries{};

extern "C" void remove_temporaries(int sig) {
  for (auto &t : temporaries) {
    if (const char *path = t.load()) unlink(path);
  }
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

extern "C" void remove_temporaries_at_exit() {
  for (auto &t : temporaries) {
    if (const char *path = t.exchange(nullptr)) unlink(path);
  }
}

// exit() runs no destructors of the callers' objects: what they left open
// goes at exit.
int register_temporary(const char *path) {
  static const bool at_exit = std::atexit(remove_temporaries_at_exit) == 0;
  (void)at_exit;
  for (std::size_t i = 0; i < temporaries.size(); i++) {
    const char *expected = nullptr;
    if (temporaries[i].compare_exchange_strong(expected, path)) return static_cast<int>(i);
  }
  return -1;  // more open at once than listed: only a signal leaves it behind
}

mode_t default_mode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

AtomicFile::~AtomicFile() {
  abandon();
}

bool AtomicFile::open(const std::string &path) {
  abandon();
  target_ = path;
  struct stat st {};
  bool exists = lstat(path.c_str(), &st) == 0;
  const bool link = exists && S_ISLNK(st.st_mode);
  if (link) {
    // The file the link points to is replaced; a dangling link is written
    // through, as fopen would.
    char resolved[PATH_MAX];
    exists = realpath(path.c_str(), resolved) != nullptr && stat(resolved, &st) == 0;
    if (exists) target_ = resolved;
  }
  const auto direct = [&] {
    fp_ = std::fopen(path.c_str(), "w");
    return fp_ != nullptr;
  };
  if ((exists && !S_ISREG(st.st_mode)) || (link && !exists)) return direct();
  if (!exists && errno != ENOENT) return false;

  std::string temp = target_ + ".tmp.XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    // A writable file in a folder we may not create files in: written in
    // place, as before.
    if (exists && (errno == EACCES || errno == EPERM) && access(path.c_str(), W_OK) == 0) {
      return direct();
    }
    return false;
  }
  temp_ = std::move(temp);
  slot_ = register_temporary(temp_.c_str());
  // The replacement keeps the mode (and, where allowed, the owner) of the
  // file it replaces.
  if (exists) {
    fchmod(fd, st.st_mode & 07777);
    if (fchown(fd, st.st_uid, st.st_gid) != 0) {
      // Not ours to give away: it stays the writer's, with the mode kept.
    }
  } else {
    fchmod(fd, default_mode());
  }
  fp_ = fdopen(fd, "w");
  if (fp_ == nullptr) {
    const int error = errno;
    close(fd);
    abandon();
    errno = error;
    return false;
  }
  return true;
}

bool AtomicFile::commit() {
  if (fp_ == nullptr) {
    errno = EBADF;
    return false;
  }
  errno = 0;
  bool failed = std::fflush(fp_) != 0 || std::ferror(fp_) != 0;
  if (!temp_.empty() && !failed) failed = fsync(fileno(fp_)) != 0 && errno != EINVAL;
  int error = errno;
  failed = std::fclose(fp_) != 0 || failed;
  if (error == 0) error = errno;
  fp_ = nullptr;
  if (!failed && !temp_.empty() && std::rename(temp_.c_str(), target_.c_str()) != 0) {
    failed = true;
    error = errno;
  }
  if (failed) {
    abandon();
    errno = error != 0 ? error : EIO;
    return false;
  }
  if (slot_ >= 0) temporaries[static_cast<std::size_t>(slot_)].store(nullptr);
  slot_ = -1;
  temp_.clear();
  return true;
}

void AtomicFile::abandon() {
  if (fp_ != nullptr) std::fclose(fp_);
  fp_ = nullptr;
  if (slot_ >= 0) temporaries[static_cast<std::size_t>(slot_)].store(nullptr);
  slot_ = -1;
  if (!temp_.empty()) unlink(temp_.c_str());
  temp_.clear();
}

bool same_file(const char *a, const char *b) {
  struct stat sa {
  }, sb{};
  return a != nullptr && b != nullptr && stat(a, &sa) == 0 && stat(b, &sb) == 0 &&
         sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

void guard_file_writes() {
  std::signal(SIGXFSZ, SIG_IGN);
  struct sigaction sa {};
  sa.sa_handler = remove_temporaries;
  sigemptyset(&sa.sa_mask);
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old {};
    // A signal the caller's parent ignores (nohup) stays ignored.
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaction(sig, &sa, nullptr);
  }
}
