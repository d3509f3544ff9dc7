#pragma once
// The one line the terminal dialog draws: a bar (filled, with the percentage,
// when the amount is known; a marquee moving to and fro when it is not), the
// status text and a detail (the transfer line, the time left or a hint),
// fitted to the terminal's width.
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>

namespace nx::ui {

// Terminal columns a character takes: 0 for combining marks, 2 for wide
// (East Asian, emoji) characters, else 1.
int displayWidth(wchar_t c);

// The line (UTF-8) for the progress (below 0: unknown), the status and the
// detail (either may be empty). It takes at most columns - 1 columns, so the
// terminal never wraps it: the bar narrows for the text (from 20 down to 8
// places), then the end is cut off. Control characters show as "?". frame
// moves the marquee by one place.
std::string renderStatusLine(float progress, const std::wstring& status, const std::wstring& detail, int columns,
                             uint64_t frame);

// Estimates the time left from how the progress fraction moved over the last
// seconds. A fall of the progress, or an unknown amount, starts it over.
class TimeLeft {
 public:
  // Samples older than this no longer count: the estimate follows changes
  // of speed, and a stall shows as no estimate.
  static constexpr double kWindowSeconds = 10;
  // The progress must have moved for at least this long.
  static constexpr double kMinimumSeconds = 1;

  void observe(double seconds, float progress);
  void reset() { samples_.clear(); }
  std::optional<double> secondsLeft() const;

 private:
  std::deque<std::pair<double, float>> samples_;
};

// "12s left", "3m05s left", "2h07m left".
std::string timeLeftText(double seconds);

}  // namespace nx::ui
