#include "sys/clock.h"

#include <time.h>

namespace nx::sys {

int64_t clockTicks() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

double secondsPerTick() { return 1e-9; }

bool utcNow(UtcTime* out) {
  time_t now = time(nullptr);
  struct tm tm;
  if (now == static_cast<time_t>(-1) || !gmtime_r(&now, &tm)) return false;
  *out = UtcTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
  return true;
}

uint64_t fileTimeNow() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return 116444736000000000ULL + static_cast<uint64_t>(ts.tv_sec) * 10000000ULL +
         static_cast<uint64_t>(ts.tv_nsec) / 100;
}

int64_t unixTimeNow() { return static_cast<int64_t>(time(nullptr)); }

void sleepMs(uint32_t ms) {
  struct timespec ts {
    static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L
  };
  while (nanosleep(&ts, &ts) != 0) {
  }
}

}  // namespace nx::sys
