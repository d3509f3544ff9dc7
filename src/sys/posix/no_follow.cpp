#include "sys/no_follow.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "sys/errors.h"
#include "sys/posix/file_time.h"
#include "sys/posix/native_path.h"

namespace nx::sys {

using posix::toFileTime;

const uint32_t linkRefused = ELOOP;
const uint32_t notAFolder = ENOTDIR;

namespace {

bool fail() {
  setLastError(static_cast<uint32_t>(errno));
  return false;
}

Handle failHandle(uint32_t code) {
  setLastError(code);
  return invalidHandle;
}

int fd(Handle h) { return static_cast<int>(h); }

// Names are single components: a separator in one is refused, never split.
bool validName(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
    setLastError(EINVAL);
    return false;
  }
  return true;
}

// Why a no-follow open failed: a link or a non-folder says so, anything
// else keeps errno.
uint32_t classify(int folder, const std::string& name, int openErrno) {
  struct stat st;
  if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(st.st_mode)) return linkRefused;
    if (!S_ISDIR(st.st_mode)) return notAFolder;
  }
  return static_cast<uint32_t>(openErrno);
}

}  // namespace

Handle openFolder(const std::wstring& path) {
  int f = ::open(posix::nativePath(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (f < 0) return failHandle(static_cast<uint32_t>(errno));
  setLastError(0);
  return f;
}

Handle openSubfolder(Handle folder, const std::wstring& name) {
  std::string n = posix::narrow(name);
  if (!validName(n)) return invalidHandle;
  int f = ::openat(fd(folder), n.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (f < 0) return failHandle(classify(fd(folder), n, errno));
  setLastError(0);
  return f;
}

bool entryInfo(Handle folder, const std::wstring& name, EntryInfo* info) {
  *info = EntryInfo{};
  std::string n = posix::narrow(name);
  if (!validName(n)) return false;
  struct stat st;
  if (::fstatat(fd(folder), n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) {
      setLastError(0);
      return true;
    }
    return fail();
  }
  if (S_ISREG(st.st_mode)) {
    info->type = EntryType::file;
    info->size = static_cast<uint64_t>(st.st_size);
  } else if (S_ISDIR(st.st_mode)) {
    info->type = EntryType::folder;
  } else if (S_ISLNK(st.st_mode)) {
    info->type = EntryType::link;
  } else {
    info->type = EntryType::other;
  }
  info->writeTime = toFileTime(st.st_mtim);
  info->executable = (st.st_mode & S_IXUSR) != 0;
  setLastError(0);
  return true;
}

Handle openFileAt(Handle folder, const std::wstring& name) {
  std::string n = posix::narrow(name);
  if (!validName(n)) return invalidHandle;
  // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below.
  int f = ::openat(fd(folder), n.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (f < 0) return failHandle(errno == ELOOP ? linkRefused : static_cast<uint32_t>(errno));
  struct stat st;
  if (::fstat(f, &st) != 0) {
    uint32_t code = static_cast<uint32_t>(errno);
    ::close(f);
    return failHandle(code);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(f);
    return failHandle(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
  }
  // O_NONBLOCK stays: it changes nothing for a regular file.
  setLastError(0);
  return f;
}

Handle createFileAt(Handle folder, const std::wstring& name, bool executable) {
  std::string n = posix::narrow(name);
  if (!validName(n)) return invalidHandle;
  mode_t mode = executable ? 0755 : 0644;
  int f = ::openat(fd(folder), n.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (f < 0) return failHandle(static_cast<uint32_t>(errno));
  // The process's umask must not decide what the installation gets.
  if (::fchmod(f, mode) != 0) {
    uint32_t code = static_cast<uint32_t>(errno);
    ::close(f);
    ::unlinkat(fd(folder), n.c_str(), 0);
    return failHandle(code);
  }
  setLastError(0);
  return f;
}

bool handleInfo(Handle file, uint64_t* size, uint64_t* writeTime) {
  struct stat st;
  if (::fstat(fd(file), &st) != 0) return fail();
  *size = static_cast<uint64_t>(st.st_size);
  *writeTime = toFileTime(st.st_mtim);
  return true;
}

bool renameAt(Handle folder, const std::wstring& from, const std::wstring& to) {
  std::string a = posix::narrow(from), b = posix::narrow(to);
  if (!validName(a) || !validName(b)) return false;
  return ::renameat(fd(folder), a.c_str(), fd(folder), b.c_str()) == 0 || fail();
}

bool deleteAt(Handle folder, const std::wstring& name) {
  std::string n = posix::narrow(name);
  if (!validName(n)) return false;
  return ::unlinkat(fd(folder), n.c_str(), 0) == 0 || fail();
}

bool createSubfolder(Handle folder, const std::wstring& name) {
  std::string n = posix::narrow(name);
  if (!validName(n)) return false;
  return ::mkdirat(fd(folder), n.c_str(), 0755) == 0 || fail();
}

bool removeSubfolder(Handle folder, const std::wstring& name) {
  std::string n = posix::narrow(name);
  if (!validName(n)) return false;
  return ::unlinkat(fd(folder), n.c_str(), AT_REMOVEDIR) == 0 || fail();
}

bool syncFileSystem(Handle anyHandleOnIt) { return ::syncfs(fd(anyHandleOnIt)) == 0 || fail(); }

}  // namespace nx::sys
