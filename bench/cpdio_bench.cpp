// Reading whole compound files: the cost every run pays before it compares
// two entries. big.qtr is made by bench/make_big.sh; without it that case is
// skipped.
//
// Records live until the process ends, so every iteration keeps what it read;
// the iteration counts are fixed to bound that. The "kept/byte" counter is the
// memory the first read kept per byte of file (resident size before and after).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>

#include "cpdio.h"

namespace {

long file_size(const char *path) {
  FILE *fp = std::fopen(path, "rb");
  if (fp == nullptr) return -1;
  std::fseek(fp, 0, SEEK_END);
  const long size = std::ftell(fp);
  std::fclose(fp);
  return size;
}

double resident_bytes() {
  long pages = 0, resident = 0;
  FILE *fp = std::fopen("/proc/self/statm", "r");
  if (fp == nullptr) return 0;
  if (std::fscanf(fp, "%ld %ld", &pages, &resident) != 2) resident = 0;
  std::fclose(fp);
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

void read_list(benchmark::State &state, const char *path) {
  const long size = file_size(path);
  if (size < 0) {
    state.SkipWithError("input missing (bench/make_big.sh builds big.qtr)");
    return;
  }
  int records = 0;
  double kept = -1;
  for (auto _ : state) {
    const double before = kept < 0 ? resident_bytes() : 0;
    FILE *fp = std::fopen(path, "r");
    CompList *list = read_CPDMOL_list_QTR(fp);
    std::fclose(fp);
    benchmark::DoNotOptimize(list);
    records = complist_numberof(list);
    if (kept < 0) kept = resident_bytes() - before;
  }
  state.SetBytesProcessed(state.iterations() * size);
  state.counters["records"] = records;
  state.counters["kept/byte"] = kept / static_cast<double>(size);
}

// Baseline: the same lines read with the same buffer and nothing kept.
void fgets_only(benchmark::State &state, const char *path) {
  const long size = file_size(path);
  if (size < 0) {
    state.SkipWithError("input missing (bench/make_big.sh builds big.qtr)");
    return;
  }
  char buf[8192];
  for (auto _ : state) {
    FILE *fp = std::fopen(path, "r");
    long lines = 0;
    while (std::fgets(buf, sizeof buf, fp) != nullptr) ++lines;
    std::fclose(fp);
    benchmark::DoNotOptimize(lines);
  }
  state.SetBytesProcessed(state.iterations() * size);
}

const char *const kNci = TAVIRON_EXAMPLES_DIR "/nci.qtr";
const char *const kBig = TAVIRON_DATA_DIR "/big.qtr";

}  // namespace

BENCHMARK_CAPTURE(read_list, nci, kNci)->Unit(benchmark::kMillisecond)->Iterations(30);
BENCHMARK_CAPTURE(read_list, big, kBig)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(fgets_only, nci, kNci)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(fgets_only, big, kBig)->Unit(benchmark::kMillisecond);
