#include "sys/files.h"

#include <windows.h>
// windows.h comes first: the other system headers need it.

#include <aclapi.h>
#include <shlobj.h>

#include <atomic>
#include <cstdio>
#include <vector>

#include "sys/errors.h"
#include "sys/win32/windows_handle.h"

namespace nx::sys {

using win32::failHandle;
using win32::failWith;
using win32::handle;
using win32::systemPath;
using win32::wrap;

const wchar_t pathSeparator = L'\\';

// Libraries that open files themselves (minizip) get UTF-8: the manifest
// makes UTF-8 the process's ANSI code page.
std::string nativePath(const std::wstring& path) { return win32::utf8(systemPath(path)); }
std::wstring fromNativePath(const std::string& native) { return win32::utf16(native); }

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens a file (never a folder); only a disk file passes when regularOnly,
// so a pipe or a console never blocks a reader.
Handle openWith(const std::wstring& path, DWORD access, DWORD share, DWORD disposition, bool regularOnly) {
  HANDLE h =
      ::CreateFileW(systemPath(path).c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return invalidHandle;
  if (regularOnly && ::GetFileType(h) != FILE_TYPE_DISK) {
    ::CloseHandle(h);
    return failHandle(ERROR_INVALID_PARAMETER);
  }
  // A create that found the file reports 183; the open itself succeeded.
  ::SetLastError(0);
  return wrap(h);
}

}  // namespace

// Readers share everything, as on POSIX: a file being read may be written,
// renamed or replaced by others meanwhile.
Handle openRead(const std::wstring& path) { return openWith(path, GENERIC_READ, kShareAll, OPEN_EXISTING, true); }
Handle createWrite(const std::wstring& path) {
  return openWith(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, CREATE_ALWAYS, false);
}
Handle openAlways(const std::wstring& path) {
  return openWith(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_ALWAYS, false);
}
// Append-only access: the system puts every write at the end, also while
// another process appends.
Handle openAppend(const std::wstring& path) {
  return openWith(path, FILE_APPEND_DATA | SYNCHRONIZE, kShareAll, OPEN_ALWAYS, false);
}

Handle createUnique(const std::wstring& prefix, std::wstring* path, const std::wstring& modeOf) {
  static std::atomic<uint32_t> counter{0};
  // The new file takes the previous one's access rules from the start, so it
  // is never readable by someone who could not read that one.
  std::vector<unsigned char> descriptor;
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
  if (!modeOf.empty()) {
    const std::wstring previous = systemPath(modeOf);
    DWORD size = 0;
    ::GetFileSecurityW(previous.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
    descriptor.resize(size);
    if (size && ::GetFileSecurityW(previous.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), size, &size))
      attributes.lpSecurityDescriptor = descriptor.data();
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    uint64_t mix = (static_cast<uint64_t>(::GetCurrentProcessId()) << 32) ^ counter.fetch_add(1) ^
                   static_cast<uint64_t>(::GetTickCount64()) ^ (static_cast<uint64_t>(attempt) << 20);
    wchar_t suffix[24];
    std::swprintf(suffix, 24, L".%08x.tmp", static_cast<unsigned>(mix ^ (mix >> 32)));
    std::wstring name = systemPath(prefix) + suffix;
    // CREATE_NEW never opens an existing name, and no reparse point is followed.
    HANDLE h = ::CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                             attributes.lpSecurityDescriptor ? &attributes : nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      *path = name;
      ::SetLastError(0);
      return wrap(h);
    }
    if (::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  return invalidHandle;
}

bool read(Handle h, void* buffer, size_t size, size_t* got) {
  DWORD n = 0;
  const DWORD ask = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
  if (::ReadFile(handle(h), buffer, ask, &n, nullptr)) {
    *got = n;
    return true;
  }
  *got = 0;
  // The other end of a pipe closed: that is the end of the input.
  if (::GetLastError() == ERROR_BROKEN_PIPE || ::GetLastError() == ERROR_HANDLE_EOF) return true;
  return false;
}

bool write(Handle h, const void* data, size_t size, size_t* written) {
  // When the room runs out part way, the part written is a short write,
  // which callers report as a full disk.
  size_t done = 0;
  const char* p = static_cast<const char*>(data);
  while (done < size) {
    const size_t left = size - done;
    DWORD n = 0;
    if (!::WriteFile(handle(h), p + done, left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left), &n, nullptr)) {
      *written = done;
      const DWORD error = ::GetLastError();
      if ((error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) && done > 0) return true;
      return false;
    }
    if (n == 0) break;
    done += n;
  }
  *written = done;
  return true;
}

bool seekToEnd(Handle h) {
  LARGE_INTEGER zero{};
  return ::SetFilePointerEx(handle(h), zero, nullptr, FILE_END) != 0;
}

bool truncateHere(Handle h) { return ::SetEndOfFile(handle(h)) != 0; }

bool fileTime(Handle h, uint64_t* filetime) {
  FILETIME written;
  if (!::GetFileTime(handle(h), nullptr, nullptr, &written)) return false;
  *filetime = win32::fileTimeValue(written);
  return true;
}

bool flush(Handle h) { return ::FlushFileBuffers(handle(h)) != 0; }

void close(Handle h) {
  if (h != invalidHandle) ::CloseHandle(handle(h));
}

bool fileInfo(const std::wstring& path, FileInfo* info) {
  *info = FileInfo{};
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(systemPath(path).c_str(), GetFileExInfoStandard, &data)) return false;
  info->exists = true;
  info->isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info->isDevice = (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0;
  info->size = info->isFolder ? 0 : (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  info->writeTime = win32::fileTimeValue(data.ftLastWriteTime);
  return true;
}

bool exists(const std::wstring& path) {
  return ::GetFileAttributesW(systemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool deleteFile(const std::wstring& path) { return ::DeleteFileW(systemPath(path).c_str()) != 0; }

bool moveFile(const std::wstring& from, const std::wstring& to) {
  return ::MoveFileExW(systemPath(from).c_str(), systemPath(to).c_str(), 0) != 0;
}

bool replaceFile(const std::wstring& from, const std::wstring& to) {
  return ::MoveFileExW(systemPath(from).c_str(), systemPath(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

namespace {

// Each missing level, with the given security (nullptr: inherited). The
// drive, the server and share of a UNC path and levels that exist are passed
// over; the last level decides the result.
bool createLevels(const std::wstring& path, SECURITY_ATTRIBUTES* security) {
  const std::wstring p = win32::withoutTrailingSeparators(path);
  if (p.empty()) return true;
  for (size_t i = 1; i <= p.size(); ++i) {
    if (i != p.size() && p[i] != L'\\') continue;
    const std::wstring level = p.substr(0, i);
    if (::GetFileAttributesW(level.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
    if (!::CreateDirectoryW(level.c_str(), security) && ::GetLastError() != ERROR_ALREADY_EXISTS && i == p.size())
      return false;
  }
  const DWORD attributes = ::GetFileAttributesW(p.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return failWith(ERROR_ALREADY_EXISTS);
  ::SetLastError(0);
  return true;
}

}  // namespace

bool createFolder(const std::wstring& path) { return ::CreateDirectoryW(systemPath(path).c_str(), nullptr) != 0; }

bool createFolders(const std::wstring& path) { return createLevels(path, nullptr); }

bool createPrivateFolders(const std::wstring& path) {
  SECURITY_ATTRIBUTES* security = win32::privateSecurity();
  if (!security) return false;
  return createLevels(path, security);
}

namespace {

bool sameSid(PSID a, PSID b) { return a && b && ::IsValidSid(a) && ::IsValidSid(b) && ::EqualSid(a, b); }

// The principals that may change what the elevated applier runs without
// that being a hole: the user, SYSTEM, the Administrators, and the owner.
bool trustedPrincipal(PSID sid) {
  static const WELL_KNOWN_SID_TYPE trusted[] = {WinLocalSystemSid, WinBuiltinAdministratorsSid, WinCreatorOwnerSid,
                                                WinCreatorOwnerRightsSid};
  if (sameSid(sid, win32::currentUser())) return true;
  for (WELL_KNOWN_SID_TYPE type : trusted)
    if (::IsWellKnownSid(sid, type)) return true;
  return false;
}

}  // namespace

FolderTrust folderTrust(const std::wstring& path) {
  // The folder itself, never what a reparse point there leads to.
  HANDLE h = ::CreateFileW(win32::withoutTrailingSeparators(path).c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return FolderTrust::Missing;
  BY_HANDLE_FILE_INFORMATION info;
  FolderTrust verdict = FolderTrust::Private;
  if (!::GetFileInformationByHandle(h, &info)) {
    verdict = FolderTrust::Missing;
  } else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    verdict = FolderTrust::SymbolicLink;
  } else if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    verdict = FolderTrust::NotAFolder;
  } else {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                          &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
      verdict = FolderTrust::Missing;
    } else if (!trustedPrincipal(owner)) {
      verdict = FolderTrust::OtherOwner;
    } else if (!dacl) {
      verdict = FolderTrust::OthersCanWrite;  // no DACL: everyone may do anything
    } else {
      constexpr DWORD kChanges = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES |
                                 DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
      for (DWORD i = 0; i < dacl->AceCount && verdict == FolderTrust::Private; ++i) {
        ACE_HEADER* ace = nullptr;
        if (!::GetAce(dacl, i, reinterpret_cast<void**>(&ace)) || ace->AceType != ACCESS_ALLOWED_ACE_TYPE ||
            (ace->AceFlags & INHERIT_ONLY_ACE))
          continue;
        auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace);
        if ((allowed->Mask & kChanges) && !trustedPrincipal(reinterpret_cast<PSID>(&allowed->SidStart)))
          verdict = FolderTrust::OthersCanWrite;
      }
    }
    if (descriptor) ::LocalFree(descriptor);
  }
  const DWORD error = ::GetLastError();
  ::CloseHandle(h);
  ::SetLastError(error);
  return verdict;
}

bool removeFolder(const std::wstring& path) { return ::RemoveDirectoryW(systemPath(path).c_str()) != 0; }

bool listFolder(const std::wstring& path, std::vector<FolderEntry>* entries) {
  entries->clear();
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileExW((win32::withoutTrailingSeparators(path) + L"\\*").c_str(), FindExInfoBasic, &data,
                                   FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) {
    if (::GetLastError() != ERROR_FILE_NOT_FOUND) return false;  // a drive root with nothing in it
    ::SetLastError(0);
    return true;
  }
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    entries->push_back(FolderEntry{name, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (::FindNextFileW(find, &data));
  const DWORD error = ::GetLastError();
  ::FindClose(find);
  if (error != ERROR_NO_MORE_FILES) return failWith(error);
  ::SetLastError(0);
  return true;
}

bool fullPath(const std::wstring& path, std::wstring* full) {
  if (path.empty()) return failWith(ERROR_FILE_NOT_FOUND);
  const std::wstring p = systemPath(path);
  std::vector<wchar_t> buffer(1024);
  for (;;) {
    DWORD n = ::GetFullPathNameW(p.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (n == 0) return false;
    if (n < buffer.size()) {
      full->assign(buffer.data(), n);
      return true;
    }
    buffer.resize(n + 1);
  }
}

bool currentFolder(std::wstring* folder) {
  std::vector<wchar_t> buffer(1024);
  for (;;) {
    DWORD n = ::GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (n == 0) return false;
    if (n < buffer.size()) {
      folder->assign(buffer.data(), n);
      return true;
    }
    buffer.resize(n + 1);
  }
}

bool realPath(const std::wstring& path, std::wstring* real) {
  HANDLE h = ::CreateFileW(systemPath(path).c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  std::vector<wchar_t> buffer(1024);
  DWORD n = ::GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()), FILE_NAME_NORMALIZED);
  if (n >= buffer.size()) {
    buffer.resize(n + 1);
    n = ::GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()), FILE_NAME_NORMALIZED);
  }
  const DWORD error = ::GetLastError();
  ::CloseHandle(h);
  if (n == 0 || n >= buffer.size()) return failWith(n == 0 ? error : ERROR_INSUFFICIENT_BUFFER);
  std::wstring out(buffer.data(), n);
  // The \\?\ form the call gives back; callers compare with ordinary paths.
  if (out.rfind(L"\\\\?\\UNC\\", 0) == 0)
    out = L"\\\\" + out.substr(8);
  else if (out.rfind(L"\\\\?\\", 0) == 0)
    out = out.substr(4);
  *real = out;
  return true;
}

bool executablePath(std::wstring* path) {
  std::vector<wchar_t> buffer(1024);
  for (;;) {
    DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return false;
    if (n < buffer.size()) {
      path->assign(buffer.data(), n);
      return true;
    }
    buffer.resize(buffer.size() * 2);
  }
}

bool tempPath(std::wstring* path) {
  wchar_t buffer[MAX_PATH + 1];
  DWORD n = ::GetTempPathW(MAX_PATH + 1, buffer);
  if (n == 0 || n > MAX_PATH) return failWith(n == 0 ? ::GetLastError() : ERROR_FILENAME_EXCED_RANGE);
  std::wstring temp(buffer, n);
  if (!createPrivateFolders(temp)) return false;
  if (temp.back() != L'\\') temp += L'\\';
  *path = temp;
  return true;
}

std::wstring userDataFolder() {
  // The user's local application data: settings, logs and the file cache
  // belong to this machine and need not travel with a roaming profile.
  std::wstring folder;
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  PWSTR known = nullptr;
  if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE | KF_FLAG_NO_ALIAS, nullptr, &known)))
    folder = known;
  ::CoTaskMemFree(known);
  if (SUCCEEDED(com)) ::CoUninitialize();
  if (!folder.empty()) return folder;
  wchar_t buffer[MAX_PATH];
  if (SUCCEEDED(
          ::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, buffer)))
    return buffer;
  return {};
}

}  // namespace nx::sys
