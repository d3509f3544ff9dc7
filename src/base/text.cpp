#include "base/text.h"

#include "sys/utf8_encode.h"

namespace nx {

namespace {

const char kError[] = "#utf8_error";
const wchar_t kWideError[] = L"#utf8_error";

constexpr bool kWide16 = sizeof(wchar_t) == 2;

void appendWide(std::wstring& out, uint32_t c) {
  if (kWide16 && c >= 0x10000) {
    c -= 0x10000;
    out += static_cast<wchar_t>(0xD800 + (c >> 10));
    out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
  } else {
    out += static_cast<wchar_t>(c);
  }
}

bool isSurrogate(uint32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

}  // namespace

std::string toUtf8(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<uint32_t>(text[i]);
    if (kWide16 && c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
      auto low = static_cast<uint32_t>(text[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (isSurrogate(c) || c > 0x10FFFF) return kError;
    sys::appendUtf8(out, c);
  }
  return out;
}

std::wstring fromUtf8(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    auto b = static_cast<unsigned char>(text[i]);
    uint32_t c;
    int extra;
    uint32_t min;
    if (b < 0x80) {
      c = b, extra = 0, min = 0;
    } else if ((b & 0xE0) == 0xC0) {
      c = b & 0x1F, extra = 1, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      c = b & 0x0F, extra = 2, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      c = b & 0x07, extra = 3, min = 0x10000;
    } else {
      return kWideError;
    }
    ++i;
    for (int k = 0; k < extra; ++k, ++i) {
      if (i >= n) return kWideError;
      auto cb = static_cast<unsigned char>(text[i]);
      if ((cb & 0xC0) != 0x80) return kWideError;
      c = (c << 6) | (cb & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are invalid UTF-8.
    if (c < min || isSurrogate(c) || c > 0x10FFFF) return kWideError;
    appendWide(out, c);
  }
  return out;
}

}  // namespace nx
