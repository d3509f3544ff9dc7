#include "sys/arguments.h"

#include "sys/posix/native_path.h"

namespace nx::sys {

std::vector<std::wstring> commandLineArguments(int argc, char** argv) {
  // The words are bytes as the shell passed them; they convert like file
  // names, so a word that names a file reaches it unchanged.
  std::vector<std::wstring> words;
  for (int i = 0; i < argc; ++i) words.push_back(posix::widePath(argv[i] ? argv[i] : ""));
  return words;
}

}  // namespace nx::sys
