#pragma once
// The user interface for logs and pipes: every change of the status text is a
// line, every message box one line "[<icon>] <caption>: <text>" (each further
// line of the text follows, indented by two blanks), the result line as it
// is. A question takes its answer from AUTOUPDATE_ANSWER ("yes" or "no"),
// else the default button. Its dialog never cancels.
#include <ostream>
#include <string>

#include "ui/backend.h"

namespace nx::ui {

// Helpers the text backends share.

// The text as one line of UTF-8: line breaks and tabs become spaces (trailing
// line breaks go), other control characters "?", so that a text from a server
// cannot move the cursor or steer the terminal.
std::string oneLine(const std::wstring& text);

// A message box as "[<icon>] <caption>: <text>" (no line end); a text of
// several lines continues on lines indented by two blanks.
std::string boxLine(const std::wstring& text, const std::wstring& caption, Icon icon);

// ASCII letters in lower case.
std::string lowered(std::string s);

class PlainBackend : public Backend {
 public:
  // A change of the lines below the status line (a transfer line, for
  // example) is shown at most once per detailIntervalMs of dialog time; a
  // change of the status line is always shown.
  static constexpr uint32_t kDetailIntervalMs = 2000;

  // Lines go to out (stderr by default).
  explicit PlainBackend(std::ostream& out, uint32_t detailIntervalMs = kDetailIntervalMs);
  PlainBackend();

  DialogResult runProgressDialog(const ProgressStep& step, bool cancelAllowed, uint32_t periodMs) override;
  Button messageBox(const std::wstring& text, const std::wstring& caption, Icon icon, Buttons buttons) override;
  void resultLine(const std::wstring& text) override;

 private:
  std::ostream& out_;
  uint32_t detailIntervalMs_;
};

}  // namespace nx::ui
