#pragma once
// The modal progress dialog: a status text, a progress bar and (optionally)
// a Cancel button, driven by a step function on a timer.
#include <cstdint>
#include <functional>
#include <string>

namespace nx::ui {

// Called once when the dialog opens and then once per period. Sets progress
// (below 0: unknown amount; 0 to 1: a fraction) and the status text (an
// empty text keeps the previous one after the first call); returns false
// when the work is over.
using ProgressStep = std::function<bool(float& progress, std::wstring& text)>;

// How a dialog ended; the numbers are the ids of the dialog's commands.
enum class DialogResult : int {
  Finished = 0,   // the step returned false
  Accepted = 1,   // Enter
  Cancelled = 2,  // Cancel or Escape
};

// Shows the dialog until the step returns false or, when cancel is allowed,
// the user ends it. Runs on the calling thread.
DialogResult runProgressDialog(const ProgressStep& step, bool cancelAllowed, uint32_t periodMs);

// The same; true unless the user cancelled.
bool runInProgressDialog(const ProgressStep& step, bool cancelAllowed, uint32_t periodMs);

}  // namespace nx::ui
