#pragma once
// How many files (descriptors, handles) the test process holds open: equal
// counts before and after show that nothing leaked.
#ifdef _WIN32
// Before windows.h, as the loopback server's header needs.
// clang-format off
#include <winsock2.h>
#include <windows.h>
// clang-format on
#else
#include <filesystem>
#include <iterator>
#endif

namespace nx::test {

inline long openHandleCount() {
#ifdef _WIN32
  DWORD count = 0;
  ::GetProcessHandleCount(::GetCurrentProcess(), &count);
  return static_cast<long>(count);
#else
  return static_cast<long>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
#endif
}

}  // namespace nx::test
