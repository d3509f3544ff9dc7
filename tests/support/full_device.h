#pragma once
// A file that every write fails on with "disk full": a private node of
// Linux's full device made in the test's folder (so a deletion could never
// touch /dev), else /dev/full itself. Windows has no such device: the path
// is empty there.
#ifndef _WIN32
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

#include <string>

#include "base/text.h"

namespace nx::test {

struct FullDevice {
  std::wstring path;     // empty: none on this system
  bool ownNode = false;  // a node of our own (else the shared /dev/full, which must not be removed)
};

inline FullDevice fullDevice(const std::wstring& nodePath) {
#ifdef _WIN32
  (void)nodePath;
  return {};
#else
  if (::mknod(toUtf8(nodePath).c_str(), S_IFCHR | 0600, makedev(1, 7)) == 0) return {nodePath, true};
  return {L"/dev/full", false};
#endif
}

}  // namespace nx::test
