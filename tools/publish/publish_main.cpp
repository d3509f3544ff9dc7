// The release publisher: argv in, exit code out.
#include <iostream>
#include <string>
#include <vector>

#include "publish/command_line.h"

int main(int argc, char** argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  return nx::publish::runPublish(words, std::cout, std::cerr);
}
