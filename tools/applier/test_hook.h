#pragma once
// Test hook: makes the applier stop at a chosen point, so tests can check
// what a crash or a failure there leaves behind. Every change the applier
// makes to the disk (the journal, each staged file, each rename, each
// deletion...) is one step, counted from 1 across the whole run. The
// environment variable NX_APPLIER_TEST_HOOK selects:
//   crash:N   the process ends at once (std::_Exit, exit code 86) right after step N,
//             like a kill: no destructors, no clean-up;
//   fail:N    step N is reported as failed (an I/O error) right after it was done;
//   slow:MS   every step takes MS milliseconds longer (another updater can
//             then be started while this one runs).
// NX_APPLIER_TEST_LOCK_SECONDS=N shortens the wait for the lock to N
// seconds (1 to 60). Never set in normal use, and ignored in a run with more
// rights than the user it works for: an elevation helper that keeps the
// environment must not let the user crash or slow the elevated applier.
#include <atomic>
#include <cstdint>
#include <string>

namespace nx::applier {

class TestHook {
 public:
  // Reads the environment variables, when `honoured`.
  explicit TestHook(bool honoured);
  // Counts one step; ends the process or throws as the hook asks. Safe to
  // call from several threads.
  void step(const char* what);
  uint32_t lockSeconds() const { return lockSeconds_; }

 private:
  enum class Mode { none, crash, fail, slow } mode_ = Mode::none;
  uint32_t at_ = 0;
  std::atomic<uint32_t> count_{0};
  uint32_t lockSeconds_ = 60;
};

}  // namespace nx::applier
