// The update applier: argv in, exit code out.
#include <iostream>
#include <string>
#include <vector>

#include "applier/applier.h"
#include "base/text.h"

int main(int argc, char** argv) {
  std::vector<std::wstring> words;
  for (int i = 1; i < argc; ++i) words.push_back(nx::fromUtf8(argv[i]));
  return nx::applier::runApplier(words, std::cerr);
}
