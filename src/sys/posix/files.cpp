#include "sys/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "sys/errors.h"
#include "sys/posix/file_time.h"
#include "sys/posix/native_path.h"

namespace nx::sys {

using posix::toFileTime;

using posix::widePath;

const wchar_t pathSeparator = L'/';

std::string nativePath(const std::wstring& path) { return posix::nativePath(path); }
std::wstring fromNativePath(const std::string& native) { return widePath(native); }

namespace {

bool fail() {
  setLastError(static_cast<uint32_t>(errno));
  return false;
}

// Opens without blocking: a FIFO where a file should be would otherwise hang
// the open until a writer (or reader) comes along. Blocking is switched back
// on once the handle is known to be usable.
Handle openWith(const std::wstring& path, int flags, bool regularOnly) {
  int fd = ::open(nativePath(path).c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) {
    fail();
    return invalidHandle;
  }
  struct stat st;
  int refused = 0;
  if (::fstat(fd, &st) != 0) {
    refused = errno;
  } else if (S_ISDIR(st.st_mode)) {
    refused = EISDIR;  // folders open fine for reading on POSIX; a file handle never names one
  } else if (regularOnly && !S_ISREG(st.st_mode)) {
    refused = EINVAL;  // a FIFO, socket or device is no file to read
  } else {
    int fl = ::fcntl(fd, F_GETFL);
    if (fl < 0 || ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) refused = errno;
  }
  if (refused) {
    ::close(fd);
    setLastError(static_cast<uint32_t>(refused));
    return invalidHandle;
  }
  setLastError(0);
  return fd;
}

}  // namespace

Handle openRead(const std::wstring& path) { return openWith(path, O_RDONLY, true); }
// Writers may aim at a device on purpose (/dev/null); a FIFO without a reader
// fails at once (ENXIO) instead of waiting for one.
Handle createWrite(const std::wstring& path) { return openWith(path, O_WRONLY | O_CREAT | O_TRUNC, false); }
Handle openAlways(const std::wstring& path) { return openWith(path, O_WRONLY | O_CREAT, false); }
Handle openAppend(const std::wstring& path) { return openWith(path, O_WRONLY | O_CREAT | O_APPEND, false); }

Handle createUnique(const std::wstring& prefix, std::wstring* path, const std::wstring& modeOf) {
  static std::atomic<uint32_t> counter{0};
  std::string base = nativePath(prefix);
  // Taking over a file's mode: the file starts private and is widened to
  // that mode before anything is written, so no one who may not read the
  // previous file can open the new one in between.
  struct stat previous;
  bool keepMode = !modeOf.empty() && ::stat(nativePath(modeOf).c_str(), &previous) == 0 && S_ISREG(previous.st_mode);
  for (int attempt = 0; attempt < 100; ++attempt) {
    uint64_t mix = (static_cast<uint64_t>(::getpid()) << 32) ^ counter.fetch_add(1) ^
                   static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<uint32_t>(mix ^ (mix >> 32)));
    std::string name = base + suffix;
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, keepMode ? 0600 : 0644);
    if (fd >= 0) {
      if (keepMode && ::fchmod(fd, previous.st_mode & 0777) != 0) {
        int error = errno;
        ::close(fd);
        ::unlink(name.c_str());
        setLastError(static_cast<uint32_t>(error));
        return invalidHandle;
      }
      *path = widePath(name);
      setLastError(0);
      return fd;
    }
    if (errno != EEXIST) break;
  }
  fail();
  return invalidHandle;
}

bool read(Handle h, void* buffer, size_t size, size_t* got) {
  for (;;) {
    ssize_t n = ::read(static_cast<int>(h), buffer, size);
    if (n >= 0) {
      *got = static_cast<size_t>(n);
      return true;
    }
    if (errno != EINTR) {
      *got = 0;
      return fail();
    }
  }
}

