#include "ui/terminal_drawing.h"

#include <errno.h>
#include <unistd.h>

#include "base/text.h"

namespace nx::ui::terminal {

namespace {

const wchar_t kInterruptHint[] = L"cannot be cancelled; Ctrl-C again to quit";

}  // namespace

void writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // a terminal that went away: nothing left to draw on
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
}

void writeAll(int fd, const std::string& text) { writeAll(fd, text.data(), text.size()); }

std::wstring lineOf(const std::wstring& text, size_t index) {
  size_t begin = 0;
  for (size_t i = 0; i < index; ++i) {
    begin = text.find(L'\n', begin);
    if (begin == std::wstring::npos) return {};
    ++begin;
  }
  return text.substr(begin, text.find(L'\n', begin) - begin);
}

void ProgressLine::draw(std::chrono::steady_clock::duration elapsed, float progress, const std::wstring& text,
                        bool interruptHint, int columns) {
  std::wstring firstLine = lineOf(text, 0);
  if (firstLine != status_) {
    status_ = firstLine;
    timeLeft_.reset();  // a new stage has its own pace
  }
  double seconds = std::chrono::duration<double>(elapsed).count();
  timeLeft_.observe(seconds, progress);
  std::wstring detail = lineOf(text, 1);
  if (interruptHint) {
    detail = kInterruptHint;
  } else if (auto left = timeLeft_.secondsLeft()) {
    detail += (detail.empty() ? L"" : L", ") + fromUtf8(timeLeftText(*left));
  }
  auto frame = static_cast<uint64_t>(elapsed / kRedrawInterval);
  std::string line = renderStatusLine(progress, status_, detail, columns, frame);
  if (line != drawn_) {
    writeAll(out_, "\r" + line + kEraseLine);
    drawn_ = line;
  }
}

}  // namespace nx::ui::terminal
