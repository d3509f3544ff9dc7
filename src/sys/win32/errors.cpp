#include "sys/errors.h"

#include <windows.h>

#include "sys/win32/windows_handle.h"

namespace nx::sys {

// A missing folder on the way (3) is a missing file, as POSIX says ENOENT
// for both: the code above asks for fileNotFound alone.
uint32_t lastError() {
  const DWORD code = ::GetLastError();
  return code == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : code;
}
void setLastError(uint32_t code) { ::SetLastError(code); }

std::string errorMessage(uint32_t code) {
  const DWORD saved = ::GetLastError();
  wchar_t buffer[1024];
  const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  // US English first, as the log and the error boxes are English; a system
  // without those texts answers in its own language.
  DWORD n = ::FormatMessageW(flags, nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), buffer, 1024, nullptr);
  if (n == 0) n = ::FormatMessageW(flags, nullptr, code, 0, buffer, 1024, nullptr);
  ::SetLastError(saved);
  return n == 0 ? std::string() : win32::utf8(std::wstring(buffer, n));
}

const uint32_t fileNotFound = ERROR_FILE_NOT_FOUND;
const uint32_t alreadyExists = ERROR_ALREADY_EXISTS;
const uint32_t fileExists = ERROR_FILE_EXISTS;
const uint32_t diskFull = ERROR_DISK_FULL;
const uint32_t cancelled = ERROR_CANCELLED;
const uint32_t sharingViolation = ERROR_SHARING_VIOLATION;

}  // namespace nx::sys
