#include "ui/backend.h"

#include <atomic>

#include "sys/process.h"
#include "ui/plain_backend.h"
#include "ui/platform_backend.h"
#include "ui/terminal_backend.h"

namespace nx::ui {

namespace {

std::atomic<Backend*> installed{nullptr};

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
  if ((word.empty() || word == "auto") && TerminalBackend::available()) return std::make_unique<TerminalBackend>();
  // Logs, pipes, "plain", and words we do not know: plain lines are safe everywhere.
  return std::make_unique<PlainBackend>();
}

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
