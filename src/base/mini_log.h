#pragma once
// The logger handed to every part of the updater. Lines look like
// "00012.345 INFO   : message\n": seconds since the log was opened, a
// seven-character level word and a printf-formatted message of at most 2047
// characters; a control character in it (a line feed from a hostile value)
// is written as an escape such as \n or \x1B, so one call is one line. Safe to use from the main and the worker thread
// at once: each line is built in the caller's buffers and written in one call.
#include <string>

// mingw checks plain `printf` formats by msvcrt's rules, which lack %zu; its
// own macro names the C99 rules its runtime follows.
#ifdef __MINGW_PRINTF_FORMAT
#define NX_PRINTF_FORMAT __MINGW_PRINTF_FORMAT
#else
#define NX_PRINTF_FORMAT printf
#endif

namespace nx {

class MiniLog {
 public:
  static constexpr const char* INFO = "INFO   ";
  static constexpr const char* WARNING = "WARNING";
  static constexpr const char* ERROR = "ERROR  ";

  virtual ~MiniLog() = default;
  virtual double elapsedSeconds() = 0;
  // Stores one finished line (line feed included).
  virtual void writeLine(const std::string& line) = 0;

  void log(const char* level, const char* format, ...) __attribute__((format(NX_PRINTF_FORMAT, 3, 4)));
};

}  // namespace nx
