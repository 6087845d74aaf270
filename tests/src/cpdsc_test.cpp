// Single-linkage clustering: the result says for every two items whether a
// chain of links joins them.
#include "cpdsc.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

namespace {

// size x size matrix with the diagonal set and the given symmetric links.
std::vector<char> links(int size, const std::vector<std::pair<int, int>> &pairs) {
  std::vector<char> m(static_cast<std::size_t>(size) * size, 0);
  for (int i = 0; i < size; i++) m[i * size + i] = 1;
  for (auto [a, b] : pairs) {
    m[a * size + b] = 1;
    m[b * size + a] = 1;
  }
  return m;
}

TEST(SingleLinkageClustering, SingleItemIsUnchanged) {
  std::vector<char> m = {1};
  SingleLinkageClustering(1, m.data());
  EXPECT_EQ(m, std::vector<char>{1});
}

TEST(SingleLinkageClustering, ChainJoinsAllThree) {
  // 0-1 and 1-2 link 0 and 2 through 1.
  std::vector<char> m = links(3, {{0, 1}, {1, 2}});
  SingleLinkageClustering(3, m.data());
  EXPECT_EQ(m, std::vector<char>(9, 1));
}

TEST(SingleLinkageClustering, IdentityStaysIdentity) {
  std::vector<char> m = links(3, {});
  SingleLinkageClustering(3, m.data());
  EXPECT_EQ(m, links(3, {}));
}

TEST(SingleLinkageClustering, SeparateClustersStaySeparate) {
  std::vector<char> m = links(4, {{0, 2}, {1, 3}});
  SingleLinkageClustering(4, m.data());
  EXPECT_EQ(m, links(4, {{0, 2}, {1, 3}}));
}

TEST(SingleLinkageClustering, ReversedLongChainNeedsSeveralPasses) {
  // Chain 0-19-18-...-2-1. Rows are scanned with ascending columns, so a pass
  // adds only one lower-numbered member to a row (0 gains 18 in the first
  // pass, 17 in the second, ...); the closure takes many passes. Every cell
  // ends at 1.
  const int n = 20;
  std::vector<std::pair<int, int>> chain = {{0, n - 1}};
  for (int k = n - 1; k > 1; k--) chain.emplace_back(k, k - 1);
  std::vector<char> m = links(n, chain);
  SingleLinkageClustering(n, m.data());
  EXPECT_EQ(m, std::vector<char>(n * n, 1));
}

TEST(SingleLinkageClustering, TwoChainsGiveTwoBlocks) {
  // 0-2-4 and 1-3 interleaved: same-parity items share a cluster.
  const int n = 5;
  std::vector<char> m = links(n, {{4, 2}, {2, 0}, {3, 1}});
  SingleLinkageClustering(n, m.data());
  for (int i = 0; i < n; i++) {
    for (int j = 0; j < n; j++) {
      EXPECT_EQ(m[i * n + j], (i % 2 == j % 2) ? 1 : 0) << i << "," << j;
    }
  }
}

TEST(SingleLinkageClustering, LongReversedChainOfThousandsCompletes) {
  // The clique of a 3000-atom chain compared with itself: one chain of links
  // numbered against the scan order. Repeated passes would need thousands of
  // cubic passes here; the result is still one cluster holding everything.
  const int n = 3000;
  std::vector<std::pair<int, int>> chain;
  for (int k = n - 1; k > 0; k--) chain.emplace_back(k, k - 1);
  std::vector<char> m = links(n, chain);
  SingleLinkageClustering(n, m.data());
  EXPECT_EQ(m, std::vector<char>(static_cast<std::size_t>(n) * n, 1));
}

TEST(SingleLinkageClustering, OneWayLinksReachForwardOnly) {
  // Outside the symmetric contract the closure still follows the links as
  // given: 0->1->2 reaches 2 from 0, nothing leads back.
  std::vector<char> m = {1, 1, 0,  //
                         0, 1, 1,  //
                         0, 0, 1};
  SingleLinkageClustering(3, m.data());
  EXPECT_EQ(m, (std::vector<char>{1, 1, 1, 0, 1, 1, 0, 0, 1}));
}

TEST(SingleLinkageClustering, ClearedDiagonalIsSetOnlyThroughALink) {
  // 0-1 linked, no diagonal: each reaches itself through the other; the
  // unlinked 2 does not reach itself.
  std::vector<char> m = {0, 1, 0,  //
                         1, 0, 0,  //
                         0, 0, 0};
  SingleLinkageClustering(3, m.data());
  EXPECT_EQ(m, (std::vector<char>{1, 1, 0, 1, 1, 0, 0, 0, 0}));
}

// Against Warshall's transitive closure (paths of one link or more), on random
// matrices of every size up to 60 and densities from none to full: symmetric
// ones with the diagonal set, as the tool passes them, and arbitrary 0/1 ones.
TEST(SingleLinkageClustering, MatchesBruteForceClosure) {
  std::mt19937 rng(20240613);
  for (int round = 0; round < 240; round++) {
    const int n = 1 + round % 60;
    const bool symmetric = round % 4 != 3;
    const double density = std::uniform_real_distribution<double>(0.0, 1.0)(rng) *
                           std::uniform_real_distribution<double>(0.0, 1.0)(rng);
    std::bernoulli_distribution link(density);
    std::vector<char> m(static_cast<std::size_t>(n) * n, 0);
    for (int i = 0; i < n; i++) {
      for (int j = symmetric ? i : 0; j < n; j++) {
        const char c = (symmetric && i == j) ? 1 : link(rng);
        m[i * n + j] = c;
        if (symmetric) m[j * n + i] = c;
      }
    }
    std::vector<char> want = m;
    for (int k = 0; k < n; k++) {
      for (int i = 0; i < n; i++) {
        if (!want[i * n + k]) continue;
        for (int j = 0; j < n; j++) want[i * n + j] |= want[k * n + j];
      }
    }
    SingleLinkageClustering(n, m.data());
    ASSERT_EQ(m, want) << "size " << n << " density " << density << " symmetric " << symmetric;
  }
}

TEST(SingleLinkageClustering, SizeOutOfRangeIsRefused) {
  std::vector<char> m = {1, 0, 0, 1};
  SingleLinkageClustering(0, m.data());
  SingleLinkageClustering(-3, m.data());
  SingleLinkageClustering(10001, m.data());
  EXPECT_EQ(m, (std::vector<char>{1, 0, 0, 1}));
  SingleLinkageClustering(2, nullptr);  // nothing to work on
}

}  // namespace
