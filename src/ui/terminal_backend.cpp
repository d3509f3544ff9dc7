#include "ui/terminal_backend.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iterator>

#include "base/text.h"
#include "sys/process.h"
#include "ui/plain_backend.h"
#include "ui/status_line.h"

namespace nx::ui {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kRedrawInterval{100};
// A second Ctrl-C within this time interrupts a dialog that cannot be cancelled.
constexpr milliseconds kInterruptWindow{2000};
// How long a lone ESC byte waits for the rest of a key's sequence.
constexpr int kEscapeWaitMs = 30;
constexpr int kDefaultColumns = 80;
// Longest answer line kept; a longer one is no valid answer anyway.
constexpr size_t kMaxAnswer = 256;

constexpr char kHideCursor[] = "\x1b[?25l";
constexpr char kEraseLine[] = "\x1b[K";
// Erases the dialog's line and shows the cursor again at its start.
constexpr char kLeaveLine[] = "\r\x1b[K\x1b[?25h";

const wchar_t kInterruptHint[] = L"cannot be cancelled; Ctrl-C again to quit";

void writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // a terminal that went away: nothing left to draw on
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
}

void writeAll(int fd, const std::string& text) { writeAll(fd, text.data(), text.size()); }

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

// The terminal in the dialog's mode: keys one by one without echo, Ctrl-C a
// key like any other, the cursor hidden. Everything goes back when it ends.
class TerminalSession {
 public:
  TerminalSession(int in, int out) : in_(in), out_(out) { enter(); }
  ~TerminalSession() { leave(); }
  TerminalSession(const TerminalSession&) = delete;
  TerminalSession& operator=(const TerminalSession&) = delete;

