#pragma once
// Lock files keep two updaters out of each other's way. A lock is held as
// long as its handle is open; callers keep it until the process ends.
#include <cstdint>
#include <string>

#include "sys/files.h"
#include "sys/owned_handle.h"

namespace nx {

// Takes the lock file at path, storing the handle (invalid unless taken).
// A busy lock is tried again every periodMs under a wait dialog with Cancel,
// attempts times in all (the first two at once); any other failure (a lock
// file the user may not open) ends at once with its own error number. Returns 0 when the lock was
// taken, sys::cancelled when the user cancelled the wait, else the error
// number of the last attempt (sys::sharingViolation for a busy lock).
uint32_t acquireLockFile(const std::wstring& path, sys::Handle& handle, uint32_t attempts, uint32_t periodMs);
// The same, into an owner that closes the lock (and so frees it) when it goes.
uint32_t acquireLockFile(const std::wstring& path, sys::OwnedHandle& lock, uint32_t attempts, uint32_t periodMs);

}  // namespace nx
