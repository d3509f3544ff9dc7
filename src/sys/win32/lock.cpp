#include "sys/lock.h"

#include <windows.h>

#include "sys/errors.h"
#include "sys/win32/windows_handle.h"

namespace nx::sys {

Handle tryLockFile(const std::wstring& path) {
  // Not shared with anybody, deleted when the last handle closes: the system
  // removes it when the holder ends, however it ends.
  HANDLE h = ::CreateFileW(win32::systemPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return invalidHandle;
  // A lock on the file's bytes as well: it holds even against a handle that
  // shares the file (a duplicated or inherited one).
  OVERLAPPED whole{};
  if (!::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole)) {
    DWORD error = ::GetLastError();
    ::CloseHandle(h);
    return win32::failHandle(error == ERROR_LOCK_VIOLATION ? ERROR_SHARING_VIOLATION : error);
  }
  // create-always reports 183 for a file left by nobody: it is ours now.
  ::SetLastError(0);
  return win32::wrap(h);
}

}  // namespace nx::sys
