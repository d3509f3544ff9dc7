#include "ui/backend.h"

#include <atomic>
#include <iostream>

#include "sys/process.h"
#include "ui/gtk_backend.h"
#include "ui/plain_backend.h"
#include "ui/platform_backend.h"
#include "ui/terminal_backend.h"

namespace nx::ui {

namespace {

std::atomic<Backend*> installed{nullptr};
std::atomic<MiniLog*> fallbackLog{nullptr};

std::unique_ptr<Backend> windowsOrPlain() {
  std::string why;
  if (auto windows = GtkBackend::load(why)) return windows;
  const std::string line = "GTK user interface unavailable: " + why + "; using the plain one";
  if (MiniLog* log = fallbackLog.load())
    log->log(MiniLog::WARNING, "%s", line.c_str());
  else
    std::cerr << line << '\n';
  return std::make_unique<PlainBackend>();
}

Backend& environmentBackend() {
  static std::unique_ptr<Backend> chosen = makeBackend(sys::environment("AUTOUPDATE_UI"));
  return *chosen;
}

}  // namespace

std::unique_ptr<Backend> makeBackend(const std::string& setting) {
  std::string word = lowered(setting);
  if (word.empty() || word == "auto")
    if (std::unique_ptr<Backend> native = makePlatformBackend()) return native;
  if (word == "terminal") return std::make_unique<TerminalBackend>();
  if (word == "gtk") return windowsOrPlain();
  if (word.empty() || word == "auto") {
    if (TerminalBackend::available()) return std::make_unique<TerminalBackend>();
    if (GtkBackend::graphicalSession()) return windowsOrPlain();
  }
  // Logs, pipes, "plain", and words we do not know: plain lines are safe everywhere.
  return std::make_unique<PlainBackend>();
}

BackendLog::BackendLog(MiniLog& log) { fallbackLog = &log; }
BackendLog::~BackendLog() { fallbackLog = nullptr; }

Backend* setBackend(Backend* backend) { return installed.exchange(backend); }

Backend& backend() {
  Backend* b = installed.load();
  return b ? *b : environmentBackend();
}

DialogResult runProgressDialog(const ProgressStep& step, bool cancelAllowed, uint32_t periodMs) {
  return backend().runProgressDialog(step, cancelAllowed, periodMs);
}

bool runInProgressDialog(const ProgressStep& step, bool cancelAllowed, uint32_t periodMs) {
  return runProgressDialog(step, cancelAllowed, periodMs) != DialogResult::Cancelled;
}

Button messageBox(const std::wstring& text, const std::wstring& caption, Icon icon, Buttons buttons) {
  return backend().messageBox(text, caption, icon, buttons);
}

void resultLine(const std::wstring& text) { backend().resultLine(text); }

bool sharesTerminal() { return backend().sharesTerminal(); }

Button alertBox(const std::wstring& text, const std::wstring& caption, Icon icon) {
  return backend().alertBox(text, caption, icon);
}

const char* iconWord(Icon icon) {
  switch (icon) {
    case Icon::Error:
      return "error";
    case Icon::Warning:
      return "warning";
    case Icon::Information:
      return "information";
    case Icon::Question:
      return "question";
  }
  return "error";
}

}  // namespace nx::ui
