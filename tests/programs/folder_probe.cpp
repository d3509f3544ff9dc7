// Test helper: reports what the updater resolves from wherever this copy of
// the program lies. Arguments: the output file, the file the base folder
// holds, and optionally the base folder argument. Writes two lines, the base
// folder and the program's folder.
#include <fstream>

#include "base/folders.h"
#include "base/paths.h"
#include "sys/files.h"

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  using nx::sys::fromNativePath;
  std::wstring base = nx::resolveBaseFolder(fromNativePath(argv[2]), argc > 3 ? fromNativePath(argv[3]) : L"");
  std::ofstream out(argv[1], std::ios::binary);
  out << nx::sys::nativePath(base) << "\n" << nx::sys::nativePath(nx::executableFolder()) << "\n";
  return out ? 0 : 1;
}
