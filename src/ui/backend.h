#pragma once
// The user interface behind runProgressDialog and messageBox. The backend is
// chosen at the first use from AUTOUPDATE_UI (plain, terminal, gtk or auto);
// a test may install its own.
#include <cstdint>
#include <memory>
#include <string>

#include "base/mini_log.h"
#include "ui/message_box.h"
#include "ui/progress_dialog.h"

namespace nx::ui {

class Backend {
 public:
  virtual ~Backend() = default;
  virtual DialogResult runProgressDialog(const ProgressStep& step, bool cancelAllowed, uint32_t periodMs) = 0;
  virtual Button messageBox(const std::wstring& text, const std::wstring& caption, Icon icon, Buttons buttons) = 0;
  // The one line that ends a command in a text interface ("Updated VELTRA 1.0
  // to 2.0.", "Cancelled."). A window-based backend may show it or ignore it:
  // its message boxes already say what matters.
  virtual void resultLine(const std::wstring& /*text*/) {}
  // True when the backend draws in the terminal the program runs in: a
  // program it starts and waits for can then draw its own progress there.
  virtual bool sharesTerminal() const { return false; }
  // Text backends have no windows to stay above: an ordinary OK box.
  virtual Button alertBox(const std::wstring& text, const std::wstring& caption, Icon icon) {
    return messageBox(text, caption, icon, Buttons::Ok);
  }
};

// True when the backend in use shares the program's terminal.
bool sharesTerminal();

// The backend a setting of AUTOUPDATE_UI asks for, in any case: "plain",
// "terminal", "gtk" (windows), or "auto" (also empty), which takes the
// build's native backend where it has one (the Windows dialog), else the
// terminal backend when stdin and stderr are terminals, else the windows
// when the session has a display, else the plain one. Other words get the
// plain backend, and so do windows that cannot be opened (no module, no
// display), with one line that says why.
std::unique_ptr<Backend> makeBackend(const std::string& setting);

// While one lives, that line goes to its log (else to stderr).
class BackendLog {
 public:
  explicit BackendLog(MiniLog& log);
  ~BackendLog();
  BackendLog(const BackendLog&) = delete;
  BackendLog& operator=(const BackendLog&) = delete;
};

// Installs a backend (not owned; it must outlive its use) and returns the one
// it replaces. nullptr goes back to the backend chosen from the environment.
Backend* setBackend(Backend* backend);

// The backend in use.
Backend& backend();

}  // namespace nx::ui
