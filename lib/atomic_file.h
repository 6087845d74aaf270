// Files replaced whole or not at all.
//
// An AtomicFile is written under a temporary name beside its target and
// renamed over it only by commit(), so that after an error, a signal or a
// crash the target is exactly what it was: never empty, never cut short. The
// temporary is created exclusively (never through a symlink) with the mode of
// the file it replaces, or the umask default for a new one. A target that is
// not a regular file (a terminal, /dev/null, a pipe) cannot be replaced and
// is written directly, as with fopen(path, "w"); a symlink's target is
// replaced, the link stays.
#pragma once

#include <cstdio>
#include <string>

class AtomicFile {
 public:
  AtomicFile() = default;
  ~AtomicFile();  // abandons what was not committed
  AtomicFile(const AtomicFile &) = delete;
  AtomicFile &operator=(const AtomicFile &) = delete;

  // Starts writing `path`; false with errno set when it cannot be written
  // (a missing directory, no permission). The target is not touched.
  bool open(const std::string &path);
  FILE *stream() const { return fp_; }

  // Flushes, syncs and renames the temporary over the target; false with
  // errno set when any of it fails, and then the target is as it was.
  bool commit();
  // Removes the temporary; the target is as it was.
  void abandon();

 private:
  std::string target_, temp_;  // temp_ empty: written directly
  FILE *fp_ = nullptr;
  int slot_ = -1;  // in the list of temporaries removed on a signal
};

// True when both paths name one existing file (same device and inode).
bool same_file(const char *a, const char *b);

// Sets up the process for writing files safely: SIGXFSZ is ignored, so that
// a write past the file size limit fails (and is reported) instead of killing
// the process; SIGINT, SIGTERM and SIGHUP first remove the temporaries of open
// AtomicFiles, then end the process as they would have. Programs with their
// own interrupt handling call it before installing theirs.
void guard_file_writes();
