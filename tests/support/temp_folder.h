#pragma once
// A fresh, empty temporary folder for one test; removed with everything in it
// when the object goes away.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <system_error>

namespace nx::test {

class TempFolder {
 public:
  TempFolder() {
    std::string name = (std::filesystem::temp_directory_path() / "nx_test_XXXXXX").string();
    if (!::mkdtemp(name.data())) throw std::runtime_error("cannot create a temporary test folder");
    path_ = std::filesystem::path(name).wstring();
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::wstring& path() const { return path_; }
  // The path of an entry inside the folder.
  std::wstring file(const std::wstring& name) const { return path_ + L"/" + name; }
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
