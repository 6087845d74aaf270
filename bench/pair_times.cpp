// Times whole pair computations and prints one line per pair (names, time
// in ms, clique size and count). Written against the engine's oldest
// interface, so that bench/baseline_bench.sh can build it against an
// earlier revision of the engine as well as against this one.
//
// usage: pair_times [--atom] FILE.qtr PAIRS
// PAIRS holds two entry identifiers per line, or is one:ID for ID against
// every record of the file. Each time is the fastest of three runs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "cpdio.h"
#include "exe1.h"

int main(int argc, char **argv) {
  int atom = 1;
  int arg = 1;
  if (arg < argc && std::strcmp(argv[arg], "--atom") == 0) {
    atom = 2;
    ++arg;
  }
  if (argc - arg != 2) {
    std::fprintf(stderr, "usage: pair_times [--atom] FILE.qtr PAIRS\n");
    return 2;
  }
  FILE *fp = std::fopen(argv[arg], "r");
  if (fp == nullptr) {
    std::perror(argv[arg]);
    return 1;
  }
  std::map<std::string, CPDMOL *> mols;
  std::vector<std::string> names;
  while (CPDMOL *m = read_CPDMOL_QTR(fp)) {
    names.push_back(m->name);
    mols[m->name] = m;
  }
  std::fclose(fp);

  std::vector<std::pair<std::string, std::string>> pairs;
  const char *which = argv[arg + 1];
  if (std::strncmp(which, "one:", 4) == 0) {
    for (const std::string &n : names) pairs.emplace_back(which + 4, n);
  } else {
    FILE *pf = std::fopen(which, "r");
    if (pf == nullptr) {
      std::perror(which);
      return 1;
    }
    char a[256], b[256];
    while (std::fscanf(pf, "%255s %255s", a, b) == 2) pairs.emplace_back(a, b);
    std::fclose(pf);
  }

  for (const auto &[a, b] : pairs) {
    if (mols.count(a) == 0 || mols.count(b) == 0) {
      std::fprintf(stderr, "pair_times: no entry %s or %s\n", a.c_str(), b.c_str());
      return 1;
    }
    double best = 1e30;
    for (int r = 0; r < 3; ++r) {
      init_exe1(atom, 1, 1, -1, CPD_MAX);
      const auto t0 = std::chrono::steady_clock::now();
      compute_similarity(mols[a], mols[b]);
      best = std::min(best,
                      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    const Exe1State &st = exe1_state();
    std::printf("%s %s %.4f %d %d\n", a.c_str(), b.c_str(), best * 1e3, st.mcs_max, st.mcsnum);
  }
  return 0;
}
