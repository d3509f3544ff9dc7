#include "ui/terminal_key_reader.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

namespace nx::ui::terminal {

namespace {

// How long a lone ESC byte waits for the rest of a key's sequence.
constexpr int kEscapeWaitMs = 30;

}  // namespace

Key KeyReader::next(int timeoutMs, bool watch) {
  if (!watch || closed_) {
    ::poll(nullptr, 0, timeoutMs);
    return Key::None;
  }
  if (pending_.empty() && !fill(timeoutMs)) return Key::None;
  while (!pending_.empty()) {
    auto c = static_cast<unsigned char>(pending_[0]);
    if (c == 0x1B) {
      if (pending_.size() == 1 && !fill(kEscapeWaitMs)) {
        pending_.clear();
        return Key::Escape;
      }
      if (pending_[1] == '\x1b') {  // Escape pressed twice
        pending_.erase(0, 1);
        return Key::Escape;
      }
      pending_.erase(0, sequenceLength());
      continue;
    }
    pending_.erase(0, 1);
    if (c == 0x03) return Key::Interrupt;
    if (c == '\r' || c == '\n') return Key::Enter;
  }
  return Key::None;
}

bool KeyReader::fill(int timeoutMs) {
  struct pollfd p = {fd_, POLLIN, 0};
  int ready = ::poll(&p, 1, timeoutMs);
  if (ready <= 0) return false;
  if (!(p.revents & POLLIN)) {
    closed_ = true;  // hung up: no more keys will come
    return false;
  }
  char buffer[64];
  ssize_t n = ::read(fd_, buffer, sizeof buffer);
  if (n <= 0) {
    if (n == 0 || (errno != EINTR && errno != EAGAIN)) closed_ = true;
    return false;
  }
  pending_.append(buffer, static_cast<size_t>(n));
  return true;
}

size_t KeyReader::sequenceLength() const {
  size_t i = 1;
  if (i >= pending_.size()) return i;
  char kind = pending_[i++];
  if (kind == '[') {  // CSI: parameters and intermediates, then one final byte
    while (i < pending_.size() && pending_[i] >= 0x20 && pending_[i] <= 0x3F) ++i;
    if (i < pending_.size() && pending_[i] >= 0x40 && pending_[i] <= 0x7E) ++i;
  } else if (kind == 'O' && i < pending_.size()) {  // SS3 and one byte
    ++i;
  }
  return i;  // otherwise ESC and one key: an Alt combination
}

}  // namespace nx::ui::terminal
