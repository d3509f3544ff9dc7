#include "sys/debug.h"

#include <unistd.h>

#include <cstdlib>

namespace nx::sys {

void debugOutput(const std::string& line) {
  static const bool enabled = std::getenv("AUTOUPDATE_LOG_STDERR") != nullptr;
  if (!enabled) return;
  ssize_t n = ::write(2, line.data(), line.size());
  (void)n;
}

}  // namespace nx::sys
