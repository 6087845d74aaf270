// Bits set in a word, inline on every processor: std::popcount becomes a
// library call where the instruction is not enabled (this code is built for
// any x86-64), and the searches count bits in their innermost loops.
#pragma once

#include <bit>
#include <cstdint>

inline int bitcount(std::uint64_t x) {
#ifdef __POPCNT__
  return std::popcount(x);
#else
  x = x - ((x >> 1) & 0x5555555555555555u);
  x = (x & 0x3333333333333333u) + ((x >> 2) & 0x3333333333333333u);
  x = (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0fu;
  return static_cast<int>((x * 0x0101010101010101u) >> 56);
#endif
}
