#pragma once
// Keys from a terminal in the dialog's mode. The sequences of other keys
// (arrows, function keys, Alt combinations) are skipped whole, so their ESC
// byte is not taken for Escape.
#include <cstddef>
#include <string>

namespace nx::ui::terminal {

enum class Key { None, Enter, Escape, Interrupt };

class KeyReader {
 public:
  explicit KeyReader(int fd) : fd_(fd) {}

  // The next key of interest, waiting at most timeoutMs; None when the time
  // ran out first (or a signal came). Without watch it only waits.
  Key next(int timeoutMs, bool watch);

 private:
  // Reads what is there within timeoutMs; false when nothing came.
  bool fill(int timeoutMs);
  // Length of the escape sequence at the start of pending_ (ESC and more).
  size_t sequenceLength() const;

  int fd_;
  std::string pending_;
  bool closed_ = false;
};

}  // namespace nx::ui::terminal
