// The largest cliques of a docking graph found on the two compounds
// directly: a clique is a mapping of atoms of the first compound onto atoms
// of the second, each pair a docking node, that keeps every bond and every
// non-bond. When the pairs that may be nodes fall into label classes (every
// first-compound atom of a class may pair with every second-compound atom of
// it, and with no other), the search keeps, per class, the atoms still free
// on either side, split further by their bonds to the atoms mapped so far;
// the sum over the classes of the smaller side bounds what can still be
// added. That bound is far tighter than a colouring of the docking graph on
// molecules, whose graphs are large and dense.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "cpdcommon.h"

namespace mcsplit {

struct Problem {
  // Bond matrices (1 for bonded atoms, 0 otherwise; the diagonal is not
  // read) of the two compounds, left * left and right * right entries.
  int left = 0;
  int right = 0;
  std::vector<unsigned char> bonds_left;
  std::vector<unsigned char> bonds_right;
  // The atom pairs that may be aligned (the docking graph's nodes), as
  // (left atom, right atom).
  std::vector<std::pair<int, int>> pairs;
};

struct Options {
  int lower_bound = 0;      // a mapping of this many pairs is known to exist
  bool size_known = false;  // lower_bound is the largest size: only count or list
  int count_cap = CPD_MAX;  // largest mappings are counted up to here (0: not counted)
  int max_atoms = 4096;     // larger compounds are left to the clique solver
  // Also list the largest mappings, as docking-node numbers, when they take
  // at most this many numbers in all (mappings times their size; 0: none).
  int list_cap = 0;
  // The search gives up at this time (the clock's epoch: never); the result
  // then says so and holds the largest mapping found until then.
  std::chrono::steady_clock::time_point deadline{};
  // The search gives up, as at its deadline, once this is set (null: never).
  const std::atomic<bool> *stop = nullptr;
};

struct Result {
  int size = 0;            // pairs of the largest mapping
  int count = 0;           // largest mappings, at most count_cap (0 when size is 0)
  long long branches = 0;  // search nodes visited, for measurements
  // With list_cap: every largest mapping, `size` node numbers each (in no
  // particular order), or empty when they would take more than list_cap.
  std::vector<int> nodes;
  bool timed_out = false;  // the deadline ended the search: size and count may be short
};

// Decides, for subsets of a problem's pairs, whether they hold a mapping of
// k pairs: the same search with the mapped pairs kept to the subset. Built
// once per problem and reused for many subsets; the problem must outlive it.
class Decider {
 public:
  explicit Decider(const Problem &problem);
  ~Decider();
  Decider(const Decider &) = delete;
  Decider &operator=(const Decider &) = delete;

  // `pairs` are indices into problem.pairs, each pair at most once. Always
  // true for compounds of more than 4096 atoms, which are not searched. With
  // `witness`, a mapping found is added there (its k pairs).
  bool holds(std::span<const int> pairs, int k, std::vector<int> *witness = nullptr);
  long long branches() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The size and capped count of the largest mappings (equal to the largest
// cliques of the docking graph of the pairs); nothing when the pairs do not
// fall into label classes or a compound has more than max_atoms atoms.
std::optional<Result> largest(const Problem &problem, const Options &options = {});

// The problem of the docking graph of two records (nodes as built by
// make_DockingGraph: e1, e2), whose bond matrices are built.
Problem problem_of(const CPDMOL &a, const CPDMOL &b, const DNODE *nodes, int n);

}  // namespace mcsplit
