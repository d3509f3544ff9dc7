#include "sys/command_line.h"

namespace nx::sys {

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
  // A folder passed as C:\Some Folder\ would otherwise end in \" and swallow
  // the closing quote.
  if (!out.empty() && out.back() == L'\\') out.pop_back();
  if (out.find(L' ') != std::wstring::npos) out = L"\"" + out + L"\"";
  return out;
}

}  // namespace nx::sys
