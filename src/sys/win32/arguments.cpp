#include "sys/arguments.h"

#include <windows.h>
// windows.h comes first: the other system headers need it.

#include <shellapi.h>

namespace nx::sys {

std::vector<std::wstring> commandLineArguments(int argc, char** argv) {
  // The narrow words main() gets are in the ANSI code page; the wide command
  // line holds every name as it is.
  std::vector<std::wstring> words;
  int count = 0;
  LPWSTR* list = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (list) {
    for (int i = 0; i < count; ++i) words.emplace_back(list[i]);
    ::LocalFree(list);
    return words;
  }
  for (int i = 0; i < argc; ++i) {
    std::string word = argv[i] ? argv[i] : "";
    words.emplace_back(word.begin(), word.end());
  }
  return words;
}

}  // namespace nx::sys
