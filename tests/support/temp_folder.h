#pragma once
// A fresh, empty temporary folder for one test; removed with everything in it
// when the object goes away.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

namespace nx::test {

class TempFolder {
 public:
  TempFolder() {
    // create_directory fails on a name that exists, so no two tests share one.
    static thread_local std::mt19937_64 random{std::random_device{}()};
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      std::filesystem::path candidate = base / ("nx_test_" + std::to_string(random() % 100000000000ULL));
      std::error_code ec;
      if (std::filesystem::create_directory(candidate, ec)) path_ = candidate.wstring();
    }
    if (path_.empty()) throw std::runtime_error("cannot create a temporary test folder");
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::wstring& path() const { return path_; }
  // The path of an entry inside the folder.
  std::wstring file(const std::wstring& name) const {
    return path_ + static_cast<wchar_t>(std::filesystem::path::preferred_separator) + name;
  }
  // Whole contents of an entry (empty when missing), and writing them.
  std::string read(const std::wstring& name) const {
    std::ifstream in(std::filesystem::path(file(name)), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  void write(const std::wstring& name, const std::string& content) const {
    std::ofstream(std::filesystem::path(file(name)), std::ios::binary) << content;
  }

 private:
  std::wstring path_;
};

}  // namespace nx::test
