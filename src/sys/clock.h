#pragma once
// Time: a monotonic high-resolution clock and the UTC calendar.
#include <cstdint>

namespace nx::sys {

// Ticks of the high-resolution clock and their length in seconds.
int64_t clockTicks();
double secondsPerTick();

struct UtcTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
// Current UTC calendar time in whole seconds.
bool utcNow(UtcTime* out);
// Current time as a FILETIME value (100 ns units since 1601-01-01 UTC).
uint64_t fileTimeNow();
// Seconds since 1970-01-01 UTC.
int64_t unixTimeNow();

void sleepMs(uint32_t ms);

}  // namespace nx::sys
