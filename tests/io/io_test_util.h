#pragma once
// Helpers for the storage, database, tool and applier tests: whole files and
// file trees, sample data, the failure a call raised, and the system's own
// tools (sha256sum, openssl, gzip, unzip) run as real processes.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <type_traits>

#include "base/text.h"
#include "io/io_error.h"
#include "io/sha256_writer.h"
#include "support/platform.h"
#include "support/program_run.h"

namespace nx::test {

namespace fs = std::filesystem;

inline std::string readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Makes the folders on the way.
inline void writeAll(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Every entry below root: files as their bytes, with "[x]" in front when the
// owner may execute them; folders as "<folder>", links as "<link>".
using Snapshot = std::map<std::string, std::string>;
inline Snapshot snapshot(const fs::path& root) {
  Snapshot out;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    std::string& at = out[fs::relative(entry.path(), root).generic_string()];
    if (entry.is_symlink())
      at = "<link>";
    else if (entry.is_directory())
      at = "<folder>";
    else
      at = ((entry.status().permissions() & fs::perms::owner_exec) != fs::perms::none ? "[x]" : "") +
           readAll(entry.path());
  }
  return out;
}

inline std::string sha256(const std::string& bytes) {
  Sha256Writer sha;
  sha.write(bytes.data(), bytes.size());
  std::string digest;
  return sha.finish(digest);
}

// Incompressible bytes, or compressible text drawn from the first `letters` letters.
inline std::string randomBytes(size_t size, unsigned letters = 0, uint64_t x = 7) {
  std::string out(size, '\0');
  for (char& c : out) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    c = static_cast<char>(letters ? 'a' + (x >> 24) % letters : x >> 24);
  }
  return out;
}

// An I/O failure as "<message> #<code>".
inline std::string described(const IOError& e) { return e.what() + (" #" + std::to_string(e.code)); }

// The failure of type E that f raised (an I/O failure described); "" when f succeeded.
template <class E = IOError, class F>
std::string caught(F&& f) {
  try {
    f();
  } catch (const E& e) {
    if constexpr (std::is_base_of_v<IOError, E>)
      return described(e);
    else
      return e.what();
  }
  return "";
}
template <class F>
std::string errorOf(F&& f) {
  return caught<std::exception>(f);
}

// For EXPECT_PRED2, which shows both texts when the check fails.
inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

inline std::string runCommand(const std::string& command) { return runProgram("/bin/sh", {"-c", command}).out; }

// For a shell command line; the paths used hold no quote.
inline std::string quoted(const std::string& path) { return "'" + path + "'"; }
inline std::string quoted(const std::wstring& path) { return quoted(toUtf8(path)); }

// The digest the system's tool gives; openssl is much faster on large files.
inline std::string toolDigestOf(const fs::path& path, const char* tool = "sha256sum") {
  // Windows has no such tool: there the updater's own hasher, checked
  // against the standard vectors, judges.
  if (onWindows) return sha256(readAll(path));
  return runCommand(std::string(tool) + " " + quoted(path.string())).substr(0, 64);
}

}  // namespace nx::test
