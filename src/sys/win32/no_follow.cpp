// The Windows meaning of "never follow a link": a reparse point (a symbolic
// link, a junction, a mount point) is refused where it stands. Every folder
// on the way is held open without delete sharing, so none of them can be
// renamed, removed or swapped for a reparse point while it is held; entries
// are then reached by their one name below the held folder's own, current
// path in its \\?\ form (no name is reinterpreted on the way).
#include "sys/no_follow.h"

#include <windows.h>

#include <vector>

#include "sys/errors.h"
#include "sys/files.h"
#include "sys/win32/windows_handle.h"

namespace nx::sys {

using win32::failHandle;
using win32::failWith;
using win32::handle;
using win32::wrap;

// ERROR_STOPPED_ON_SYMLINK, which not every SDK names.
const uint32_t linkRefused = 681;
const uint32_t notAFolder = ERROR_DIRECTORY;

namespace {

constexpr DWORD kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
// No FILE_SHARE_DELETE: a held folder stays where it is.
constexpr DWORD kFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

// Names are single components: a separator, a stream (":"), a wildcard or a
// name the system would cut (trailing dot or blank) is refused, never split.
bool validName(const std::wstring& name) {
  if (name.empty() || name == L"." || name == L".." || name.find_first_of(L"/\\:*?\"<>|") != std::wstring::npos ||
      name.back() == L'.' || name.back() == L' ')
    return failWith(ERROR_INVALID_NAME);
  for (wchar_t c : name)
    if (c < 32) return failWith(ERROR_INVALID_NAME);
  return true;
}

// The held folder's current full path in the \\?\ form.
bool folderPath(Handle folder, std::wstring* path) {
  std::vector<wchar_t> buffer(512);
  for (int round = 0; round < 2; ++round) {
    DWORD n = ::GetFinalPathNameByHandleW(handle(folder), buffer.data(), static_cast<DWORD>(buffer.size()),
                                          FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0) return false;
    if (n < buffer.size()) {
      path->assign(buffer.data(), n);
      if (path->back() != L'\\') path->push_back(L'\\');
      return true;
    }
    buffer.resize(n + 1);
  }
  return failWith(ERROR_INSUFFICIENT_BUFFER);
}

// The full path of name below the folder, after checking the name.
bool entryPath(Handle folder, const std::wstring& name, std::wstring* path) {
  if (!validName(name) || !folderPath(folder, path)) return false;
  *path += name;
  return true;
}

bool redirects(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

// The entry's own attributes, asked before an open as well: a system that
// opens the target despite FILE_FLAG_OPEN_REPARSE_POINT (wine does) then
// still refuses the link. The check on the opened handle is the one without
// a window between check and use.
bool isReparsePoint(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && redirects(attributes);
}

// Opens a folder (the path's last component is not followed when noFollow)
// and checks what was opened.
Handle openFolderAt(const std::wstring& path, bool noFollow) {
  if (noFollow && isReparsePoint(path)) return failHandle(linkRefused);
  HANDLE h = ::CreateFileW(path.c_str(), kFolderAccess, kFolderShare, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | (noFollow ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr);
  if (h == INVALID_HANDLE_VALUE) return invalidHandle;
  BY_HANDLE_FILE_INFORMATION info;
  DWORD refused = 0;
  if (!::GetFileInformationByHandle(h, &info))
    refused = ::GetLastError();
  else if (noFollow && redirects(info.dwFileAttributes))
    refused = linkRefused;
  else if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    refused = notAFolder;
  if (refused) {
    ::CloseHandle(h);
    return failHandle(refused);
  }
  ::SetLastError(0);
  return wrap(h);
}

// Attributes of the entry itself (a reparse point is not followed); false
// with the error when it cannot be read.
bool attributesOf(const std::wstring& path, WIN32_FILE_ATTRIBUTE_DATA* data) {
  return ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, data) != 0;
}

// Installed files may be read-only; POSIX replaces and removes them all the
// same, and so does the applier here.
void clearReadOnly(const std::wstring& path, DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_READONLY) ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

// Why an opened entry is no plain file on the disk, 0 when it is one: a
// reparse point, a folder (folderError), a device, or, with oneName, a file
// that has other names too.
DWORD notAPlainFile(HANDLE h, DWORD folderError, bool oneName) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(h, &info)) return ::GetLastError();
  if (redirects(info.dwFileAttributes)) return linkRefused;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return folderError;
  if (::GetFileType(h) != FILE_TYPE_DISK || (oneName && info.nNumberOfLinks != 1)) return ERROR_INVALID_PARAMETER;
  return 0;
}

// Type, size and time from either attribute record (by path or by handle).
// Windows has no execute permission: any file may run.
template <class Data>
void describe(const Data& data, EntryInfo* info) {
  if (redirects(data.dwFileAttributes)) {
    info->type = EntryType::link;
  } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    info->type = EntryType::folder;
  } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) {
    info->type = EntryType::other;
  } else {
    info->type = EntryType::file;
    info->size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    info->executable = true;
  }
  info->writeTime = win32::fileTimeValue(data.ftLastWriteTime);
}

}  // namespace

