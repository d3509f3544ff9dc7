#include "ui/terminal_interrupt_catcher.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>

namespace nx::ui::terminal {

namespace {

std::atomic<int> g_interruptPipe{-1};

void noteInterrupt(int) {
  int savedErrno = errno;
  int fd = g_interruptPipe.load();
  char byte = 0;
  if (fd >= 0 && ::write(fd, &byte, 1) < 0) {
    // a full pipe already holds the news
  }
  errno = savedErrno;
}

}  // namespace

InterruptCatcher::InterruptCatcher() {
  struct sigaction current;
  if (::sigaction(SIGINT, nullptr, &current) != 0) return;
  if (!(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_IGN) return;
  if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
    pipe_[0] = pipe_[1] = -1;
    return;
  }
  g_interruptPipe = pipe_[1];
  struct sigaction ours = {};
  ours.sa_handler = noteInterrupt;
  sigemptyset(&ours.sa_mask);
  ours.sa_flags = SA_RESTART;
  installed_ = ::sigaction(SIGINT, &ours, &previous_) == 0;
}

InterruptCatcher::~InterruptCatcher() {
  if (installed_) ::sigaction(SIGINT, &previous_, nullptr);
  g_interruptPipe = -1;
  for (int fd : pipe_)
    if (fd >= 0) ::close(fd);
}

}  // namespace nx::ui::terminal
