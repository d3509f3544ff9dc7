// The update applier: argv in, exit code out.
#include <iostream>
#include <string>
#include <vector>

#include "applier/applier.h"
#include "applier/command_line.h"
#include "base/text.h"

int main(int argc, char** argv) {
  // Asked for alone, as a person would; the updater never passes these.
  if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
    std::cout << nx::applier::kUsage;
    return 0;
  }
  if (argc == 2 && std::string(argv[1]) == "--version") {
    std::cout << nx::applier::kVersionText;
    return 0;
  }
  std::vector<std::wstring> words;
  for (int i = 1; i < argc; ++i) words.push_back(nx::fromUtf8(argv[i]));
  return nx::applier::runApplier(words, std::cerr);
}
