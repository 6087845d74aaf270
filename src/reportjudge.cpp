#include "reportjudge.h"

#include <algorithm>
#include <numeric>

ReportJudge::ReportJudge(const CPDMOL *m1, const CPDMOL *m2, const DNODE *nodes,
                         std::span<const int> cliques, int size)
    : known_(cliques),
      size_(static_cast<std::size_t>(size)),
      tally_(m1, m2, nodes),
      inert_(size > 0 ? cliques.size() / static_cast<std::size_t>(size) : 0, 0) {}

std::span<const int> ReportJudge::clique(int q) {
  const auto from = known_.begin() + static_cast<std::ptrdiff_t>(q * size_);
  nodes_of_.assign(from, from + static_cast<std::ptrdiff_t>(size_));
  std::sort(nodes_of_.begin(), nodes_of_.end());
  return nodes_of_;
}

bool ReportJudge::any_order(std::span<const int> cliques) {
  for (const int q : cliques) {
    if (inert_[q]) continue;
    // A clique that changes nothing now never will: the list only grows.
    if (tally_.changes(clique(q))) return false;
    inert_[q] = 1;
  }
  return true;
}

void ReportJudge::recorded(std::span<const int> nodes) {
  if (first_) {
    first_ = false;
    settled_ = first_decides(nodes);
  }
  tally_.add(nodes);
}

bool ReportJudge::first_decides(std::span<const int> first) {
  const PieceTally::Split &own = tally_.split(first);
  if (own.count() == 0) return false;
  const std::vector<double> scores = own.score;
  const std::vector<int> head(own.nodes.begin(), own.nodes.begin() + own.begin[1]);
  bool one_score =
      std::all_of(scores.begin(), scores.end(), [&](double s) { return s == scores[0]; });
  std::vector<double> sorted = scores;
  std::sort(sorted.begin(), sorted.end());
  bool head_first = std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end();
  if (!one_score && !head_first) return false;
  // All cliques have one size, so the score's size term is the same for all.
  const double score = std::accumulate(scores.begin(), scores.end(), 0.0);
  for (std::size_t q = 0; q < inert_.size(); ++q) {
    const std::span<const int> other = clique(static_cast<int>(q));
    if (std::equal(other.begin(), other.end(), first.begin(), first.end())) continue;
    const PieceTally::Split &split = tally_.split(other);
    if (split.count() == 0) return false;
    if (std::accumulate(split.score.begin(), split.score.end(), 0.0) > score) return false;
    for (int p = 0; p < split.count(); ++p) {
      const double s = split.score[p];
      if (s != scores[0]) one_score = false;
      const auto from = split.nodes.begin() + split.begin[p];
      const auto to = split.nodes.begin() + split.begin[p + 1];
      if (s > scores[0] || std::equal(from, to, head.begin(), head.end())) head_first = false;
    }
    if (!one_score && !head_first) return false;
  }
  return true;
}
