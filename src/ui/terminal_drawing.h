#pragma once
// Drawing on the terminal: the writes, the escape sequences, and the progress
// dialog's one line redrawn in place.
#include <chrono>
#include <cstddef>
#include <string>

#include "ui/status_line.h"

namespace nx::ui::terminal {

// How often the line is drawn (and the marquee moves on).
constexpr std::chrono::milliseconds kRedrawInterval{100};

constexpr char kHideCursor[] = "\x1b[?25l";
constexpr char kEraseLine[] = "\x1b[K";
// Erases the dialog's line and shows the cursor again at its start.
constexpr char kLeaveLine[] = "\r\x1b[K\x1b[?25h";

// Writes it all, retrying interrupted writes; a terminal that went away gets
// nothing more. Safe in a signal handler.
void writeAll(int fd, const char* data, size_t size);
void writeAll(int fd, const std::string& text);

// Line index of text (lines end at '\n'); empty when there is none.
std::wstring lineOf(const std::wstring& text, size_t index);

// The dialog's line: a bar, the status (the first line of the step's text)
// and the detail (its second line) with the time left once it can be
// estimated. Only a changed line is written, over the old one: no flicker.
class ProgressLine {
 public:
  explicit ProgressLine(int out) : out_(out) {}

  // Draws the line as it stands after elapsed time; interruptHint shows that
  // a second Ctrl-C quits in place of the detail.
  void draw(std::chrono::steady_clock::duration elapsed, float progress, const std::wstring& text, bool interruptHint,
            int columns);
  // The terminal was given back and taken again: the next draw writes in full.
  void forget() { drawn_.clear(); }

 private:
  int out_;
  std::string drawn_;
  std::wstring status_;
  TimeLeft timeLeft_;
};

}  // namespace nx::ui::terminal
