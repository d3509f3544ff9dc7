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
  // Values reach the log from files, arguments and servers: a control
  // character among them is written as an escape, so one call stays one line
  // and nobody can forge lines of their own.
  for (const char* c = message; *c; ++c) {
    unsigned char byte = static_cast<unsigned char>(*c);
    if (byte >= 0x20 && byte != 0x7F) {
      line += *c;
    } else if (byte == '\n') {
      line += "\\n";
    } else if (byte == '\r') {
      line += "\\r";
    } else if (byte == '\t') {
      line += "\\t";
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      line += escaped;
    }
  }
  line += '\n';
  writeLine(line);
}

}  // namespace nx
