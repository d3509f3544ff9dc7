#pragma once
// The standard tools run through /bin/sh, as independent judges of what our
// code produced. POSIX only: on Windows there is no shell, and shellOutput
// returns nothing; tests that need them skip themselves there
// (NX_POSIX_ONLY).
#include <string>

#include "base/text.h"
#include "support/program_run.h"

namespace nx::test {

inline std::string shellQuote(const std::wstring& path) { return "'" + toUtf8(path) + "'"; }

// Standard output of a shell command line.
inline std::string shellOutput(const std::string& command) {
#ifdef _WIN32
  (void)command;
  return {};
#else
  return runProgram("/bin/sh", {"-c", command}).out;
#endif
}

}  // namespace nx::test
