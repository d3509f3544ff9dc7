#pragma once
// A log that keeps its finished lines in memory, for tests that check what
// was logged. Elapsed time stands at zero so lines compare exactly.
#include <algorithm>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "base/mini_log.h"

namespace nx::test {

class MemoryLog : public MiniLog {
 public:
  double elapsedSeconds() override { return 0; }
  // Runs on every finished line, on the thread that logs it, so a test can
  // act at a precise point of a run.
  std::function<void(const std::string& line)> hook;
  void writeLine(const std::string& line) override {
    {
      std::lock_guard<std::mutex> g(mutex_);
      lines_.push_back(line);
    }
    if (hook) hook(line);
  }
  // A copy, so the worker thread may keep logging meanwhile.
  std::vector<std::string> lines() const {
    std::lock_guard<std::mutex> g(mutex_);
    return lines_;
  }
  // True when some line contains the text.
  bool contains(const std::string& text) const {
    auto all = lines();
    return std::any_of(all.begin(), all.end(), [&](const auto& l) { return l.find(text) != std::string::npos; });
  }
  void clear() {
    std::lock_guard<std::mutex> g(mutex_);
    lines_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

// Text as a log line shows it, its line breaks escaped (a Windows system
// error text ends with one).
inline std::string logged(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : std::string(1, c);
  return out;
}

}  // namespace nx::test
