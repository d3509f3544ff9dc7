#pragma once
// A log that keeps its finished lines in memory, for tests that check what
// was logged. Elapsed time is always zero so lines compare exactly.
#include <mutex>
#include <string>
#include <vector>

#include "app/mini_log.h"

namespace nx::test {

class MemoryLog : public MiniLog {
 public:
  double elapsedSeconds() override { return 0.0; }
  void writeLine(const std::string& line) override {
    std::lock_guard<std::mutex> guard(mutex_);
    lines_.push_back(line);
  }
  // A copy, so the worker thread may keep logging meanwhile.
  std::vector<std::string> lines() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return lines_;
  }
  // True when some line contains the text.
  bool contains(const std::string& text) const {
    std::lock_guard<std::mutex> guard(mutex_);
    for (const auto& line : lines_)
      if (line.find(text) != std::string::npos) return true;
    return false;
  }
  void clear() {
    std::lock_guard<std::mutex> guard(mutex_);
    lines_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace nx::test
