#include "applier/test_hook.h"

#include <cstdlib>
#include <string>

#include "applier/applier_error.h"
#include "io/io_error.h"
#include "sys/clock.h"
#include "sys/process.h"

namespace nx::applier {

namespace {

uint32_t number(const std::string& text, uint32_t fallback) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return fallback;
  return static_cast<uint32_t>(std::stoul(text));
}

}  // namespace

TestHook::TestHook(bool honoured) {
  if (!honoured) return;
  std::string hook = sys::environment("NX_APPLIER_TEST_HOOK");
  size_t colon = hook.find(':');
  if (colon != std::string::npos) {
    std::string mode = hook.substr(0, colon);
    at_ = number(hook.substr(colon + 1), 0);
    if (at_ > 0 && mode == "crash") mode_ = Mode::crash;
    if (at_ > 0 && mode == "fail") mode_ = Mode::fail;
    if (at_ > 0 && at_ <= 10000 && mode == "slow") mode_ = Mode::slow;
  }
  uint32_t seconds = number(sys::environment("NX_APPLIER_TEST_LOCK_SECONDS"), 60);
  if (seconds >= 1 && seconds <= 60) lockSeconds_ = seconds;
}

void TestHook::step(const char* what) {
  uint32_t step = ++count_;
  if (mode_ == Mode::slow) sys::sleepMs(at_);
  if (mode_ == Mode::none || mode_ == Mode::slow || step != at_) return;
  if (mode_ == Mode::crash) std::_Exit(kTestHookExit);
  throw IOError(std::string("test hook: step ") + std::to_string(step) + " (" + what + ") failed", IOError::kNoCode);
}

}  // namespace nx::applier
