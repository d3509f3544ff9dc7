#pragma once
// The user interface as windows on a Linux desktop, drawn by the module
// autoupdate-gtk.so beside the program (opened at run time, so the updater
// itself never needs GTK). The progress dialog is a window centred on the
// screen: the status text, a bar that pulses while the amount is unknown and
// fills otherwise, the transfer line, and Cancel (hidden when cancel is not
// allowed). Cancel, Escape and closing the window cancel; Return accepts.
// The step runs on the window's timer, on the calling thread. A message box
// is a window with its icon and buttons; Return answers with the default
// (OK, Yes), Escape or closing a question answers No. A question that
// AUTOUPDATE_ANSWER answers ("yes" or "no") shows no window.
#include <memory>
#include <string>

#include "ui/backend.h"
#include "ui/gtk_module.h"

namespace nx::ui {

class GtkBackend : public Backend {
 public:
  // The file name of the module, looked for in the program's folder.
  static constexpr const wchar_t* kModuleName = L"autoupdate-gtk.so";

  // Opens the module and connects to the display; nullptr, with why, when
  // either fails.
  static std::unique_ptr<Backend> load(std::string& why);

  // True when the session has a display (WAYLAND_DISPLAY or DISPLAY set).
  static bool graphicalSession();

  DialogResult runProgressDialog(const ProgressStep& step, bool cancelAllowed, uint32_t periodMs) override;
  Button messageBox(const std::wstring& text, const std::wstring& caption, Icon icon, Buttons buttons) override;

 private:
  explicit GtkBackend(const NxGtkModule* module) : module_(module) {}
  const NxGtkModule* module_;  // stays loaded: GTK cannot be unloaded once it ran
};

}  // namespace nx::ui
