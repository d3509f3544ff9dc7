#include "ui/status_line.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/text.h"

namespace nx::ui {

namespace {

// Rounding noise of a float fraction must not show 28% for 0.29.
constexpr double kFractionSlack = 1e-4;
constexpr int kMinBar = 8;
constexpr int kMaxBar = 20;
constexpr int kMarqueeWidth = 3;

struct Range {
  uint32_t first, last;
};

constexpr Range kZeroWidth[] = {{0x0300, 0x036F}, {0x0483, 0x0489}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF},
                                {0x200B, 0x200F}, {0x20D0, 0x20FF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}};
constexpr Range kWide[] = {{0x1100, 0x115F},   {0x2E80, 0x303E},  {0x3041, 0x33FF}, {0x3400, 0x4DBF},
                           {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},  {0xAC00, 0xD7A3}, {0xF900, 0xFAFF},
                           {0xFE30, 0xFE4F},   {0xFF00, 0xFF60},  {0xFFE0, 0xFFE6}, {0x1F300, 0x1F64F},
                           {0x1F900, 0x1F9FF}, {0x20000, 0x3FFFD}};

template <size_t N>
bool within(uint32_t c, const Range (&ranges)[N]) {
  return std::any_of(std::begin(ranges), std::end(ranges), [c](Range r) { return c >= r.first && c <= r.last; });
}

wchar_t shown(wchar_t c) {
  if (c == L'\n' || c == L'\r' || c == L'\t') return L' ';
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return L'?';
  return c;
}

int widthOf(const std::wstring& text) {
  int width = 0;
  for (wchar_t c : text) width += displayWidth(shown(c));
  return width;
}

// Appends what fits of text into room columns, control characters made
// harmless; room shrinks by what was used. False when the text was cut.
bool appendFitting(std::wstring& out, int& room, const std::wstring& text) {
  for (wchar_t c : text) {
    c = shown(c);
    int width = displayWidth(c);
    if (width > room) {
      room = 0;
      return false;
    }
    out += c;
    room -= width;
  }
  return true;
}

}  // namespace

int displayWidth(wchar_t c) {
  auto code = static_cast<uint32_t>(c);
  if (within(code, kZeroWidth)) return 0;
  return within(code, kWide) ? 2 : 1;
}

std::string renderStatusLine(float progress, const std::wstring& status, const std::wstring& detail, int columns,
                             uint64_t frame) {
  int room = std::max(columns - 1, 1);
  std::wstring text;
  if (!status.empty()) text += L" " + status;
  if (!detail.empty()) text += L"  " + detail;
  // The bar gives way to the text, down to a size that still shows movement.
  const bool known = progress >= 0;
  const int frameWidth = known ? 7 : 2;  // "[", "] 100%" or "]"
  const int inner = std::clamp(room - frameWidth - widthOf(text), kMinBar, kMaxBar);
  std::wstring bar = L"[";
  if (known) {
    double p = std::min(static_cast<double>(progress), 1.0);
    int filled = std::min(inner, static_cast<int>(p * inner + kFractionSlack));
    bar.append(static_cast<size_t>(filled), L'#');
    bar.append(static_cast<size_t>(inner - filled), L'-');
    char percent[16];
    std::snprintf(percent, sizeof percent, "] %3d%%", static_cast<int>(p * 100 + kFractionSlack));
    bar += fromUtf8(percent);
  } else {
    const int travel = inner - kMarqueeWidth;
    int at = static_cast<int>(frame % static_cast<uint64_t>(2 * travel));
    if (at > travel) at = 2 * travel - at;
    bar.append(static_cast<size_t>(at), L' ');
    bar += L"<=>";
    bar.append(static_cast<size_t>(travel - at), L' ');
    bar += L']';
  }
  std::wstring line;
  if (!appendFitting(line, room, bar + text)) {
    // No dangling separator where the line was cut.
    while (!line.empty() && (line.back() == L' ' || line.back() == L',')) line.pop_back();
  }
  return toUtf8(line);
}

void TimeLeft::observe(double seconds, float progress) {
  if (!(progress >= 0)) {
    reset();
    return;
  }
  if (!samples_.empty() && progress < samples_.back().second) reset();
  samples_.emplace_back(seconds, progress);
  while (samples_.size() > 2 && samples_[1].first <= seconds - kWindowSeconds) samples_.pop_front();
}

std::optional<double> TimeLeft::secondsLeft() const {
  if (samples_.size() < 2) return std::nullopt;
  const auto& [t0, p0] = samples_.front();
  const auto& [t1, p1] = samples_.back();
  double elapsed = t1 - t0;
  double moved = static_cast<double>(p1) - p0;
  if (elapsed < kMinimumSeconds || moved <= 0 || p1 >= 1) return std::nullopt;
  double left = (1.0 - p1) * elapsed / moved;
  if (left > 99 * 3600.0) return std::nullopt;
  return left;
}

std::string timeLeftText(double seconds) {
  long s = std::lround(std::max(seconds, 0.0));
  char text[32];
  if (s < 60)
    std::snprintf(text, sizeof text, "%lds left", s);
  else if (s < 3600)
    std::snprintf(text, sizeof text, "%ldm%02lds left", s / 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%ldh%02ldm left", s / 3600, s / 60 % 60);
  return text;
}

}  // namespace nx::ui
