#pragma once
// The few facts about the platform a test may need: which tests only make
// sense on one of them, and what a program file is called there.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

namespace nx::test {

#ifdef _WIN32
inline constexpr bool onWindows = true;
inline const std::string exeSuffix = ".exe";
#else
inline constexpr bool onWindows = false;
inline const std::string exeSuffix;
#endif

// A small program whose bytes stand in for a program of a release: one
// that ends with 0 (or not).
inline std::string standInProgram(bool succeeds) {
  if (onWindows) return succeeds ? NX_BUILD_DIR "/hold_lock.exe" : NX_BUILD_DIR "/state_loader.exe";
  return succeeds ? "/bin/true" : "/bin/false";
}

// A file:// URL of an absolute path ("file:///C:/x" on Windows), its
// characters as they stand.
inline std::string fileUrl(std::string path) {
  if (!onWindows) return "file://" + path;
  std::replace(path.begin(), path.end(), '\\', '/');
  return "file:///" + path;
}
inline std::string fileUrl(const std::wstring& path) { return fileUrl(std::filesystem::path(path).string()); }

}  // namespace nx::test

// Skips a test that needs what only POSIX has (a shell, tmux, fork, signals,
// symbolic links), saying what.
#define NX_POSIX_ONLY(what) \
  if (::nx::test::onWindows) GTEST_SKIP() << "needs " << what << ", which Windows lacks"
