#include "db/object_id.h"

#include <array>
#include <cstdint>

namespace nx {

namespace {

// One table lookup a character: these checks run for every entry of every
// file list, hundreds of thousands of times per load.
enum Kind : uint8_t { kPlain, kHexDigit, kDot, kSeparator, kControl };

constexpr std::array<uint8_t, 256> kKinds = [] {
  std::array<uint8_t, 256> kinds{};
  for (int c = 0; c < 0x20; ++c) kinds[c] = kControl;
  kinds[0x7F] = kControl;
  for (int c = '0'; c <= '9'; ++c) kinds[c] = kHexDigit;
  for (int c = 'a'; c <= 'f'; ++c) kinds[c] = kHexDigit;
  kinds['.'] = kDot;
  kinds['/'] = kSeparator;
  kinds['\\'] = kSeparator;
  return kinds;
}();

uint8_t kindOf(char c) { return kKinds[static_cast<unsigned char>(c)]; }

// A component that is empty, "." or "..".
bool isBadPart(size_t length, bool onlyDots) { return length == 0 || (onlyDots && length <= 2); }

}  // namespace

bool isObjectId(std::string_view id) {
  if (id.size() != 64) return false;
  bool hex = true;
  for (char c : id) hex &= kindOf(c) == kHexDigit;
  return hex;
}

bool isSafeRelativePath(std::string_view path) {
  if (path.empty()) return false;
  // "C:x" names a drive on Windows, whatever follows.
  if (path.size() >= 2 && path[1] == ':') return false;
  // One pass: the length of the current component and whether it holds
  // nothing but dots are all there is to know at its end.
  size_t length = 0;
  bool onlyDots = true;
  for (char c : path) {
    switch (kindOf(c)) {
      case kSeparator:
        if (isBadPart(length, onlyDots)) return false;
        length = 0;
        onlyDots = true;
        break;
      case kControl:
        return false;
      case kDot:
        ++length;
        break;
      default:
        ++length;
        onlyDots = false;
    }
  }
  return !isBadPart(length, onlyDots);
}

}  // namespace nx
