// Shards of a screen and their merge.
//
// A shard is a contiguous range of the screen's pairs in output order, so its
// rows are a contiguous piece of the unsharded output (apart from the
// selection of the best targets, which the merge applies across the parts).
// The ranges are balanced by an estimate of each pair's work, the product of
// the two compounds' atom counts, not by the number of pairs.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "search/stream.h"

namespace screen {

struct Shard {
  int part = 1;   // K, from 1
  int parts = 1;  // N
};

// "K/N" with 1 <= K <= N <= 1000000; nullopt otherwise.
std::optional<Shard> parse_shard(std::string_view text);

// The pairs [first, last) of part K of N. `query_atoms(q)` and
// `target_atoms(t)` give the atom counts of the estimate.
std::pair<std::int64_t, std::int64_t> shard_range(
    const PairSpace &space, Shard shard, const std::function<int(std::int64_t)> &query_atoms,
    const std::function<int(std::int64_t)> &target_atoms);

struct MergeOptions {
  std::optional<double> min;  // keep rows with a coefficient of at least this
  int top = 0;                // keep the best `top` rows of each query; 0 keeps all
};

// A part that cannot be merged: the message says why.
struct MergeError {
  std::string message;
};

// The form of the parts' rows: their format, and whether they end with the
// compounds' names (all parts alike).
struct MergeLayout {
  Format format = Format::kJsonl;
  bool names = false;
  bool substructure = false;  // rows end with atom_pairs, query_match, target_match
};

// Reads the parts (outputs of the shards of one screen, in part order, all
// TSV or all JSON lines) and returns their layout; the rows go to `write`.
// Queries are told apart by name: the rows of one query are those with the
// same query name one after the other.
MergeLayout merge_layout(const std::vector<std::string> &paths);
void merge_parts(const std::vector<std::string> &paths, const MergeLayout &layout,
                 const MergeOptions &options, RowSink &out);

}  // namespace screen
