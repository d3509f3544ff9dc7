#pragma once
// The standard tools run through /bin/sh, as independent judges of what our
// code produced. POSIX only: on Windows there is no shell, runShell returns -1
// and shellOutput nothing; tests that need them skip themselves there
// (NX_POSIX_ONLY).
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <cstdlib>
#include <string>

#include "base/text.h"
#include "support/program_run.h"

namespace nx::test {

inline std::string shellQuote(const std::wstring& path) { return "'" + toUtf8(path) + "'"; }

// Exit status of a shell command line; -1 when it did not exit normally.
inline int runShell(const std::string& command) {
#ifdef _WIN32
  (void)command;
  return -1;
#else
  int raw = std::system(command.c_str());
  return raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
}

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
