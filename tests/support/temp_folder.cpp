#include "support/temp_folder.h"

#include <atomic>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include <unistd.h>

namespace nx::test {

namespace fs = std::filesystem;

TempFolder::TempFolder() {
  static std::atomic<unsigned> counter{0};
  fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = base / ("nx_test_" + std::to_string(::getpid()) + "_" +
                                 std::to_string(counter++));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) {
      path_ = candidate.wstring();
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary test folder");
}

TempFolder::~TempFolder() {
  std::error_code ec;
  fs::remove_all(fs::path(path_), ec);
}

std::wstring TempFolder::file(const std::wstring& name) const {
  return path_ + L"/" + name;
}

}  // namespace nx::test
