#include "applier/applier_log.h"

#include "sys/clock.h"
#include "sys/debug.h"

namespace nx::applier {

ApplierLog::ApplierLog(sys::Handle file) : file_(file) {
  secondsPerTick_ = sys::secondsPerTick();
  start_ = sys::clockTicks();
  sys::UtcTime now;
  if (!sys::utcNow(&now)) now = sys::UtcTime{};
  log(INFO, "=== MiniLog opened UTC %04d-%02d-%02d %02d:%02d:%02d", now.year, now.month, now.day, now.hour, now.minute,
      now.second);
}

ApplierLog::~ApplierLog() { log(INFO, "=== MiniLog closed."); }

double ApplierLog::elapsedSeconds() { return static_cast<double>(sys::clockTicks() - start_) * secondsPerTick_; }

void ApplierLog::writeLine(const std::string& line) {
  if (file_.valid()) {
    size_t written = 0;
    sys::write(file_.get(), line.data(), line.size(), &written);
  }
  sys::debugOutput(line);
}

}  // namespace nx::applier
