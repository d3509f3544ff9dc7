#pragma once
// A started hand-over must complete. From the moment a process starts the
// next stage of an update until that update's applier has ended, the
// staging folder holds a marker file; the stage that carries the update
// holds a lock on it for its life. The objects and applier files in the
// staging folder belong to that update then: a new updater that took the
// instance lock in between (the applier has not taken it yet) gives the lock
// back and waits, so it neither prunes those objects nor overwrites the
// applier, and afterwards it finds the installation the update left.
//
// A marker without a holder is fresh only for kStartSeconds (the next stage
// is on its way); an older one was left by a stage that died and is ignored.
#include <cstdint>
#include <string>

#include "base/mini_log.h"
#include "sys/files.h"
#include "sys/owned_handle.h"

namespace nx {

class PendingHandOver {
 public:
  static constexpr uint64_t kStartSeconds = 30;
  static std::wstring markerPath(const std::wstring& stagingFolder);

  // Written by the process that starts the next stage, just before it does.
  // False (with the system's error) when the marker cannot be written.
  static bool mark(const std::wstring& stagingFolder);

  // A stage takes the pending hand-over over: the lock says it is alive.
  explicit PendingHandOver(const std::wstring& stagingFolder);
  // Ends it as finish() does.
  ~PendingHandOver();
  PendingHandOver(const PendingHandOver&) = delete;
  PendingHandOver& operator=(const PendingHandOver&) = delete;
  // The update's applier has ended: the marker goes and the lock with it.
  void finish();
  // The next stage was started: the marker stays for it, the lock goes.
  void release();

  // Called with the instance lock (lockPath) held in instanceLock. While a
  // hand-over is pending, the instance lock is given back, the hand-over
  // waited for (under the lock-wait dialog, attempts of periodMs each), and
  // the instance lock taken again. Returns 0 with the lock held, or the
  // failure of acquireLockFile (sys::cancelled when the user stopped the
  // wait) with the lock released.
  static uint32_t awaitOthers(const std::wstring& lockPath, const std::wstring& stagingFolder,
                              sys::OwnedHandle& instanceLock, uint32_t attempts, uint32_t periodMs, MiniLog& log);

 private:
  std::wstring path_;
  sys::OwnedHandle lock_;
};

}  // namespace nx
