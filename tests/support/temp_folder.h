#pragma once
// A fresh, empty temporary folder for one test; removed with everything in it
// when the object goes away.
#include <string>

namespace nx::test {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::wstring& path() const { return path_; }
  // The path of an entry inside the folder.
  std::wstring file(const std::wstring& name) const;

 private:
  std::wstring path_;
};

}  // namespace nx::test
