#include "ui/plain_backend.h"

#include <iostream>

#include "base/text.h"
#include "sys/clock.h"
#include "sys/process.h"

namespace nx::ui {

namespace {

std::wstring firstLine(const std::wstring& text) { return text.substr(0, text.find(L'\n')); }

}  // namespace

std::string oneLine(const std::wstring& text) {
  size_t end = text.size();
  while (end > 0 && (text[end - 1] == L'\n' || text[end - 1] == L'\r')) --end;
  std::wstring out;
  out.reserve(end);
  for (size_t i = 0; i < end; ++i) {
    wchar_t c = text[i];
    if (c == L'\r') continue;
    if (c == L'\n' || c == L'\t')
      out += L' ';
    else if (c < 0x20 || (c >= 0x7F && c <= 0x9F))
      out += L'?';
    else
      out += c;
  }
  return toUtf8(out);
}

std::string boxLine(const std::wstring& text, const std::wstring& caption, Icon icon) {
  std::string line = std::string("[") + iconWord(icon) + "] " + oneLine(caption) + ":";
  // Each line of the text stays a line: a failure's cause sits under it.
  size_t begin = 0;
  for (bool first = true;; first = false) {
    size_t end = text.find(L'\n', begin);
    std::wstring piece = text.substr(begin, end == std::wstring::npos ? std::wstring::npos : end - begin);
    if (first || !oneLine(piece).empty()) line += (first ? " " : "\n  ") + oneLine(piece);
    if (end == std::wstring::npos) break;
    begin = end + 1;
  }
  return line;
}

std::string lowered(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

PlainBackend::PlainBackend(std::ostream& out, uint32_t detailIntervalMs)
    : out_(out), detailIntervalMs_(detailIntervalMs) {}
PlainBackend::PlainBackend() : PlainBackend(std::cerr) {}

DialogResult PlainBackend::runProgressDialog(const ProgressStep& step, bool, uint32_t periodMs) {
  float progress = -1;
  std::wstring text;
  std::wstring shown;
  uint64_t sinceShown = 0;
  auto show = [&](const std::wstring& next) {
    if (next.empty() || next == shown) return;
    // The status line always; a moving transfer line only now and then.
    if (firstLine(next) == firstLine(shown) && sinceShown < detailIntervalMs_) return;
    out_ << oneLine(next) << '\n';
    out_.flush();
    shown = next;
    sinceShown = 0;
  };
  if (!step(progress, text)) return DialogResult::Finished;
  show(text);
  for (;;) {
    sys::sleepMs(periodMs);
    sinceShown += periodMs;
    text.clear();
    if (!step(progress, text)) return DialogResult::Finished;
    show(text);
  }
}

Button PlainBackend::messageBox(const std::wstring& text, const std::wstring& caption, Icon icon, Buttons buttons) {
  out_ << boxLine(text, caption, icon) << '\n';
  out_.flush();
  if (buttons == Buttons::Ok) return Button::Ok;
  std::string answer = lowered(sys::environment("AUTOUPDATE_ANSWER"));
  if (answer == "yes") return Button::Yes;
  if (answer == "no") return Button::No;
  return buttons == Buttons::YesNoDefaultNo ? Button::No : Button::Yes;
}

void PlainBackend::resultLine(const std::wstring& text) {
  out_ << oneLine(text) << '\n';
  out_.flush();
}

}  // namespace nx::ui