  void enter() {
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

  void leave() {
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

  // True when keys can be read.
  bool keys() const { return keys_; }

 private:
  int in_;
  int out_;
  bool entered_ = false;
  bool keys_ = false;
};

enum class Key { None, Enter, Escape, Interrupt };

// Keys from a terminal in the dialog's mode. The sequences of other keys
// (arrows, function keys, Alt combinations) are skipped whole, so their ESC
// byte is not taken for Escape.
class KeyReader {
 public:
  explicit KeyReader(int fd) : fd_(fd) {}

  // The next key of interest, waiting at most timeoutMs; None when the time
  // ran out first (or a signal came).
  Key next(int timeoutMs, bool watch) {
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

 private:
  // Reads what is there within timeoutMs; false when nothing came.
  bool fill(int timeoutMs) {
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

  // Length of the escape sequence at the start of pending_ (ESC and more).
  size_t sequenceLength() const {
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

  int fd_;
  std::string pending_;
  bool closed_ = false;
};

// Interrupts the program as Ctrl-C would have without the dialog. A program
// that survives it (one that ignores or handles SIGINT) gets its dialog back.
void interruptAsTheTerminalWould(TerminalSession& session) {
  session.leave();
  ::raise(SIGINT);
  session.enter();
}

// While a question waits, Ctrl-C answers it rather than ending the program.
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

class InterruptCatcher {
 public:
  InterruptCatcher() {
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
  ~InterruptCatcher() {
    if (installed_) ::sigaction(SIGINT, &previous_, nullptr);
    g_interruptPipe = -1;
    for (int fd : pipe_)
      if (fd >= 0) ::close(fd);
  }
  InterruptCatcher(const InterruptCatcher&) = delete;
  InterruptCatcher& operator=(const InterruptCatcher&) = delete;

  // Readable once Ctrl-C came; -1 when nothing is caught.
  int fd() const { return installed_ ? pipe_[0] : -1; }

 private:
  int pipe_[2] = {-1, -1};
  struct sigaction previous_ = {};
  bool installed_ = false;
};

std::string trimmed(const std::string& s) {
  size_t begin = s.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return {};
  return s.substr(begin, s.find_last_not_of(" \t\r") + 1 - begin);
}

std::wstring lineOf(const std::wstring& text, size_t index) {
  size_t begin = 0;
  for (size_t i = 0; i < index; ++i) {
    begin = text.find(L'\n', begin);
    if (begin == std::wstring::npos) return {};
    ++begin;
  }
  return text.substr(begin, text.find(L'\n', begin) - begin);
}

}  // namespace

TerminalBackend::TerminalBackend(int inFd, int outFd) : in_(inFd), out_(outFd) {}

bool TerminalBackend::available() {
  std::string term = sys::environment("TERM");
  return ::isatty(0) && ::isatty(2) && !term.empty() && term != "dumb";
}

int TerminalBackend::columns() const {
  struct winsize size;
  if (::ioctl(out_, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  int fromEnvironment = std::atoi(sys::environment("COLUMNS").c_str());
  return fromEnvironment > 0 ? fromEnvironment : kDefaultColumns;
}

DialogResult TerminalBackend::runProgressDialog(const ProgressStep& step, bool cancelAllowed, uint32_t periodMs) {
  float progress = -1;
  std::wstring text;
  // A step that is over at once closes the dialog before it is drawn.
  if (!step(progress, text)) return DialogResult::Finished;
  std::wstring shown = text;

  TerminalSession session(in_, out_);
  KeyReader keys(in_);
  const milliseconds period{std::max<uint32_t>(periodMs, 1)};
  const Clock::time_point opened = Clock::now();
  Clock::time_point nextStep = opened + period;
  Clock::time_point nextDraw = opened;
  Clock::time_point lastInterrupt = opened - 2 * kInterruptWindow;
  std::string drawn;
  std::wstring status;
  TimeLeft timeLeft;

  for (;;) {
    if (g_leftBySignal.exchange(0)) {
      // The program survived a signal that put the terminal back: take it again.
      session.leave();
      session.enter();
      drawn.clear();
    }
    Clock::time_point now = Clock::now();
    if (now >= nextStep) {
      text.clear();
      if (!step(progress, text)) return DialogResult::Finished;
      if (!text.empty()) shown = text;
      nextStep = Clock::now() + period;
      continue;
    }
    if (now >= nextDraw) {
      std::wstring firstLine = lineOf(shown, 0);
      if (firstLine != status) {
        status = firstLine;
        timeLeft.reset();  // a new stage has its own pace
      }
      double seconds = std::chrono::duration<double>(now - opened).count();
      timeLeft.observe(seconds, progress);
      std::wstring detail = lineOf(shown, 1);
      if (!cancelAllowed && now - lastInterrupt < kInterruptWindow) {
        detail = kInterruptHint;
      } else if (auto left = timeLeft.secondsLeft()) {
        detail += (detail.empty() ? L"" : L", ") + fromUtf8(timeLeftText(*left));
      }
      auto frame = static_cast<uint64_t>((now - opened) / kRedrawInterval);
      std::string line = renderStatusLine(progress, status, detail, columns(), frame);
      // Only a changed line is written, over the old one: no flicker.
      if (line != drawn) {
        writeAll(out_, "\r" + line + kEraseLine);
        drawn = line;
      }
      nextDraw = now + kRedrawInterval;
    }
    auto wait = std::chrono::ceil<milliseconds>(std::min(nextStep, nextDraw) - now).count();
    Key key = keys.next(static_cast<int>(std::max<decltype(wait)>(wait, 0)), session.keys());
    if (key == Key::None) continue;
    if (cancelAllowed) {
      if (key == Key::Enter) return DialogResult::Accepted;
      return DialogResult::Cancelled;  // Escape or Ctrl-C
    }
    if (key != Key::Interrupt) continue;
    now = Clock::now();
    if (now - lastInterrupt < kInterruptWindow) {
      interruptAsTheTerminalWould(session);
      drawn.clear();
      lastInterrupt = opened - 2 * kInterruptWindow;
    } else {
      lastInterrupt = now;
      nextDraw = now;  // show the hint at once
    }
  }
}

TerminalBackend::LineEnd TerminalBackend::readAnswer(std::string& answer) {
  InterruptCatcher interrupt;
  for (;;) {
    size_t end = typedAhead_.find('\n');
    if (end != std::string::npos) {
      answer = typedAhead_.substr(0, end);
      typedAhead_.erase(0, end + 1);
      return LineEnd::Line;
    }
    struct pollfd fds[2] = {{in_, POLLIN, 0}, {interrupt.fd(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents & POLLIN) {
      typedAhead_.clear();
      return LineEnd::Interrupted;
    }
    if (!fds[0].revents) continue;
    char buffer[256];
    ssize_t n = ::read(in_, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;
    typedAhead_.append(buffer, static_cast<size_t>(n));
    // Keep the start of an overlong line: enough to see that it is no answer.
    size_t lineEnd = typedAhead_.find('\n');
    if (lineEnd == std::string::npos && typedAhead_.size() > kMaxAnswer) typedAhead_.resize(kMaxAnswer);
  }
  answer = typedAhead_;
  typedAhead_.clear();
  return LineEnd::EndOfInput;
}

Button TerminalBackend::messageBox(const std::wstring& text, const std::wstring& caption, Icon icon, Buttons buttons) {
  std::string line = boxLine(text, caption, icon);
  if (buttons == Buttons::Ok) {
    writeAll(out_, line + "\n");
    return Button::Ok;
  }
  const bool yesByDefault = buttons == Buttons::YesNo;
  const std::string prompt = yesByDefault ? " [Y/n] " : " [y/N] ";
  // A scripted run (the demo, a test) answers through the environment as
  // the plain backend does; the prompt still shows what was asked and answered.
  std::string preset = lowered(sys::environment("AUTOUPDATE_ANSWER"));
  if (preset == "yes" || preset == "no") {
    writeAll(out_, line + prompt + (preset == "yes" ? "y" : "n") + "\n");
    return preset == "yes" ? Button::Yes : Button::No;
  }
  const bool echoes = ::isatty(in_);
  for (;;) {
    writeAll(out_, line + prompt);
    std::string typed;
    LineEnd end = readAnswer(typed);
    // The terminal echoed the line end of a typed answer; nothing else did.
    if (end != LineEnd::Line || !echoes) writeAll(out_, "\n");
    if (end == LineEnd::Interrupted) return Button::No;
    std::string word = lowered(trimmed(typed));
    if (word == "y" || word == "yes") return Button::Yes;
    if (word == "n" || word == "no") return Button::No;
    // Enter, or no other answer will come: the default.
    if (word.empty() || end == LineEnd::EndOfInput) return yesByDefault ? Button::Yes : Button::No;
  }
}

void TerminalBackend::resultLine(const std::wstring& text) { writeAll(out_, oneLine(text) + "\n"); }

}  // namespace nx::ui
