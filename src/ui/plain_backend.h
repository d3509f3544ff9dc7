#pragma once
// The user interface for logs and pipes: every change of the status text is a
// line, every message box one line "[<icon>] <caption>: <text>". A question
// takes its answer from AUTOUPDATE_ANSWER ("yes" or "no"), else the default
// button. Its dialog never cancels.
#include <ostream>

#include "ui/backend.h"

namespace nx::ui {

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

 private:
  std::ostream& out_;
  uint32_t detailIntervalMs_;
};

}  // namespace nx::ui
