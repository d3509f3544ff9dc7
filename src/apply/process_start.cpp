#include "apply/process_start.h"

#include "sys/process.h"

namespace nx {

bool runProcess(const std::vector<std::wstring>& arguments, bool wait) { return sys::startProcess(arguments, wait); }

std::wstring joinCommandLine(const std::vector<std::wstring>& arguments, size_t first) {
  std::wstring line;
  for (size_t i = first; i < arguments.size(); ++i) {
    if (!line.empty()) line += L' ';
    line += quoteArgument(arguments[i]);
  }
  return line;
}

std::wstring quoteArgument(const std::wstring& argument) {
  std::wstring out = argument;
  if (!out.empty() && out.back() == L'\\') out.pop_back();
  if (out.find(L' ') != std::wstring::npos) out = L"\"" + out + L"\"";
  return out;
}

}  // namespace nx
