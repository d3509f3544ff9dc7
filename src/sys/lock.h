#pragma once
// Exclusive lock files: one attempt to take one. The lock is held as long as
// the handle is open (normally until the process ends); a lock file left by a
// process that died is free to take.
#include <string>

#include "sys/files.h"

namespace nx::sys {

// Returns the handle that holds the lock, or invalidHandle with lastError()
// set (sharingViolation when another process holds it).
Handle tryLockFile(const std::wstring& path);

}  // namespace nx::sys
