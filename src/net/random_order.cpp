#include "net/random_order.h"

#include <atomic>

#include "sys/clock.h"

namespace nx {

namespace {

constexpr uint64_t kModulus = 2147483647;  // 2^31 - 1
constexpr uint64_t kMultiplier = 16807;

uint32_t initialState() {
  uint64_t seed = static_cast<uint32_t>(sys::unixTimeNow()) % kModulus;
  return seed == 0 ? 1 : static_cast<uint32_t>(seed);
}

// Only one worker thread uses it at a time; atomic so that workers started
// one after the other never count as a data race.
std::atomic<uint32_t> state{initialState()};

}  // namespace

uint32_t nextRandom(uint32_t n) {
  uint32_t next = static_cast<uint32_t>(state.load(std::memory_order_relaxed) * kMultiplier % kModulus);
  state.store(next, std::memory_order_relaxed);
  return next % n;
}

}  // namespace nx
