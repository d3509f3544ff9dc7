#pragma once
// One command-line string from argument words, the form a Windows process
// start takes (and logs show). Pure text, the same on every platform.
#include <cstddef>
#include <string>
#include <vector>

namespace nx::sys {

// The arguments from index first on, each quoted, joined by blanks.
std::wstring joinCommandLine(const std::vector<std::wstring>& arguments, size_t first);

// One trailing backslash dropped; wrapped in double quotes when it holds a
// blank. Nothing inside is escaped.
std::wstring quoteArgument(const std::wstring& argument);

}  // namespace nx::sys