Handle openFolder(const std::wstring& path) { return openFolderAt(win32::systemPath(path), false); }

Handle openFolderNoLink(const std::wstring& path) { return openFolderAt(win32::withoutTrailingSeparators(path), true); }

Handle openSubfolder(Handle folder, const std::wstring& name) {
  std::wstring path;
  if (!entryPath(folder, name, &path)) return invalidHandle;
  return openFolderAt(path, true);
}

bool entryInfo(Handle folder, const std::wstring& name, EntryInfo* info) {
  *info = EntryInfo{};
  std::wstring path;
  if (!entryPath(folder, name, &path)) return false;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!attributesOf(path, &data)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      ::SetLastError(0);
      return true;
    }
    return false;
  }
  describe(data, info);
  ::SetLastError(0);
  return true;
}

Handle openFileAt(Handle folder, const std::wstring& name) {
  std::wstring path;
  if (!entryPath(folder, name, &path)) return invalidHandle;
  if (isReparsePoint(path)) return failHandle(linkRefused);
  HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return invalidHandle;
  if (const DWORD refused = notAPlainFile(h, ERROR_ACCESS_DENIED, false)) {
    ::CloseHandle(h);
    return failHandle(refused);
  }
  ::SetLastError(0);
  return wrap(h);
}

Handle createFileAt(Handle folder, const std::wstring& name, bool /*executable: no such permission here*/) {
  std::wstring path;
  if (!entryPath(folder, name, &path)) return invalidHandle;
  // CREATE_NEW fails on any existing name, a reparse point included; the
  // file takes the access rules its folder passes on. Written through, its
  // data is on the disk when a write returns, whether or not the volume can
  // be flushed later (see syncFileSystem).
  HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_WRITE_THROUGH, nullptr);
  if (h == INVALID_HANDLE_VALUE) return invalidHandle;
  ::SetLastError(0);
  return wrap(h);
}

bool handleEntryInfo(Handle h, EntryInfo* info) {
  *info = EntryInfo{};
  BY_HANDLE_FILE_INFORMATION data;
  if (!::GetFileInformationByHandle(handle(h), &data)) return false;
  describe(data, info);
  info->links = data.nNumberOfLinks;
  // Owners and permission bits stay 0: access here is the folder's
  // inherited rules, and every process acts as user 0 (see invokingUser).
  ::SetLastError(0);
  return true;
}

