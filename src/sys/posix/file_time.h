#pragma once
// A POSIX time stamp as the FILETIME the rest of the updater uses.
#include <time.h>

#include <cstdint>

namespace nx::sys::posix {

// FILETIME of 1970-01-01 and its units per second.
constexpr uint64_t kEpochFileTime = 116444736000000000ULL;

// 100 ns units since 1601; times before 1970 read as 0.
inline uint64_t toFileTime(const struct timespec& ts) {
  if (ts.tv_sec < 0) return 0;
  return kEpochFileTime + static_cast<uint64_t>(ts.tv_sec) * 10000000ULL + static_cast<uint64_t>(ts.tv_nsec) / 100;
}

}  // namespace nx::sys::posix
