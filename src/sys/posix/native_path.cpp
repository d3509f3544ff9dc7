#include "sys/posix/native_path.h"

#include <cstdint>

#include "sys/utf8_encode.h"

namespace nx::sys::posix {

namespace {

// Bytes that are not valid UTF-8 are carried as these lone surrogates: only
// bytes from 0x80 up can be invalid, so U+DC80..U+DCFF occur. A backslash in
// a name is carried the same way (U+DC5C), since the wide form treats '\' as
// a separator.
constexpr uint32_t kEscapeBase = 0xDC00;
constexpr uint32_t kReplacement = 0xFFFD;

bool isEscape(uint32_t c) { return (c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF) || c == kEscapeBase + '\\'; }

// Length of the valid UTF-8 sequence at s[i] and its code point; 0 when the
// byte there does not start one.
size_t decodeOne(const std::string& s, size_t i, uint32_t* code) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b = byte(i);
  size_t length;
  uint32_t c, min;
  if (b < 0x80) {
    *code = b;
    return 1;
  } else if ((b & 0xE0) == 0xC0) {
    length = 2, c = b & 0x1F, min = 0x80;
  } else if ((b & 0xF0) == 0xE0) {
    length = 3, c = b & 0x0F, min = 0x800;
  } else if ((b & 0xF8) == 0xF0) {
    length = 4, c = b & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (s.size() - i < length) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    c = (c << 6) | (byte(i + k) & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  if (c < min || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return 0;
  *code = c;
  return length;
}

std::string toBytes(const std::wstring& word, bool backslashIsSeparator) {
  std::string out;
  out.reserve(word.size());
  for (wchar_t wc : word) {
    auto c = static_cast<uint32_t>(wc);
    if (isEscape(c)) {
      out += static_cast<char>(c - kEscapeBase);
    } else if (c == '\\' && backslashIsSeparator) {
      out += '/';
    } else {
      // A surrogate that is no escape or a value past Unicode has no bytes of
      // its own; it must not turn into an ASCII character either.
      if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = kReplacement;
      appendUtf8(out, c);
    }
  }
  return out;
}

}  // namespace

std::string narrow(const std::wstring& word) { return toBytes(word, false); }

std::string nativePath(const std::wstring& path) { return toBytes(path, true); }

std::wstring widePath(const std::string& native) {
  std::wstring out;
  out.reserve(native.size());
  for (size_t i = 0; i < native.size();) {
    uint32_t c = 0;
    size_t length = decodeOne(native, i, &c);
    if (length == 0 || c == '\\') {
      // Only this one byte is escaped: the decoding resumes at the next, so a
      // broken sequence cannot swallow the bytes after it.
      c = kEscapeBase + static_cast<unsigned char>(native[i]);
      length = 1;
    }
    out += static_cast<wchar_t>(c);
    i += length;
  }
  return out;
}

}  // namespace nx::sys::posix
