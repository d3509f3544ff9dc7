#include "sys/posix/native_path.h"

namespace nx::sys::posix {

std::string nativePath(const std::wstring& path) {
  std::string out = narrow(path);
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

std::string narrow(const std::wstring& path) {
  std::string out;
  out.reserve(path.size());
  for (wchar_t wc : path) {
    auto c = static_cast<uint32_t>(wc);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::wstring widePath(const std::string& native) {
  std::wstring out;
  size_t i = 0;
  while (i < native.size()) {
    auto b = static_cast<unsigned char>(native[i]);
    uint32_t c = b;
    int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
    if (extra) c = b & (0x3F >> extra);
    ++i;
    for (int k = 0; k < extra && i < native.size(); ++k, ++i)
      c = (c << 6) | (static_cast<unsigned char>(native[i]) & 0x3F);
    out += static_cast<wchar_t>(c);
  }
  return out;
}

}  // namespace nx::sys::posix
