#pragma once
// UTF-8 encoding of one code point, shared by the text conversions and the
// platform's name mapping. Pure computation, no system knowledge.
#include <cstdint>
#include <string>

namespace nx::sys {

// Appends the UTF-8 form of `c` (up to U+10FFFF; lone surrogates are encoded
// like any other code point, callers decide whether they are allowed).
inline void appendUtf8(std::string& out, uint32_t c) {
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

}  // namespace nx::sys
