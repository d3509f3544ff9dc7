#pragma once
// While a question waits, Ctrl-C answers it rather than ending the program:
// for the catcher's lifetime SIGINT only makes fd() readable. An ignored
// SIGINT stays ignored, and nothing is caught then.
#include <signal.h>

namespace nx::ui::terminal {

class InterruptCatcher {
 public:
  InterruptCatcher();
  ~InterruptCatcher();
  InterruptCatcher(const InterruptCatcher&) = delete;
  InterruptCatcher& operator=(const InterruptCatcher&) = delete;

  // Readable once Ctrl-C came; -1 when nothing is caught.
  int fd() const { return installed_ ? pipe_[0] : -1; }

 private:
  int pipe_[2] = {-1, -1};
  struct sigaction previous_ = {};
  bool installed_ = false;
};

}  // namespace nx::ui::terminal
