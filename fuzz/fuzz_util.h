#pragma once
// Helpers shared by the fuzz harnesses: a private temp folder for readers
// that take a path (made once per process, removed at exit), and a log that
// keeps nothing.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "base/mini_log.h"
#include "unique_folder.h"

namespace nx::fuzz {

class ScratchFolder {
 public:
  ScratchFolder() {
    std::string name = (std::filesystem::temp_directory_path() / "nx_fuzz_XXXXXX").string();
    if (!nx::fuzz::makeUniqueFolder(name)) {
      std::perror("cannot make a scratch folder");
      std::abort();
    }
    path_ = name;
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  // Writes the input to a file of that name (folders made as needed) and
  // returns its path.
  std::wstring write(const std::string& name, const uint8_t* data, size_t size) const {
    std::filesystem::path file = path_ / name;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return file.wstring();
  }
  std::wstring path() const { return path_.wstring(); }

 private:
  std::filesystem::path path_;
};

inline const ScratchFolder& scratch() {
  static const ScratchFolder folder;
  return folder;
}

class NullLog : public MiniLog {
 public:
  double elapsedSeconds() override { return 0; }
  void writeLine(const std::string&) override {}
};

// A broken promise of the reader under test: the fuzzer reports the abort.
inline void require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "broken invariant: %s\n", what);
    std::abort();
  }
}

}  // namespace nx::fuzz
