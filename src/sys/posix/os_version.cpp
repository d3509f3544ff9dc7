#include "sys/os_version.h"

#include <sys/utsname.h>

#include <cctype>

namespace nx::sys {

namespace {

// The decimal number at text[pos], moving pos past it; 0 when there is none.
uint64_t readNumber(const char* text, size_t& pos) {
  uint64_t value = 0;
  for (; std::isdigit(static_cast<unsigned char>(text[pos])); ++pos) {
    if (value > (UINT64_MAX - 9) / 10) return 0;  // absurdly long: treat as unreadable
    value = value * 10 + static_cast<uint64_t>(text[pos] - '0');
  }
  return value;
}

}  // namespace

OsVersion osVersion() {
  OsVersion version;
  struct utsname names;
  if (::uname(&names) != 0) return version;
  for (const char* c = names.sysname; *c; ++c)
    version.key += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
  // A kernel release reads "6.1.0-18-amd64": major 6, minor 1.
  size_t pos = 0;
  version.major = readNumber(names.release, pos);
  if (names.release[pos] == '.') {
    ++pos;
    version.minor = readNumber(names.release, pos);
  }
  return version;
}

}  // namespace nx::sys
