#include "io/io_error.h"

#include "base/system_error_text.h"
#include "base/text.h"
#include "sys/errors.h"

namespace nx {

namespace {

std::wstring head(const std::wstring& operation, const std::wstring& path) {
  return operation + L"(\"" + path + L"\"): ";
}

std::string systemForm(const std::wstring& operation, const std::wstring& path, uint32_t code) {
  uint32_t number = code ? code : sys::lastError();
  return toUtf8(head(operation, path) + L"(" + std::to_wstring(number) + L") " + systemErrorTextW(number));
}

}  // namespace

IOError::IOError(const std::string& message, uint32_t code) : std::runtime_error(message), code(code) {}

IOError::IOError(const std::wstring& operation, const std::wstring& path, uint32_t code)
    : std::runtime_error(systemForm(operation, path, code)), code(code) {}

IOError::IOError(const std::wstring& operation, const std::wstring& path, const std::wstring& detail)
    : std::runtime_error(toUtf8(head(operation, path) + detail)), code(kNoCode) {}

OpenFileError::OpenFileError(const std::wstring& path, uint32_t code) : IOError(L"open", path, code) {}

OpenFileError::OpenFileError(const std::wstring& path, const std::wstring& detail) : IOError(L"open", path, detail) {}

}  // namespace nx
