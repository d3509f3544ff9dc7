#pragma once
// I/O exceptions. The message names the operation and the path:
//   system-error form: op("path"): (number) system text
//   detail form:       op("path"): detail
#include <cstdint>
#include <stdexcept>
#include <string>

namespace nx {

class IOError : public std::runtime_error {
 public:
  static constexpr uint32_t kNoCode = 0xFFFFFFFFu;

  IOError(const std::string& message, uint32_t code);
  // System-error form. With code 0 the text is that of the thread's last
  // system error; code itself stays 0.
  IOError(const std::wstring& operation, const std::wstring& path, uint32_t code);
  // Detail form; code is kNoCode.
  IOError(const std::wstring& operation, const std::wstring& path, const std::wstring& detail);

  uint32_t code;
};

// A file, archive or archive member that cannot be opened.
class OpenFileError : public IOError {
 public:
  OpenFileError(const std::wstring& path, uint32_t code);
  OpenFileError(const std::wstring& path, const std::wstring& detail);
};

}  // namespace nx
