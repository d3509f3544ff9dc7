#pragma once
// The user interface behind runProgressDialog and messageBox. The backend is
// chosen at the first use from AUTOUPDATE_UI (plain, terminal or auto); a
// test may install its own.
#include <cstdint>
#include <memory>
#include <string>

#include "ui/message_box.h"
#include "ui/progress_dialog.h"

namespace nx::ui {

class Backend {
 public:
  virtual ~Backend() = default;
  virtual DialogResult runProgressDialog(const ProgressStep& step, bool cancelAllowed, uint32_t periodMs) = 0;
  virtual Button messageBox(const std::wstring& text, const std::wstring& caption, Icon icon, Buttons buttons) = 0;
  // Text backends have no windows to stay above: an ordinary OK box.
  virtual Button alertBox(const std::wstring& text, const std::wstring& caption, Icon icon) {
    return messageBox(text, caption, icon, Buttons::Ok);
  }
};

// The backend a setting of AUTOUPDATE_UI asks for, in any case: "plain",
// "terminal", or "auto" (also empty), which takes the build's native backend
// where it has one (the Windows dialog), else the terminal backend when
// stdin and stderr are terminals and the plain one otherwise. Other words
// get the plain backend.
std::unique_ptr<Backend> makeBackend(const std::string& setting);

// Installs a backend (not owned; it must outlive its use) and returns the one
// it replaces. nullptr goes back to the backend chosen from the environment.
Backend* setBackend(Backend* backend);

// The backend in use.
Backend& backend();

}  // namespace nx::ui
