#include "ui/terminal_backend.h"

#include <errno.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "base/text.h"
#include "sys/process.h"
#include "ui/plain_backend.h"
#include "ui/terminal_drawing.h"
#include "ui/terminal_interrupt_catcher.h"
#include "ui/terminal_key_reader.h"
#include "ui/terminal_session.h"

namespace nx::ui {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using terminal::writeAll;

// A second Ctrl-C within this time interrupts a dialog that cannot be cancelled.
constexpr milliseconds kInterruptWindow{2000};
constexpr int kDefaultColumns = 80;
// Longest answer line kept; a longer one is no valid answer anyway.
constexpr size_t kMaxAnswer = 256;

std::string trimmed(const std::string& s) {
  size_t begin = s.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return {};
  return s.substr(begin, s.find_last_not_of(" \t\r") + 1 - begin);
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

  terminal::TerminalSession session(in_, out_);
  terminal::KeyReader keys(in_);
  terminal::ProgressLine line(out_);
  const milliseconds period{std::max<uint32_t>(periodMs, 1)};
  const Clock::time_point opened = Clock::now();
  Clock::time_point nextStep = opened + period;
  Clock::time_point nextDraw = opened;
  Clock::time_point lastInterrupt = opened - 2 * kInterruptWindow;

  for (;;) {
    if (terminal::TerminalSession::leftBySignal()) {
      // The program survived a signal that put the terminal back: take it again.
      session.leave();
      session.enter();
      line.forget();
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
      line.draw(now - opened, progress, shown, !cancelAllowed && now - lastInterrupt < kInterruptWindow, columns());
      nextDraw = now + terminal::kRedrawInterval;
    }
    auto wait = std::chrono::ceil<milliseconds>(std::min(nextStep, nextDraw) - now).count();
    terminal::Key key = keys.next(static_cast<int>(std::max<decltype(wait)>(wait, 0)), session.keys());
    if (key == terminal::Key::None) continue;
    if (cancelAllowed) {
      if (key == terminal::Key::Enter) return DialogResult::Accepted;
      return DialogResult::Cancelled;  // Escape or Ctrl-C
    }
    if (key != terminal::Key::Interrupt) continue;
    now = Clock::now();
    if (now - lastInterrupt < kInterruptWindow) {
      session.interruptAsTheTerminalWould();
      line.forget();
      lastInterrupt = opened - 2 * kInterruptWindow;
    } else {
      lastInterrupt = now;
      nextDraw = now;  // show the hint at once
    }
  }
}

TerminalBackend::LineEnd TerminalBackend::readAnswer(std::string& answer) {
  terminal::InterruptCatcher interrupt;
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