bool write(Handle h, const void* data, size_t size, size_t* written) {
  // Keep writing until the block is out. When the room runs out part way (a
  // full disk, a quota, a file-size limit) the part written is a short
  // write, which callers report as a full disk.
  size_t done = 0;
  const char* p = static_cast<const char*>(data);
  while (done < size) {
    ssize_t n = ::write(static_cast<int>(h), p + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      *written = done;
      if ((errno == ENOSPC || errno == EDQUOT || errno == EFBIG) && done > 0) return true;
      return fail();
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  *written = done;
  return true;
}

bool seekToEnd(Handle h) { return ::lseek(static_cast<int>(h), 0, SEEK_END) >= 0 || fail(); }

bool truncateHere(Handle h) {
  off_t pos = ::lseek(static_cast<int>(h), 0, SEEK_CUR);
  if (pos < 0) return fail();
  return ::ftruncate(static_cast<int>(h), pos) == 0 || fail();
}

bool fileTime(Handle h, uint64_t* filetime) {
  struct stat st;
  if (::fstat(static_cast<int>(h), &st) != 0) return fail();
  *filetime = toFileTime(st.st_mtim);
  return true;
}

bool flush(Handle h) { return ::fsync(static_cast<int>(h)) == 0 || fail(); }

void close(Handle h) {
  if (h != invalidHandle) ::close(static_cast<int>(h));
}

bool fileInfo(const std::wstring& path, FileInfo* info) {
  *info = FileInfo{};
  struct stat st;
  if (::stat(nativePath(path).c_str(), &st) != 0) return fail();
  info->exists = true;
  info->isFolder = S_ISDIR(st.st_mode);
  info->isDevice = !S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode);
  info->size = info->isFolder ? 0 : static_cast<uint64_t>(st.st_size);
  info->writeTime = toFileTime(st.st_mtim);
  return true;
}

bool exists(const std::wstring& path) {
  FileInfo info;
  return fileInfo(path, &info);
}

bool deleteFile(const std::wstring& path) {
  FileInfo info;
  if (fileInfo(path, &info) && info.isFolder) {
    setLastError(EISDIR);
    return false;
  }
  return ::unlink(nativePath(path).c_str()) == 0 || fail();
}

bool moveFile(const std::wstring& from, const std::wstring& to) {
  std::string a = nativePath(from), b = nativePath(to);
  struct stat st;
  if (::lstat(b.c_str(), &st) == 0) {
    setLastError(EEXIST);
    return false;
  }
  return ::rename(a.c_str(), b.c_str()) == 0 || fail();
}

bool replaceFile(const std::wstring& from, const std::wstring& to) {
  return ::rename(nativePath(from).c_str(), nativePath(to).c_str()) == 0 || fail();
}

namespace {

// Each missing level with the mode; existing levels are left as they are.
bool createLevels(std::string p, mode_t mode) {
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  if (p.empty()) return true;
  for (size_t i = 1; i <= p.size(); ++i) {
    if (i != p.size() && p[i] != '/') continue;
    std::string part = p.substr(0, i);
    if (::mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return fail();
  }
  struct stat st;
  if (::stat(p.c_str(), &st) != 0) return fail();
  if (!S_ISDIR(st.st_mode)) {
    setLastError(EEXIST);
    return false;
  }
  return true;
}

}  // namespace

bool createFolder(const std::wstring& path) { return ::mkdir(nativePath(path).c_str(), 0755) == 0 || fail(); }

bool createFolders(const std::wstring& path) { return createLevels(nativePath(path), 0755); }

bool createPrivateFolders(const std::wstring& path) { return createLevels(nativePath(path), 0700); }

FolderTrust folderTrust(const std::wstring& path) {
  std::string p = nativePath(path);
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  struct stat st;
  // lstat: the folder itself, not what a link there points to.
  if (::lstat(p.c_str(), &st) != 0) {
    fail();
    return FolderTrust::Missing;
  }
  if (S_ISLNK(st.st_mode)) return FolderTrust::SymbolicLink;
  if (!S_ISDIR(st.st_mode)) return FolderTrust::NotAFolder;
  if (st.st_uid != ::geteuid()) return FolderTrust::OtherOwner;
  if (st.st_mode & (S_IWGRP | S_IWOTH)) return FolderTrust::OthersCanWrite;
  return FolderTrust::Private;
}

bool removeFolder(const std::wstring& path) { return ::rmdir(nativePath(path).c_str()) == 0 || fail(); }

bool listFolder(const std::wstring& path, std::vector<FolderEntry>* entries) {
  entries->clear();
  std::string native = nativePath(path);
  DIR* dir = ::opendir(native.c_str());
  if (!dir) return fail();
  while (struct dirent* e = ::readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    FolderEntry entry;
    entry.name = widePath(name);
    if (e->d_type == DT_DIR) {
      entry.isFolder = true;
    } else if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
      struct stat st;
      entry.isFolder = ::stat((native + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    entries->push_back(std::move(entry));
  }
  ::closedir(dir);
  return true;
}

bool fullPath(const std::wstring& path, std::wstring* full) {
  std::string p = nativePath(path);
  if (p.empty()) {
    setLastError(ENOENT);
    return false;
  }
  if (p[0] != '/') {
    std::wstring cwd;
    if (!currentFolder(&cwd)) return false;
    p = nativePath(cwd) + "/" + p;
  }
  // Fold "." and ".." textually, as GetFullPathName does; the path need not exist.
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= p.size()) {
    size_t j = p.find('/', i);
    if (j == std::string::npos) j = p.size();
    std::string part = p.substr(i, j - i);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = j + 1;
  }
  std::string out;
  for (const auto& part : parts) out += "/" + part;
  if (out.empty() || (p.size() > 1 && p.back() == '/')) out += "/";
  *full = widePath(out);
  return true;
}

bool currentFolder(std::wstring* folder) {
  char buf[PATH_MAX];
  if (!::getcwd(buf, sizeof buf)) return fail();
  *folder = widePath(buf);
  return true;
}

bool realPath(const std::wstring& path, std::wstring* real) {
  char* resolved = ::realpath(nativePath(path).c_str(), nullptr);
  if (!resolved) return fail();
  *real = widePath(resolved);
  std::free(resolved);
  return true;
}

bool executablePath(std::wstring* path) {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return fail();
  buf[n] = 0;
  *path = widePath(buf);
  return true;
}

namespace {
std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}
}  // namespace

bool tempPath(std::wstring* path) {
  std::string base = env("XDG_CACHE_HOME");
  if (base.empty() || base[0] != '/') {
    std::string home = env("HOME");
    if (home.empty()) {
      setLastError(ENOENT);
      return false;
    }
    base = home + "/.cache";
  }
  // Levels we create are private; an existing folder keeps its mode (it may
  // be shared on purpose). The folder the updater keeps below it is created
  // private and checked before use (folderTrust).
  if (!createPrivateFolders(widePath(base))) return false;
  *path = widePath(base + "/");
  return true;
}

std::wstring userDataFolder() {
  std::string base = env("XDG_DATA_HOME");
  if (!base.empty() && base[0] == '/' && createFolders(widePath(base))) return widePath(base);
  std::string home = env("HOME");
  if (home.empty()) return {};
  std::string share = home + "/.local/share";
  if (createFolders(widePath(share))) return widePath(share);
  return widePath(home);
}

}  // namespace nx::sys
