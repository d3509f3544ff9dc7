#pragma once
// The log of one run, kept in a file. Without append the last logs are
// kept as path + ".1" (the newest) to path + ".4" (the oldest goes) and the
// log starts empty; with append (a later stage of the same update) earlier
// lines stay and nothing is rotated. Every line also goes to the debug
// output. The logger never reports an error: when the file cannot be opened
// or written, lines reach only the debug output.
#include <cstdint>
#include <string>

#include "base/mini_log.h"
#include "sys/files.h"
#include "sys/owned_handle.h"

namespace nx {

class MiniLogFile : public MiniLog {
 public:
  static constexpr int kKeptLogs = 4;

  MiniLogFile(const std::wstring& path, bool append);
  // Logs to a file its owner opened for appending (one reached without
  // following links, say); takes the handle over. invalidHandle is allowed.
  explicit MiniLogFile(sys::Handle file);
  ~MiniLogFile() override;
  MiniLogFile(const MiniLogFile&) = delete;
  MiniLogFile& operator=(const MiniLogFile&) = delete;

  double elapsedSeconds() override;
  void writeLine(const std::string& line) override;

 private:
  // Starts the clock and writes the opening line.
  void open();

  sys::OwnedHandle file_;
  int64_t start_ = 0;
  double secondsPerTick_ = 0;
};

}  // namespace nx
