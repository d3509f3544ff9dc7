#pragma once
// The Windows user interface: dialog 129 of the program's resources driven
// by a timer, and MessageBoxW. The progress bar's window class is registered
// (InitCommonControlsEx) when the backend is made, before any dialog.
//
// A program without the dialog in its resources, or a session where no
// window can be shown, gets the plain backend's dialog instead, so the work
// still runs.
#include "ui/backend.h"

namespace nx::ui {

class NativeBackend : public Backend {
 public:
  NativeBackend();
  DialogResult runProgressDialog(const ProgressStep& step, bool cancelAllowed, uint32_t periodMs) override;
  Button messageBox(const std::wstring& text, const std::wstring& caption, Icon icon, Buttons buttons) override;
  // MB_SYSTEMMODAL | MB_SETFOREGROUND with the icon and OK.
  Button alertBox(const std::wstring& text, const std::wstring& caption, Icon icon) override;
};

}  // namespace nx::ui
