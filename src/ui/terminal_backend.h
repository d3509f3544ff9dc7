#pragma once
// The user interface for a person at a terminal.
//
// The progress dialog is one line on stderr, redrawn in place at most every
// 100 ms: a bar (a marquee while the amount is unknown), the status text, and
// the second line of the step's text (the transfer line) with the time left
// once it can be estimated. While it runs the terminal reads keys one by one
// without echo: Ctrl-C and Escape cancel, Enter accepts (id 1). When cancel is
// not allowed these keys do nothing, except that a second Ctrl-C within two
// seconds interrupts the program as Ctrl-C normally would. Keys typed before
// the dialog opened are discarded, so they cannot end it.
//
// The dialog leaves the terminal as it found it (modes restored, cursor
// shown, its line erased so the cursor stands at the start of an empty line)
// when it ends, when an exception leaves the step, and on SIGTERM, SIGHUP,
// SIGINT or SIGQUIT, which then take their previous action.
//
// A question (Yes/No) is a "[Y/n]" prompt after the box's line: Enter, end of
// input, y or yes answer Yes, n or no answer No, Ctrl-C answers No; anything
// else asks again. A question whose default is No shows "[y/N]", and Enter
// or end of input answer No. Other boxes and the result line print as the
// plain backend prints them.
#include "ui/backend.h"

namespace nx::ui {

class TerminalBackend : public Backend {
 public:
  // Keys and answers come from inFd, the drawing goes to outFd. Works with
  // whatever it gets: when inFd is not a terminal (or the process is not in
  // its foreground) the dialog takes no keys; answers are then read as lines.
  explicit TerminalBackend(int inFd = 0, int outFd = 2);

  // True when stdin and stderr are terminals that take cursor control (TERM
  // is set and not "dumb").
  static bool available();

  DialogResult runProgressDialog(const ProgressStep& step, bool cancelAllowed, uint32_t periodMs) override;
  Button messageBox(const std::wstring& text, const std::wstring& caption, Icon icon, Buttons buttons) override;
  void resultLine(const std::wstring& text) override;
  bool sharesTerminal() const override { return true; }

 private:
  enum class LineEnd { Line, EndOfInput, Interrupted };
  LineEnd readAnswer(std::string& answer);
  int columns() const;

  int in_;
  int out_;
  std::string typedAhead_;  // input read past the end of the last answer
};

}  // namespace nx::ui
