// Test helper: the stand-in for a program that the updater starts (an
// applier, a product), where no shell script can run. A copy of it records
// how it was started: it reads "<its own path>.how" (the record file on the
// first line, the exit code on the second), writes its arguments there, one
// a line (complete once the file appears), and exits with that code.
#include <cstdlib>
#include <fstream>
#include <string>

#include "base/text.h"
#include "sys/arguments.h"
#include "sys/files.h"

int main(int argc, char** argv) {
  std::wstring self;
  if (!nx::sys::executablePath(&self)) return 2;
  std::ifstream how(nx::sys::nativePath(self) + ".how");
  std::string record, code;
  if (!std::getline(how, record) || !std::getline(how, code)) return 2;
  const std::vector<std::wstring> words = nx::sys::commandLineArguments(argc, argv);
  {
    std::ofstream out(record + ".part", std::ios::binary);
    for (size_t i = 1; i < words.size(); ++i) out << nx::toUtf8(words[i]) << "\n";
  }
  if (!nx::sys::replaceFile(nx::sys::fromNativePath(record + ".part"), nx::sys::fromNativePath(record))) return 2;
  return std::atoi(code.c_str());
}
