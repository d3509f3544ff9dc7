#pragma once
// Debugger output for log lines. On POSIX the lines go to stderr only when
// the environment variable AUTOUPDATE_LOG_STDERR is set.
#include <string>

namespace nx::sys {

void debugOutput(const std::string& line);

}  // namespace nx::sys
