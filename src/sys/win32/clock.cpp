#include "sys/clock.h"

#include <windows.h>

namespace nx::sys {

int64_t clockTicks() {
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return now.QuadPart;
}

double secondsPerTick() {
  static const double seconds = [] {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart > 0 ? 1.0 / static_cast<double>(frequency.QuadPart) : 1e-7;
  }();
  return seconds;
}

bool utcNow(UtcTime* out) {
  SYSTEMTIME st;
  ::GetSystemTime(&st);
  *out = UtcTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
  return true;
}

uint64_t fileTimeNow() {
  FILETIME ft;
  ::GetSystemTimeAsFileTime(&ft);
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

int64_t unixTimeNow() { return static_cast<int64_t>((fileTimeNow() - 116444736000000000ULL) / 10000000ULL); }

void sleepMs(uint32_t ms) { ::Sleep(ms); }

}  // namespace nx::sys
