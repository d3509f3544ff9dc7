// The Windows build has no GTK module: the program draws its own dialog.
// Asked for by name, the GTK backend is unavailable and the plain one serves.
#include "ui/gtk_backend.h"

#include "ui/plain_backend.h"

namespace nx::ui {

bool GtkBackend::graphicalSession() { return false; }

std::unique_ptr<Backend> GtkBackend::load(std::string& why) {
  why = "the Windows build has no GTK window module";
  return nullptr;
}

// Never reached: load() makes no GtkBackend here.
DialogResult GtkBackend::runProgressDialog(const ProgressStep& step, bool cancelAllowed, uint32_t periodMs) {
  return PlainBackend().runProgressDialog(step, cancelAllowed, periodMs);
}

Button GtkBackend::messageBox(const std::wstring& text, const std::wstring& caption, Icon icon, Buttons buttons) {
  return PlainBackend().messageBox(text, caption, icon, buttons);
}

}  // namespace nx::ui