namespace {

// Opens or creates a file below the folder, never through a reparse point,
// and checks that a plain file with one name was opened; *created tells
// whether it was made now.
Handle openOrCreateAt(Handle folder, const std::wstring& name, DWORD access, DWORD share, bool* created) {
  *created = false;
  std::wstring path;
  if (!entryPath(folder, name, &path)) return invalidHandle;
  if (isReparsePoint(path)) return failHandle(linkRefused);
  HANDLE h = ::CreateFileW(path.c_str(), access, share, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return invalidHandle;
  *created = ::GetLastError() != ERROR_ALREADY_EXISTS;
  if (const DWORD refused = notAPlainFile(h, ERROR_INVALID_PARAMETER, true)) {
    ::CloseHandle(h);
    return failHandle(refused);
  }
  ::SetLastError(0);
  return wrap(h);
}

}  // namespace

Handle openAppendAt(Handle folder, const std::wstring& name, uint32_t /*mode*/, bool* created) {
  // Append-only access: every write lands at the end, as O_APPEND does.
  return openOrCreateAt(folder, name, FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ, created);
}

Handle lockFileAt(Handle folder, const std::wstring& name, bool* created) {
  // Shared with nobody: a second open, from any process, fails with 32 (the
  // sharing violation) while the handle stays open.
  return openOrCreateAt(folder, name, GENERIC_READ | GENERIC_WRITE, 0, created);
}

bool listEntries(Handle folder, std::vector<std::wstring>* names) {
  names->clear();
  std::wstring path;
  std::vector<FolderEntry> entries;
  if (!folderPath(folder, &path) || !listFolder(path, &entries)) return false;
  for (FolderEntry& e : entries) names->push_back(std::move(e.name));
  return true;
}

bool renameBetween(Handle from, const std::wstring& fromName, Handle to, const std::wstring& toName) {
  std::wstring a, b;
  if (!entryPath(from, fromName, &a) || !entryPath(to, toName, &b)) return false;
  WIN32_FILE_ATTRIBUTE_DATA target;
  if (attributesOf(b, &target) && !(target.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    clearReadOnly(b, target.dwFileAttributes);
  return ::MoveFileExW(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool setOwner(Handle, uint32_t, uint32_t) { return true; }
bool setMode(Handle, uint32_t) { return true; }

std::wstring handlePath(Handle h, const std::wstring& name) {
  std::wstring path;
  if (name.empty()) {
    if (!folderPath(h, &path)) return {};
    path.pop_back();
    return path;
  }
  return entryPath(h, name, &path) ? path : std::wstring();
}

// Elevation here is the system's own (runas): the process acts for the user
// who started it, and user numbers do not exist; every process is user 0.
uint32_t invokingUser() { return 0; }
uint32_t effectiveUser() { return 0; }
bool elevatedForOtherUser() { return false; }

bool handleInfo(Handle file, uint64_t* size, uint64_t* writeTime) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(handle(file), &info)) return false;
  *size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  *writeTime = win32::fileTimeValue(info.ftLastWriteTime);
  return true;
}

bool renameAt(Handle folder, const std::wstring& from, const std::wstring& to) {
  std::wstring a, b;
  if (!entryPath(folder, from, &a) || !entryPath(folder, to, &b)) return false;
  WIN32_FILE_ATTRIBUTE_DATA target;
  if (attributesOf(b, &target) && !(target.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    clearReadOnly(b, target.dwFileAttributes);
  // A running program cannot be replaced this way (error 5); it can only be
  // renamed itself, which is how the applier sets installed files aside.
  return ::MoveFileExW(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool deleteAt(Handle folder, const std::wstring& name) {
  std::wstring path;
  if (!entryPath(folder, name, &path)) return false;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!attributesOf(path, &data)) return false;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    // A junction or folder link goes as the link it is; a real folder is refused.
    if (!redirects(data.dwFileAttributes)) return failWith(ERROR_ACCESS_DENIED);
    return ::RemoveDirectoryW(path.c_str()) != 0;
  }
  clearReadOnly(path, data.dwFileAttributes);
  return ::DeleteFileW(path.c_str()) != 0;
}

// Permission bits do not exist here: the folder takes the access rules its
// parent passes on.
bool createSubfolder(Handle folder, const std::wstring& name, uint32_t /*mode*/) {
  std::wstring path;
  if (!entryPath(folder, name, &path)) return false;
  return ::CreateDirectoryW(path.c_str(), nullptr) != 0;
}

bool removeSubfolder(Handle folder, const std::wstring& name) {
  std::wstring path;
  if (!entryPath(folder, name, &path)) return false;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!attributesOf(path, &data)) return false;
  if (redirects(data.dwFileAttributes)) return failWith(linkRefused);
  if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return failWith(notAFolder);
  return ::RemoveDirectoryW(path.c_str()) != 0;
}

bool syncFileSystem(Handle anyHandleOnIt) {
  // Flushing a whole volume takes a handle to the volume, which only an
  // administrator may open (the applier runs as one). Where that is refused
  // or the file system cannot flush a volume, what createFileAt made was
  // written through and renames are too: nothing is left to push.
  std::wstring path;
  if (!folderPath(anyHandleOnIt, &path)) return false;
  wchar_t volume[MAX_PATH];
  if (!::GetVolumePathNameW(path.c_str(), volume, MAX_PATH)) return false;
  std::wstring device = volume;
  if (device.rfind(L"\\\\?\\", 0) == 0) device = device.substr(4);
  while (!device.empty() && device.back() == L'\\') device.pop_back();
  HANDLE h = ::CreateFileW((L"\\\\.\\" + device).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_ACCESS_DENIED;
  const bool ok = ::FlushFileBuffers(h) != 0;
  const DWORD error = ::GetLastError();
  ::CloseHandle(h);
  if (ok || error == ERROR_INVALID_FUNCTION) return true;
  ::SetLastError(error);
  return false;
}

}  // namespace nx::sys
