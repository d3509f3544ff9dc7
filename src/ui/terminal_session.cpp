#include "ui/terminal_session.h"

#include <errno.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <iterator>

#include "ui/terminal_drawing.h"

namespace nx::ui::terminal {

namespace {

// What the signal handlers need. One dialog runs at a time, on the main
// thread; the handlers may run on any thread, so they touch only these.
constexpr int kEndingSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};
constexpr size_t kSignalCount = std::size(kEndingSignals);
struct termios g_savedMode;                 // written before g_modeFd is set
std::atomic<int> g_modeFd{-1};              // terminal whose mode the dialog changed
std::atomic<int> g_drawFd{-1};              // where the dialog draws
std::atomic<int> g_leftBySignal{0};         // a handler restored the terminal
struct sigaction g_previous[kSignalCount];  // written before the handler is installed
std::atomic<bool> g_installed[kSignalCount];

void restoreOnSignal(int sig) {
  int savedErrno = errno;
  int modeFd = g_modeFd.load();
  if (modeFd >= 0) ::tcsetattr(modeFd, TCSANOW, &g_savedMode);
  int drawFd = g_drawFd.load();
  if (drawFd >= 0) writeAll(drawFd, kLeaveLine, sizeof kLeaveLine - 1);
  for (size_t i = 0; i < kSignalCount; ++i) {
    if (kEndingSignals[i] != sig) continue;
    ::sigaction(sig, &g_previous[i], nullptr);
    g_installed[i] = false;
  }
  g_leftBySignal = 1;
  // Delivered with the previous action (normally: the end of the process)
  // once this handler returns.
  ::raise(sig);
  errno = savedErrno;
}

void installSignalHandlers() {
  struct sigaction ours = {};
  ours.sa_handler = restoreOnSignal;
  sigemptyset(&ours.sa_mask);
  for (int sig : kEndingSignals) sigaddset(&ours.sa_mask, sig);
  ours.sa_flags = SA_RESTART;
  for (size_t i = 0; i < kSignalCount; ++i) {
    if (g_installed[i]) continue;
    struct sigaction current;
    if (::sigaction(kEndingSignals[i], nullptr, &current) != 0) continue;
    // An ignored signal stays ignored (nohup, background jobs).
    if (!(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_IGN) continue;
    g_previous[i] = current;
    if (::sigaction(kEndingSignals[i], &ours, nullptr) == 0) g_installed[i] = true;
  }
}

void removeSignalHandlers() {
  for (size_t i = 0; i < kSignalCount; ++i)
    if (g_installed[i].exchange(false)) ::sigaction(kEndingSignals[i], &g_previous[i], nullptr);
}

}  // namespace

void TerminalSession::enter() {
  if (entered_) return;
  entered_ = true;
  // Handlers first: from here on a signal puts the terminal back.
  g_drawFd = out_;
  installSignalHandlers();
  keys_ = false;
  struct termios mode;
  // Only the foreground may change the mode: a background process would
  // be stopped for trying.
  if (::tcgetpgrp(in_) == ::getpgrp() && ::tcgetattr(in_, &mode) == 0) {
    g_savedMode = mode;
    g_modeFd = in_;
    mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    mode.c_iflag &= ~static_cast<tcflag_t>(IXON);  // Ctrl-S must not freeze the drawing
    mode.c_cc[VMIN] = 1;
    mode.c_cc[VTIME] = 0;
    // TCSAFLUSH drops keys typed before the dialog showed.
    if (::tcsetattr(in_, TCSAFLUSH, &mode) == 0)
      keys_ = true;
    else
      g_modeFd = -1;
  }
  writeAll(out_, kHideCursor);
}

void TerminalSession::leave() {
  if (!entered_) return;
  entered_ = false;
  int modeFd = g_modeFd.load();
  if (modeFd >= 0) ::tcsetattr(modeFd, TCSANOW, &g_savedMode);
  writeAll(out_, kLeaveLine);
  removeSignalHandlers();
  g_modeFd = -1;
  g_drawFd = -1;
  keys_ = false;
}

bool TerminalSession::leftBySignal() { return g_leftBySignal.exchange(0) != 0; }

void TerminalSession::interruptAsTheTerminalWould() {
  leave();
  ::raise(SIGINT);
  enter();
}

}  // namespace nx::ui::terminal
