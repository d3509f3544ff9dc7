#pragma once
// Starting programs. On POSIX a program starts from its argument vector
// itself; the joined command line serves logs and the Windows build.
#include <string>
#include <vector>

namespace nx {

// Starts arguments[0] with the rest as its arguments, with this process's
// environment and current folder. With wait, returns once it has ended. False
// when it could not be started.
bool runProcess(const std::vector<std::wstring>& arguments, bool wait);

// The arguments from index first on, each quoted, joined by blanks.
std::wstring joinCommandLine(const std::vector<std::wstring>& arguments, size_t first);

// One trailing backslash dropped; wrapped in double quotes when it holds a
// blank. Nothing inside is escaped.
std::wstring quoteArgument(const std::wstring& argument);

}  // namespace nx
