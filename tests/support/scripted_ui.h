#pragma once
// A user interface for tests: installed for the life of the object, it runs
// each progress dialog's step without a window or pause, can end a dialog as
// the user would (Enter or Cancel after a given number of steps), records
// what was shown, and answers every message box with Ok or Yes.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ui/backend.h"

namespace nx::test {

class ScriptedUi : public ui::Backend {
 public:
  struct Dialog {
    bool cancelAllowed = false;
    uint32_t periodMs = 0;
    std::vector<std::wstring> texts;  // what the step returned, per call
    std::vector<float> progress;
    ui::DialogResult result = ui::DialogResult::Finished;
  };
  struct Box {
    std::wstring text, caption;
    ui::Icon icon;
    ui::Buttons buttons;
  };

  // After this many calls of a step the user presses userEnd (ignored when
  // the dialog does not allow it); negative: never.
  int stepsBeforeUserEnd = -1;
  ui::DialogResult userEnd = ui::DialogResult::Cancelled;
  // Called after each call of a step with the call's number (0 at open).
  std::function<void(int call)> afterStep;

  std::vector<Dialog> dialogs;
  std::vector<Box> boxes;

  ScriptedUi() : previous_(ui::setBackend(this)) {}
  ~ScriptedUi() override { ui::setBackend(previous_); }
  ScriptedUi(const ScriptedUi&) = delete;
  ScriptedUi& operator=(const ScriptedUi&) = delete;

  ui::DialogResult runProgressDialog(const ui::ProgressStep& step, bool cancelAllowed, uint32_t periodMs) override {
    Dialog& d = dialogs.emplace_back(Dialog{cancelAllowed, periodMs, {}, {}});
    for (int call = 0;; ++call) {
      float progress = 0;
      std::wstring text;
      bool goOn = step(progress, text);
      d.texts.push_back(text);
      d.progress.push_back(progress);
      if (afterStep) afterStep(call);
      if (!goOn) return d.result = ui::DialogResult::Finished;
      if (cancelAllowed && stepsBeforeUserEnd >= 0 && call + 1 >= stepsBeforeUserEnd) return d.result = userEnd;
    }
  }

  ui::Button messageBox(const std::wstring& text, const std::wstring& caption, ui::Icon icon,
                        ui::Buttons buttons) override {
    boxes.push_back(Box{text, caption, icon, buttons});
    return buttons == ui::Buttons::Ok ? ui::Button::Ok : ui::Button::Yes;
  }

 private:
  ui::Backend* previous_;
};

}  // namespace nx::test
