#include "apply/pending_hand_over.h"

#include <utility>

#include "base/paths.h"
#include "base/text.h"
#include "sys/clock.h"
#include "sys/errors.h"
#include "sys/lock.h"
#include "ui/lock_wait.h"

namespace nx {

namespace {

constexpr uint32_t kStartPollMs = 100;
constexpr uint32_t kTakeOverMs = 5000;

enum class State { none, alive, starting };

const char kMarkText[] = "hand-over pending\n";

// Looked at only with the instance lock held, so no process marks a new
// hand-over meanwhile; a stage may take the marker over or end at any time.
State stateOf(const std::wstring& path) {
  sys::FileInfo info;
  if (!sys::fileInfo(path, &info)) return State::none;
  if (!sys::OwnedHandle(sys::tryLockFile(path)).valid()) return State::alive;
  // Empty: made by this probe or by a stage's lock after its marker had
  // gone, so nothing is pending.
  sys::FileInfo now;
  if (!sys::fileInfo(path, &now) || now.size == 0) {
    sys::deleteFile(path);
    return State::none;
  }
  const uint64_t clock = sys::fileTimeNow();
  if (now.writeTime <= clock && clock - now.writeTime < PendingHandOver::kStartSeconds * 10'000'000)
    return State::starting;
  return State::none;  // left by a stage that died
}

}  // namespace

std::wstring PendingHandOver::markerPath(const std::wstring& stagingFolder) {
  return joinPath(stagingFolder, L"_hand_over_pending");
}

bool PendingHandOver::mark(const std::wstring& stagingFolder) {
  const sys::OwnedHandle h(sys::createWrite(markerPath(stagingFolder)));
  if (!h.valid()) return false;
  size_t written = 0;
  return sys::write(h.get(), kMarkText, sizeof kMarkText - 1, &written) && written == sizeof kMarkText - 1;
}

PendingHandOver::PendingHandOver(const std::wstring& stagingFolder) : path_(markerPath(stagingFolder)) {
  // The stage that started this one lets go of the marker only once it has
  // started us.
  lock_.reset(sys::tryLockFile(path_));
  for (uint32_t waited = 0; !lock_.valid() && waited < kTakeOverMs; waited += kStartPollMs) {
    sys::sleepMs(kStartPollMs);
    lock_.reset(sys::tryLockFile(path_));
  }
}

PendingHandOver::~PendingHandOver() { finish(); }

void PendingHandOver::finish() {
  if (!lock_.valid()) return;
  sys::deleteFile(path_);
  lock_.reset();
}

void PendingHandOver::release() { lock_.reset(); }

uint32_t PendingHandOver::awaitOthers(const std::wstring& lockPath, const std::wstring& stagingFolder,
                                      sys::OwnedHandle& instanceLock, uint32_t attempts, uint32_t periodMs,
                                      MiniLog& log) {
  const std::wstring path = markerPath(stagingFolder);
  bool logged = false;
  for (State state = stateOf(path); state != State::none; state = stateOf(path)) {
    if (!std::exchange(logged, true)) log.log(MiniLog::INFO, "Waiting for the update that is being applied...");
    instanceLock.reset();
    if (state == State::starting) {
      // Its stage is about to start and take the marker over.
      sys::sleepMs(kStartPollMs);
    } else {
      // Taken only to see the stage end; let go at once.
      sys::OwnedHandle marker;
      if (const uint32_t verdict = acquireLockFile(path, marker, attempts, periodMs); verdict != 0) return verdict;
    }
    if (const uint32_t verdict = acquireLockFile(lockPath, instanceLock, attempts, periodMs); verdict != 0)
      return verdict;
  }
  return 0;
}

}  // namespace nx
