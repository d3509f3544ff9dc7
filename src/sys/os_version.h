#pragma once
// The running system as update requirements name it.
#include <cstdint>
#include <string>

namespace nx::sys {

struct OsVersion {
  std::string key;     // "windows" on Windows, "linux" on Linux (the kernel's name in lower case elsewhere)
  uint64_t major = 0;  // the release's first two numbers: Windows 6.1, kernel 6.1
  uint64_t minor = 0;
};

// Asked once per call; a release that cannot be read gives 0.0.
OsVersion osVersion();

}  // namespace nx::sys
