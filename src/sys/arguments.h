#pragma once
// The process's command line as wide words, element 0 the program.
#include <string>
#include <vector>

namespace nx::sys {

std::vector<std::wstring> commandLineArguments(int argc, char** argv);

}  // namespace nx::sys
