// The Windows build has no terminal backend: the program is a windowed one,
// and "auto" takes the native dialog. Asked for by name, it writes plain lines.
#include "ui/terminal_backend.h"

#include "ui/plain_backend.h"

namespace nx::ui {

TerminalBackend::TerminalBackend(int inFd, int outFd) : in_(inFd), out_(outFd) {}

bool TerminalBackend::available() { return false; }

DialogResult TerminalBackend::runProgressDialog(const ProgressStep& step, bool cancelAllowed, uint32_t periodMs) {
  PlainBackend plain;
  return plain.runProgressDialog(step, cancelAllowed, periodMs);
}

Button TerminalBackend::messageBox(const std::wstring& text, const std::wstring& caption, Icon icon, Buttons buttons) {
  PlainBackend plain;
  return plain.messageBox(text, caption, icon, buttons);
}

void TerminalBackend::resultLine(const std::wstring& text) { PlainBackend().resultLine(text); }

}  // namespace nx::ui
