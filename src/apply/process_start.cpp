#include "apply/process_start.h"

#include "sys/command_line.h"
#include "sys/process.h"

namespace nx {

bool runProcess(const std::vector<std::wstring>& arguments, bool wait) { return sys::startProcess(arguments, wait); }

std::wstring joinCommandLine(const std::vector<std::wstring>& arguments, size_t first) {
  return sys::joinCommandLine(arguments, first);
}

std::wstring quoteArgument(const std::wstring& argument) { return sys::quoteArgument(argument); }

}  // namespace nx
