#pragma once
// Helpers the Windows files of the platform layer share.
#include <windows.h>

#include <string>

#include "sys/files.h"

namespace nx::sys::win32 {

inline HANDLE handle(Handle h) { return reinterpret_cast<HANDLE>(h); }
inline Handle wrap(HANDLE h) { return reinterpret_cast<Handle>(h); }

// The path with every '/' turned into '\' (the form every Win32 call takes,
// also behind the \\?\ prefix).
std::wstring systemPath(const std::wstring& path);

// The path without trailing separators (a drive root keeps its own).
std::wstring withoutTrailingSeparators(std::wstring path);

// UTF-16 to UTF-8 and back, for texts the system gives and takes; invalid
// input is replaced, never thrown on.
std::string utf8(const std::wstring& text);
std::wstring utf16(const std::string& text);

// Records an error number as the last error and answers false (or the
// invalid handle) for a one-line return.
inline bool failWith(DWORD code) {
  ::SetLastError(code);
  return false;
}
inline Handle failHandle(DWORD code) {
  ::SetLastError(code);
  return invalidHandle;
}

// FILETIME as the 64-bit count the rest of the updater uses.
inline uint64_t fileTimeValue(const FILETIME& ft) {
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// A security descriptor that gives the current user, SYSTEM and the
// Administrators full control and nobody else anything, inherited by what is
// created below; nullptr when it cannot be built.
SECURITY_ATTRIBUTES* privateSecurity();

// The user the process runs as (its SID lives as long as the process).
PSID currentUser();

}  // namespace nx::sys::win32
