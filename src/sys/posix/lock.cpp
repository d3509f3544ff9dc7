#include "sys/lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "sys/errors.h"
#include "sys/posix/native_path.h"

namespace nx::sys {

Handle tryLockFile(const std::wstring& path) {
  // Non-blocking: a FIFO at the lock's name fails at once instead of hanging.
  int fd = ::open(posix::nativePath(path).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0600);
  if (fd < 0) {
    setLastError(static_cast<uint32_t>(errno));
    return invalidHandle;
  }
  // flock belongs to the open file: it ends with the process that holds it,
  // so a file left behind by a process that died is free again.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    uint32_t err = errno == EWOULDBLOCK ? sharingViolation : static_cast<uint32_t>(errno);
    ::close(fd);
    setLastError(err);
    return invalidHandle;
  }
  setLastError(0);
  return fd;
}

}  // namespace nx::sys
