#include "sys/debug.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace nx::sys {

void debugOutput(const std::string& line) {
  ::OutputDebugStringA(line.c_str());
  static const bool toStderr = std::getenv("AUTOUPDATE_LOG_STDERR") != nullptr;
  if (toStderr) std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace nx::sys
