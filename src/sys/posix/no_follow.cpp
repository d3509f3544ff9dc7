#include "sys/no_follow.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

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

Handle openFolderNoLink(const std::wstring& path) {
  std::string p = posix::nativePath(path);
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  int f = ::open(p.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (f < 0) {
    struct stat st;
    uint32_t code = static_cast<uint32_t>(errno);
    if (::lstat(p.c_str(), &st) == 0)
      code = S_ISLNK(st.st_mode) ? linkRefused : S_ISDIR(st.st_mode) ? code : notAFolder;
    return failHandle(code);
  }
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

namespace {

void describe(const struct stat& st, EntryInfo* info) {
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
  info->mode = st.st_mode & 07777;
  info->owner = st.st_uid;
  info->group = st.st_gid;
  info->links = static_cast<uint32_t>(st.st_nlink);
}

}  // namespace

bool handleEntryInfo(Handle handle, EntryInfo* info) {
  *info = EntryInfo{};
  struct stat st;
  if (::fstat(fd(handle), &st) != 0) return fail();
  describe(st, info);
  setLastError(0);
  return true;
}

Handle openAppendAt(Handle folder, const std::wstring& name, uint32_t mode, bool* created) {
  std::string n = posix::narrow(name);
  *created = false;
  if (!validName(n)) return invalidHandle;
  int f = ::openat(fd(folder), n.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (f >= 0) {
    *created = true;
    if (::fchmod(f, mode) != 0) {
      uint32_t code = static_cast<uint32_t>(errno);
      ::close(f);
      return failHandle(code);
    }
    setLastError(0);
    return f;
  }
  if (errno != EEXIST) return failHandle(static_cast<uint32_t>(errno));
  f = ::openat(fd(folder), n.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (f < 0) return failHandle(errno == ELOOP ? linkRefused : static_cast<uint32_t>(errno));
  struct stat st;
  // A second hard link could be another file of the system under this name.
  if (::fstat(f, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) {
    ::close(f);
    return failHandle(EINVAL);
  }
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
  describe(st, info);
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

Handle lockFileAt(Handle folder, const std::wstring& name, bool* created) {
  std::string n = posix::narrow(name);
  *created = false;
  if (!validName(n)) return invalidHandle;
  int f = ::openat(fd(folder), n.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (f >= 0) {
    *created = true;
  } else if (errno == EEXIST) {
    f = ::openat(fd(folder), n.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  }
  if (f < 0) return failHandle(errno == ELOOP ? linkRefused : static_cast<uint32_t>(errno));
  struct stat st;
  if (::fstat(f, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(f);
    return failHandle(EINVAL);
  }
  if (::flock(f, LOCK_EX | LOCK_NB) != 0) {
    uint32_t code = errno == EWOULDBLOCK ? sharingViolation : static_cast<uint32_t>(errno);
    ::close(f);
    return failHandle(code);
  }
  setLastError(0);
  return f;
}

bool listEntries(Handle folder, std::vector<std::wstring>* names) {
  names->clear();
  int copy = ::openat(fd(folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (copy < 0) return fail();
  DIR* dir = ::fdopendir(copy);
  if (!dir) {
    ::close(copy);
    return fail();
  }
  while (struct dirent* e = ::readdir(dir)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names->push_back(posix::widePath(name));
  }
  ::closedir(dir);
  setLastError(0);
  return true;
}

bool renameBetween(Handle from, const std::wstring& fromName, Handle to, const std::wstring& toName) {
  std::string a = posix::narrow(fromName), b = posix::narrow(toName);
  if (!validName(a) || !validName(b)) return false;
  return ::renameat(fd(from), a.c_str(), fd(to), b.c_str()) == 0 || fail();
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

bool createSubfolder(Handle folder, const std::wstring& name, uint32_t mode) {
  std::string n = posix::narrow(name);
  if (!validName(n)) return false;
  if (mode == 0) mode = 0755;
  if (::mkdirat(fd(folder), n.c_str(), static_cast<mode_t>(mode & 0777)) != 0) return fail();
  // The umask took bits away; the folder is new, nobody else had a moment to
  // put a link in its place that we would not notice here.
  int f = ::openat(fd(folder), n.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (f < 0) return fail();
  bool ok = ::fchmod(f, static_cast<mode_t>(mode)) == 0 || fail();
  ::close(f);
  return ok;
}

bool removeSubfolder(Handle folder, const std::wstring& name) {
  std::string n = posix::narrow(name);
  if (!validName(n)) return false;
  return ::unlinkat(fd(folder), n.c_str(), AT_REMOVEDIR) == 0 || fail();
}

bool setOwner(Handle handle, uint32_t owner, uint32_t group) {
  return ::fchown(fd(handle), static_cast<uid_t>(owner), static_cast<gid_t>(group)) == 0 || fail();
}

bool setMode(Handle handle, uint32_t mode) { return ::fchmod(fd(handle), static_cast<mode_t>(mode)) == 0 || fail(); }

std::wstring handlePath(Handle handle, const std::wstring& name) {
  // Appended piece by piece: GCC 12 at -O3 reports a false overlap in
  // operator+ on a temporary string.
  std::string path = "/proc/self/fd/";
  path += std::to_string(fd(handle));
  if (!name.empty()) {
    path += '/';
    path += posix::narrow(name);
  }
  return posix::widePath(path);
}

namespace {

bool userNumber(const char* variable, uint32_t* user) {
  const char* text = std::getenv(variable);
  if (!text || !*text || std::string(text).size() > 9 ||
      std::string(text).find_first_not_of("0123456789") != std::string::npos)
    return false;
  *user = static_cast<uint32_t>(std::strtoul(text, nullptr, 10));
  return true;
}

}  // namespace

uint32_t invokingUser() {
  uint32_t user = static_cast<uint32_t>(::getuid());
  // Only a process with administrator rights asks the helper's variables;
  // anyone else is who the system says.
  if (::geteuid() != 0) return user;
  if (userNumber("PKEXEC_UID", &user) || userNumber("SUDO_UID", &user)) return user;
  return static_cast<uint32_t>(::getuid());
}

uint32_t effectiveUser() { return static_cast<uint32_t>(::geteuid()); }

bool elevatedForOtherUser() { return effectiveUser() != invokingUser(); }

bool syncFileSystem(Handle anyHandleOnIt) { return ::syncfs(fd(anyHandleOnIt)) == 0 || fail(); }

}  // namespace nx::sys
