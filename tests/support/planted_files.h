#pragma once
// Files no regular writer makes, planted where the code expects a regular
// file. A FIFO would block a reader that opens it; Windows has none in the
// file system, so makeFifo makes nothing there and says so.
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <string>

#include "base/text.h"

namespace nx::test {

inline bool makeFifo(const std::wstring& path) {
#ifdef _WIN32
  (void)path;
  return false;
#else
  return ::mkfifo(toUtf8(path).c_str(), 0600) == 0;
#endif
}

}  // namespace nx::test
