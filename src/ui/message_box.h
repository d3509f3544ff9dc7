#pragma once
// Modal message boxes without an owner window.
#include <string>

namespace nx::ui {

enum class Icon { Error, Warning, Information, Question };
// YesNo defaults to Yes; YesNoDefaultNo (for questions whose Yes destroys
// something) to No.
enum class Buttons { Ok, YesNo, YesNoDefaultNo };
// The button pressed; the numbers are the system's button ids.
enum class Button : int { Ok = 1, Yes = 6, No = 7 };

// Shows the box and returns when the user closes it.
Button messageBox(const std::wstring& text, const std::wstring& caption, Icon icon, Buttons buttons);

// Ends a command in the text interfaces with one line saying what happened;
// window-based backends may ignore it.
void resultLine(const std::wstring& text);

// A box with one OK button that stays above every other window and comes to
// the front (the stages' boxes: their process has no window of its own).
Button alertBox(const std::wstring& text, const std::wstring& caption, Icon icon);

// The word for an icon: "error", "warning", "information", "question".
const char* iconWord(Icon icon);

}  // namespace nx::ui
