// The search on the compounds behind mcsplit::largest and Decider, built
// twice: once for any x86-64 (or other) processor and once with the popcnt
// instruction, which its bound counts in every branch; mcsplit.cpp picks one
// at run time. Both visit and find exactly the same.
#pragma once

#include <chrono>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "mcsplit.h"

namespace mcsplit {

// A class to start from: the atoms of side s (0 the first compound, 1 the
// second) in atoms[s] may pair with those of the other side.
struct Class {
  std::vector<int> atoms[2];
};

enum class Goal { kLargest, kCount, kList, kAny };

// Each atom's bonds among the problem's atoms, per side.
struct Degrees {
  std::vector<int> side[2];
};

// The search's goals, from the classes it is started on.
class Engine {
 public:
  virtual ~Engine() = default;
  virtual void start(const std::vector<Class> &classes) = 0;
  // Whether a mapping of `size` pairs exists made of the given pairs only
  // (left atom, right atom).
  virtual bool any(int size, std::span<const std::pair<int, int>> pairs) = 0;
  // The largest mapping, at least `lower_bound` pairs (known to exist).
  virtual int largest(int lower_bound) = 0;
  // Mappings of `size` pairs, the largest size, counted up to `cap`.
  virtual int count(int size, int cap) = 0;
  // The same, each kept as the docking nodes of its pairs, found up to
  // `cap` + 1: the nodes are kept only when there are no more than `cap`.
  virtual int list(int size, int cap, std::vector<int> &nodes) = 0;
  // The docking nodes of the mapping that any() found last.
  virtual void found(std::vector<int> &nodes) = 0;
  virtual long long branches() const = 0;
  // Every search of this engine gives up at `when` (the clock's epoch: never).
  void give_up_at(std::chrono::steady_clock::time_point when, const std::atomic<bool> *stop) {
    timed_ = when != std::chrono::steady_clock::time_point{} || stop != nullptr;
    deadline_ = when;
    stop_flag_ = stop;
  }
  bool timed_out() const { return timed_out_; }

 protected:
  // Read every 1024 branches; true once the deadline has passed.
  bool out_of_time(long long branches) {
    if (!timed_ || (branches & 1023) != 0) return timed_out_;
    if (stop_flag_ != nullptr && stop_flag_->load(std::memory_order_relaxed)) timed_out_ = true;
    if (deadline_ != std::chrono::steady_clock::time_point{} &&
        std::chrono::steady_clock::now() >= deadline_)
      timed_out_ = true;
    return timed_out_;
  }

 private:
  bool timed_ = false;
  bool timed_out_ = false;
  std::chrono::steady_clock::time_point deadline_;
  const std::atomic<bool> *stop_flag_ = nullptr;
};

// The search for a problem, its sets as narrow as the compounds allow; none
// for compounds of more than kMostAtoms atoms.
constexpr int kMostAtoms = 4096;
namespace portable {
std::unique_ptr<Engine> engine_for(const Problem &p, const Degrees &degrees);
}
namespace popcnt {
std::unique_ptr<Engine> engine_for(const Problem &p, const Degrees &degrees);
}

}  // namespace mcsplit
