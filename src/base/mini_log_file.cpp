#include "base/mini_log_file.h"

#include "sys/clock.h"
#include "sys/debug.h"

namespace nx {

MiniLogFile::MiniLogFile(const std::wstring& path, bool append) {
  if (!append && sys::exists(path)) {
    // The last kKeptLogs logs stay as path.1 (the newest) to path.N. A
    // failed rotation leaves the old file, which the open below empties.
    auto kept = [&path](int n) { return path + L"." + std::to_wstring(n); };
    if (sys::exists(kept(kKeptLogs))) sys::deleteFile(kept(kKeptLogs));
    for (int n = kKeptLogs - 1; n >= 1; --n)
      if (sys::exists(kept(n))) sys::moveFile(kept(n), kept(n + 1));
    sys::moveFile(path, kept(1));
  }
  // Every write goes to the end of the file, not to a position taken at
  // open: the process that hands over may still be writing its last lines
  // while the next one (a stage, the applier) appends its first ones.
  file_.reset(sys::openAppend(path));
  if (!append && file_.valid()) sys::truncateHere(file_.get());
  open();
}

MiniLogFile::MiniLogFile(sys::Handle file) : file_(file) { open(); }

void MiniLogFile::open() {
  secondsPerTick_ = sys::secondsPerTick();
  start_ = sys::clockTicks();
  sys::UtcTime now;
  if (!sys::utcNow(&now)) now = sys::UtcTime{};
  log(INFO, "=== MiniLog opened UTC %04d-%02d-%02d %02d:%02d:%02d", now.year, now.month, now.day, now.hour, now.minute,
      now.second);
}

MiniLogFile::~MiniLogFile() { log(INFO, "=== MiniLog closed."); }

double MiniLogFile::elapsedSeconds() { return static_cast<double>(sys::clockTicks() - start_) * secondsPerTick_; }

void MiniLogFile::writeLine(const std::string& line) {
  if (file_.valid()) {
    size_t written = 0;
    sys::write(file_.get(), line.data(), line.size(), &written);
  }
  sys::debugOutput(line);
}

}  // namespace nx
