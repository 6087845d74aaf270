// Whole computations on a fixed list of compound pairs, through the reference
// clique finder and through the engine's own, side by side in one run: time
// per pair (median, 90th percentile, maximum, total) and a check that both
// print the same report for every pair.
//
// usage: clique_pairs [--atom] [--trick] [--score] [--repeat N] [--only-new|--only-ref]
//                     [--timeout S] [--rounds N] [--each] FILE.qtr PAIRS
// PAIRS holds two entry identifiers per line, or is one:ID for ID against
// every record of the file, or "all" for every record with every later one. --timeout runs each
// pair of the engine's finder in a child process stopped after S seconds (for searches without a
// budget) and reports how many finish within 1 s. Each time is the fastest of --rounds runs (3), so
// that other load on the machine counts less. --score times (and compares) the computation of
// the score line alone, as taviron's default form does it: the clique size without the
// alignment.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "cpdcf2_ref.h"
#include "cpdio.h"
#include "exe1.h"

namespace {

struct Options {
  int atom = 1;           // 2: --atom
  int exec = 1;           // 8: --trick
  int repeat = -1;        // the finder's budget (-1: its default)
  bool only_new = false;  // skip the reference finder
  bool only_ref = false;  // skip the engine's finder
  double timeout = 0;     // > 0: each pair in a child process, stopped after this many seconds
  int rounds = 3;         // each pair is timed this often, the fastest run counting
  bool each = false;      // --each: one line per pair on stderr (names, times in ms)
  bool score = false;     // --score: the score line only, without the alignment
};

using Clock = std::chrono::steady_clock;

void compute(CPDMOL *a, CPDMOL *b, const Options &o) {
  if (o.score) {
    dock_pair(a, b);
    compute_docked(false);
  } else {
    compute_similarity(a, b);
  }
}

std::string report(CPDMOL *a, CPDMOL *b, const Options &o) {
  return o.score ? cpdcf2_ref::score_line(a, b, o.atom, o.exec, o.repeat)
                 : cpdcf2_ref::all_reports(a, b, o.atom, o.exec, o.repeat);
}

double seconds(CPDMOL *a, CPDMOL *b, const Options &o) {
  double best = 1e30;
  for (int r = 0; r < std::max(o.rounds, 1); ++r) {
    init_exe1(o.atom, o.exec, 1, o.repeat, CPD_MAX);
    const auto t0 = Clock::now();
    compute(a, b, o);
    best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
  }
  return best;
}

void summary(const char *label, std::vector<double> t) {
  if (t.empty()) return;
  std::sort(t.begin(), t.end());
  double total = 0;
  for (double x : t) total += x;
  std::printf("%-10s median %9.3f ms  p90 %9.3f ms  max %9.3f ms  total %9.3f s\n", label,
              t[t.size() / 2] * 1e3, t[t.size() * 9 / 10] * 1e3, t.back() * 1e3, total);
}

// One pair in a child process: its time, or a negative value when it did not finish.
double timed_child(CPDMOL *a, CPDMOL *b, const Options &o) {
  int fd[2];
  if (pipe(fd) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fd[0]);
    alarm(static_cast<unsigned>(o.timeout + 0.999));
    Options once = o;
    once.rounds = 1;
    const double s = seconds(a, b, once);
    if (write(fd[1], &s, sizeof s) != sizeof s) _exit(1);
    _exit(0);
  }
  close(fd[1]);
  double s = -1;
  if (read(fd[0], &s, sizeof s) != sizeof s) s = -1;
  close(fd[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return s;
}

}  // namespace

int main(int argc, char **argv) {
  Options o;
  std::vector<const char *> files;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--atom"))
      o.atom = 2;
    else if (!std::strcmp(argv[i], "--trick"))
      o.exec = 8;
    else if (!std::strcmp(argv[i], "--score"))
      o.score = true;
    else if (!std::strcmp(argv[i], "--only-new"))
      o.only_new = true;
    else if (!std::strcmp(argv[i], "--each"))
      o.each = true;
    else if (!std::strcmp(argv[i], "--only-ref"))
      o.only_ref = true;
    else if (!std::strcmp(argv[i], "--repeat") && i + 1 < argc)
      o.repeat = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--timeout") && i + 1 < argc)
      o.timeout = std::atof(argv[++i]);
    else if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc)
      o.rounds = std::atoi(argv[++i]);
    else
      files.push_back(argv[i]);
  }
  if (files.size() != 2) {
    std::fprintf(stderr,
                 "usage: clique_pairs [--atom] [--trick] [--score] [--repeat N] [--only-new] "
                 "[--only-ref] [--timeout S] [--rounds N] [--each] FILE.qtr PAIRS\n");
    return 2;
  }
  FILE *fp = std::fopen(files[0], "r");
  if (fp == nullptr) {
    std::perror(files[0]);
    return 1;
  }
  CompList *list = read_CPDMOL_list_QTR(fp);
  std::fclose(fp);
  std::vector<std::pair<CPDMOL *, CPDMOL *>> pairs;
  std::string x, y;
  // PAIRS "all" stands for every record with every later one.
  if (std::strcmp(files[1], "all") == 0) {
    const int n = complist_numberof(list);
    for (int p = 1; p <= n; ++p)
      for (int q = p + 1; q <= n; ++q)
        pairs.emplace_back(static_cast<CPDMOL *>(complist_getdata(list, p)),
                           static_cast<CPDMOL *>(complist_getdata(list, q)));
  }
  // PAIRS of the form "one:ID" stand for ID against every record of the file.
  if (std::strncmp(files[1], "one:", 4) == 0) {
    x = files[1] + 4;
    const int p = nsearch_CPDMOL(list, x.data());
    if (p == 0) {
      std::fprintf(stderr, "%s: no such entry\n", x.c_str());
      return 1;
    }
    for (int q = 1; q <= complist_numberof(list); ++q)
      pairs.emplace_back(static_cast<CPDMOL *>(complist_getdata(list, p)),
                         static_cast<CPDMOL *>(complist_getdata(list, q)));
  }
  std::ifstream in(pairs.empty() ? files[1] : "/dev/null");
  while (in >> x >> y) {
    const int p = nsearch_CPDMOL(list, x.data());
    const int q = nsearch_CPDMOL(list, y.data());
    if (p == 0 || q == 0) {
      std::fprintf(stderr, "%s/%s: no such entry\n", x.c_str(), y.c_str());
      return 1;
    }
    pairs.emplace_back(static_cast<CPDMOL *>(complist_getdata(list, p)),
                       static_cast<CPDMOL *>(complist_getdata(list, q)));
  }

  std::printf("%zu pairs, budget %d%s%s%s\n", pairs.size(), o.repeat,
              o.atom == 2 ? ", atom mode" : "", o.exec == 8 ? ", extension" : "",
              o.score ? ", score line" : "");
  if (o.timeout > 0) {
    std::vector<double> done;
    int within_1s = 0;
    for (auto &[a, b] : pairs) {
      const double s = timed_child(a, b, o);
      if (s < 0) continue;
      done.push_back(s);
      within_1s += s <= 1.0;
    }
    std::printf("finished within %.0f s: %zu of %zu; within 1 s: %d\n", o.timeout, done.size(),
                pairs.size(), within_1s);
    summary("finished", done);
    return 0;
  }

  std::vector<double> t_ref, t_new;
  int differ = 0;
  for (auto &[a, b] : pairs) {
    if (o.only_ref) {
      exe1_set_reference_finder(cpdcf2_ref::engine_finder);
      t_ref.push_back(seconds(a, b, o));
      if (o.each) std::fprintf(stderr, "%s %s %.4f\n", a->name, b->name, t_ref.back() * 1e3);
      continue;
    }
    exe1_set_reference_finder(nullptr);
    t_new.push_back(seconds(a, b, o));
    if (o.only_new) {
      if (o.each) std::fprintf(stderr, "%s %s %.4f\n", a->name, b->name, t_new.back() * 1e3);
      continue;
    }
    const std::string ours = report(a, b, o);
    exe1_set_reference_finder(cpdcf2_ref::engine_finder);
    t_ref.push_back(seconds(a, b, o));
    const std::string theirs = report(a, b, o);
    if (o.each)
      std::fprintf(stderr, "%s %s %.4f %.4f\n", a->name, b->name, t_ref.back() * 1e3,
                   t_new.back() * 1e3);
    if (ours != theirs) {
      ++differ;
      std::printf("DIFFERENT: %s %s\n", a->name, b->name);
    }
  }
  exe1_set_reference_finder(nullptr);
  summary("reference", t_ref);
  summary("engine", t_new);
  if (!t_ref.empty() && !t_new.empty()) {
    auto total = [](const std::vector<double> &v) {
      double s = 0;
      for (double d : v) s += d;
      return s;
    };
    auto median = [](std::vector<double> v) {
      std::sort(v.begin(), v.end());
      return v[v.size() / 2];
    };
    std::printf("speed-up: median %.1fx, total %.1fx; reports differ on %d pairs\n",
                median(t_ref) / median(t_new), total(t_ref) / total(t_new), differ);
  }
  return differ == 0 ? 0 : 1;
}
