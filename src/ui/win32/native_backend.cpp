#include "ui/win32/native_backend.h"

#include <windows.h>
// windows.h comes first: the other system headers need it.

#include <commctrl.h>

#include <cmath>
#include <exception>

#include "ui/plain_backend.h"
#include "ui/platform_backend.h"

namespace nx::ui {

namespace {

// Ids of the dialog resource (src/res/autoupdate.rc).
constexpr int kProgressDialog = 129;
constexpr int kProgressBar = 1000;
constexpr int kStatusText = -1;
constexpr UINT_PTR kTimer = 1;

struct RunState {
  const ProgressStep* step = nullptr;
  bool cancelAllowed = false;
  HWND dialog = nullptr;
  UINT_PTR timer = 0;
  bool percentMode = false;  // the template's bar starts as a marquee
  uint32_t periodMs = 100;
  std::exception_ptr failure;  // an exception of the step, thrown again once the dialog is gone
};

HWND bar(const RunState& state) { return ::GetDlgItem(state.dialog, kProgressBar); }

void applyProgress(RunState& state, float progress) {
  HWND progressBar = bar(state);
  if (progress >= 0) {
    if (!state.percentMode) {
      ::SendMessageW(progressBar, PBM_SETMARQUEE, FALSE, 0);
      ::SetWindowLongPtrW(progressBar, GWL_STYLE, ::GetWindowLongPtrW(progressBar, GWL_STYLE) & ~PBS_MARQUEE);
      ::SendMessageW(progressBar, PBM_SETRANGE32, 0, 1000);
      state.percentMode = true;
    }
    ::SendMessageW(progressBar, PBM_SETPOS, static_cast<WPARAM>(std::trunc(progress * 1000.0f)), 0);
  } else if (state.percentMode) {
    ::SetWindowLongPtrW(progressBar, GWL_STYLE, ::GetWindowLongPtrW(progressBar, GWL_STYLE) | PBS_MARQUEE);
    ::SendMessageW(progressBar, PBM_SETMARQUEE, TRUE, 0);
    state.percentMode = false;
  }
}

void finish(RunState& state, INT_PTR result) {
  if (state.timer) ::KillTimer(state.dialog, state.timer);
  state.timer = 0;
  ::EndDialog(state.dialog, result);
}

// Calls the step; an exception ends the dialog and waits for the caller.
bool callStep(RunState& state, float& progress, std::wstring& text) {
  try {
    return (*state.step)(progress, text);
  } catch (...) {
    state.failure = std::current_exception();
    return false;
  }
}

INT_PTR CALLBACK dialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<RunState*>(::GetWindowLongPtrW(dialog, GWLP_USERDATA));
  switch (message) {
    case WM_INITDIALOG: {
      state = reinterpret_cast<RunState*>(lParam);
      state->dialog = dialog;
      ::SetWindowLongPtrW(dialog, GWLP_USERDATA, lParam);
      float progress = -1;
      std::wstring text;
      if (!callStep(*state, progress, text)) {
        finish(*state, 0);
        return TRUE;
      }
      if (progress < 0) ::SendMessageW(bar(*state), PBM_SETMARQUEE, TRUE, 0);
      ::SetDlgItemTextW(dialog, kStatusText, text.c_str());
      if (!state->cancelAllowed) ::ShowWindow(::GetDlgItem(dialog, IDCANCEL), SW_HIDE);
      applyProgress(*state, progress);
      state->timer = ::SetTimer(dialog, kTimer, state->periodMs, nullptr);
      return TRUE;
    }
    case WM_TIMER: {
      if (!state || wParam != kTimer) return FALSE;
      float progress = -1;
      std::wstring text;
      if (!callStep(*state, progress, text)) {
        finish(*state, 0);
        return TRUE;
      }
      applyProgress(*state, progress);
      if (!text.empty()) ::SetDlgItemTextW(dialog, kStatusText, text.c_str());
      return TRUE;
    }
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      // Enter (1), Escape and the Cancel button (2); ignored while the work
      // may not be interrupted.
      if (state && (id == IDOK || id == IDCANCEL) && state->cancelAllowed) finish(*state, id);
      return TRUE;
    }
  }
  return FALSE;
}

UINT iconFlag(Icon icon) {
  switch (icon) {
    case Icon::Error:
      return MB_ICONERROR;
    case Icon::Warning:
      return MB_ICONEXCLAMATION;
    case Icon::Information:
      return MB_ICONINFORMATION;
    case Icon::Question:
      return MB_ICONQUESTION;
  }
  return MB_ICONERROR;
}

Button pressed(int id) {
  if (id == IDYES) return Button::Yes;
  if (id == IDNO) return Button::No;
  return Button::Ok;
}

}  // namespace

NativeBackend::NativeBackend() {
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
  ::InitCommonControlsEx(&controls);
}

DialogResult NativeBackend::runProgressDialog(const ProgressStep& step, bool cancelAllowed, uint32_t periodMs) {
  RunState state;
  state.step = &step;
  state.cancelAllowed = cancelAllowed;
  state.periodMs = periodMs;
  INT_PTR result = ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kProgressDialog), nullptr,
                                     dialogProcedure, reinterpret_cast<LPARAM>(&state));
  if (state.failure) std::rethrow_exception(state.failure);
  if (result == -1) {
    // No dialog could be made (no such resource, no desktop): the work must
    // not depend on a window.
    PlainBackend plain;
    return plain.runProgressDialog(step, cancelAllowed, periodMs);
  }
  return static_cast<DialogResult>(result);
}

Button NativeBackend::messageBox(const std::wstring& text, const std::wstring& caption, Icon icon, Buttons buttons) {
  const UINT flags = iconFlag(icon) | (buttons == Buttons::YesNo ? MB_YESNO : MB_OK);
  return pressed(::MessageBoxW(nullptr, text.c_str(), caption.c_str(), flags));
}

Button NativeBackend::alertBox(const std::wstring& text, const std::wstring& caption, Icon icon) {
  return pressed(
      ::MessageBoxW(nullptr, text.c_str(), caption.c_str(), iconFlag(icon) | MB_SYSTEMMODAL | MB_SETFOREGROUND));
}

std::unique_ptr<Backend> makePlatformBackend() { return std::make_unique<NativeBackend>(); }

}  // namespace nx::ui
