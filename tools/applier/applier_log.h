#pragma once
// The applier's log: lines appended to a file the write folder opened for
// it (see WriteFolder::openLog), so the file is never reached by a path the
// user could turn into a link. Like the updater's log, it starts with an
// opening line and never reports an error; without a file, lines reach only
// the debug output.
#include <cstdint>
#include <string>

#include "base/mini_log.h"
#include "sys/files.h"
#include "sys/owned_handle.h"

namespace nx::applier {

class ApplierLog : public MiniLog {
 public:
  // Takes over the handle (invalidHandle is allowed).
  explicit ApplierLog(sys::Handle file);
  ~ApplierLog() override;
  ApplierLog(const ApplierLog&) = delete;
  ApplierLog& operator=(const ApplierLog&) = delete;

  double elapsedSeconds() override;
  void writeLine(const std::string& line) override;

 private:
  sys::OwnedHandle file_;
  int64_t start_ = 0;
  double secondsPerTick_ = 0;
};

}  // namespace nx::applier
