#pragma once
// The random order in which update servers and download mirrors are tried,
// so that clients spread over them.
#include <cstddef>
#include <cstdint>
#include <utility>

namespace nx {

// The next number of a process-wide multiplicative congruential generator
// (multiplier 16807, modulus 2^31 - 1, seeded from the clock when the
// process starts), reduced to 0 .. n - 1. n must not be 0.
uint32_t nextRandom(uint32_t n);

// Puts the elements of a random-access list in random order (each position
// i from 1 on trades places with one of 0 .. i). Lists of 0 or 1 element stay.
template <typename List>
void shuffleList(List& list) {
  for (size_t i = 1; i < list.size(); ++i) {
    size_t j = nextRandom(static_cast<uint32_t>(i + 1));
    if (j != i) std::swap(list[i], list[j]);
  }
}

}  // namespace nx
