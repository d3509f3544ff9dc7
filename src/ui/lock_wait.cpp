#include "ui/lock_wait.h"

#include "sys/errors.h"
#include "sys/lock.h"
#include "ui/progress_dialog.h"

namespace nx {

namespace {

uint32_t tryOnce(const std::wstring& path, sys::Handle& handle) {
  handle = sys::tryLockFile(path);
  if (handle != sys::invalidHandle) return 0;
  // A failed attempt never reads as success.
  uint32_t error = sys::lastError();
  return error ? error : sys::sharingViolation;
}

}  // namespace

uint32_t acquireLockFile(const std::wstring& path, sys::Handle& handle, uint32_t attempts, uint32_t periodMs) {
  uint32_t verdict = tryOnce(path, handle);
  if (verdict != sys::sharingViolation || attempts < 2) return verdict;
  --attempts;
  ui::ProgressStep step = [&](float& progress, std::wstring& text) {
    progress = -1;
    text = L"Waiting for DB lock...";
    if (attempts == 0) return false;
    --attempts;
    verdict = tryOnce(path, handle);
    // Only another updater is worth waiting for; any other cause (a lock file
    // the user may not open) stays, and is reported at once.
    return verdict == sys::sharingViolation;
  };
  if (ui::runProgressDialog(step, true, periodMs) == ui::DialogResult::Cancelled) return sys::cancelled;
  return verdict;
}

uint32_t acquireLockFile(const std::wstring& path, sys::OwnedHandle& lock, uint32_t attempts, uint32_t periodMs) {
  sys::Handle handle = sys::invalidHandle;
  const uint32_t verdict = acquireLockFile(path, handle, attempts, periodMs);
  lock.reset(handle);
  return verdict;
}

}  // namespace nx
