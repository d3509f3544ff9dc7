#include "base/mini_log.h"

#include <cstdarg>
#include <cstdio>

namespace nx {

void MiniLog::log(const char* level, const char* format, ...) {
  char elapsed[16];
  std::snprintf(elapsed, sizeof elapsed, "%09.3f", elapsedSeconds());
  // Stays a valid (empty) text should the formatting fail.
  char message[2048] = "";
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  std::string line;
  line.reserve(32 + sizeof message);
  line += elapsed;
  line += ' ';
  line += level;
  line += ": ";
  line += message;
  line += '\n';
  writeLine(line);
}

}  // namespace nx
