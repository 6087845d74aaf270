// Docking graph and clique search on real compound pairs, and the docking
// matrix at full capacity.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cpdcf2.h"
#include "cpddock.h"
#include "cpdio.h"

namespace {

// The engine's working tables, as large as the driver's.
struct Tables {
  DNODE nodes[CPD_MAX];
  char matrix[static_cast<std::size_t>(CPD_MAX) * CPD_MAX];
  MCS mcs[CPD_MAX];
};

Tables &tables() {
  static LazyZeroed<Tables> t;
  return *t;
}

CompList *compounds() {
  static CompList *list = [] {
    const std::string path = std::string(TAVIRON_EXAMPLES_DIR) + "/nci.qtr";
    FILE *fp = std::fopen(path.c_str(), "r");
    if (fp == nullptr) {
      std::perror(path.c_str());
      std::exit(1);
    }
    CompList *l = read_CPDMOL_list_QTR(fp);
    std::fclose(fp);
    return l;
  }();
  return list;
}

CPDMOL *compound(const char *name) {
  const int pos = nsearch_CPDMOL(compounds(), const_cast<char *>(name));
  if (pos == 0) {
    std::fprintf(stderr, "%s: no such entry\n", name);
    std::exit(1);
  }
  return static_cast<CPDMOL *>(complist_getdata(compounds(), pos));
}

// Pairs of nci.qtr, from a small graph to the largest compounds of the file.
struct Pair {
  const char *a;
  const char *b;
};
constexpr std::array<Pair, 4> kPairs{{
    {"C00035", "C00036"},
    {"C00036", "C00040"},
    {"C00220", "C00800"},
    {"C00776", "C00777"},
}};

int dock(const Pair &p) {
  Tables &t = tables();
  int num = 0;
  make_DockingGraph(compound(p.a), compound(p.b), 1, &num, t.nodes, t.matrix);
  return num;
}

void BM_DockingGraph(benchmark::State &state) {
  const Pair &p = kPairs[state.range(0)];
  int num = 0;
  for (auto _ : state) {
    num = dock(p);
    benchmark::DoNotOptimize(tables().matrix[0]);
  }
  state.SetLabel(std::string(p.a) + "/" + p.b);
  state.counters["nodes"] = num;
}
BENCHMARK(BM_DockingGraph)->DenseRange(0, kPairs.size() - 1)->Unit(benchmark::kMicrosecond);

void BM_Clifinder2(benchmark::State &state) {
  const Pair &p = kPairs[state.range(0)];
  const int nodes = dock(p);
  Tables &t = tables();
  int num = 0;
  int max = 0;
  for (auto _ : state) {
    clifinder2(nodes, t.matrix, -1, &num, t.mcs, &max);
    benchmark::DoNotOptimize(num);
  }
  state.SetLabel(std::string(p.a) + "/" + p.b);
  state.counters["nodes"] = nodes;
  state.counters["cliques"] = num;
  state.counters["size"] = max;
}
BENCHMARK(BM_Clifinder2)->DenseRange(0, kPairs.size() - 1)->Unit(benchmark::kMicrosecond);

// Two 100-atom rings of one type: 10000 nodes, the largest graph the engine
// builds, with both kept bonds and kept non-bonds in the matrix.
struct Ring {
  explicit Ring(int n) : cnode(n), bonds(static_cast<std::size_t>(n) * n, 0) {
    for (int k = 0; k < n; ++k) {
      cnode[k] = CNODE{type, elem, 0, 0};
      bonds[static_cast<std::size_t>(k) * n + k] = 1;
      const int next = (k + 1) % n;
      bonds[static_cast<std::size_t>(k) * n + next] = 1;
      bonds[static_cast<std::size_t>(next) * n + k] = 1;
    }
    mol.nodenum = n;
    mol.nodenum_sub = n;
    mol.cnode = cnode.data();
    mol.matrix = bonds.data();
  }
  char type[3] = "C1";
  char elem[2] = "C";
  std::vector<CNODE> cnode;
  std::vector<char> bonds;
  CPDMOL mol{};
};

void BM_DockingMatrix10000(benchmark::State &state) {
  Ring r1(100);
  Ring r2(100);
  Tables &t = tables();
  int num = 0;
  for (auto _ : state) {
    make_DockingGraph(&r1.mol, &r2.mol, 1, &num, t.nodes, t.matrix);
    benchmark::DoNotOptimize(t.matrix[0]);
  }
  state.counters["nodes"] = num;
}
BENCHMARK(BM_DockingMatrix10000)->Unit(benchmark::kMillisecond);

}  // namespace
