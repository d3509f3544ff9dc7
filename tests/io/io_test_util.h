#pragma once
// Helpers for the storage tests: whole files, sample data, the failure a call
// raised, and the system's own tools (sha256sum, openssl, gzip, unzip) run as
// real processes.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "app/text.h"
#include "io/io_error.h"

namespace nx::test {

inline std::string readWholeFile(const std::wstring& path) {
  std::ifstream in(toUtf8(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeWholeFile(const std::wstring& path, const std::string& bytes) {
  std::ofstream(toUtf8(path), std::ios::binary | std::ios::trunc) << bytes;
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

// The failure of type E that f raised, described; "" when f succeeded.
template <class E = IOError, class F>
std::string caught(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return described(e);
  }
  return "";
}

inline std::string runCommand(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

// Built by appending: GCC 12 at -O3 warns falsely (-Wrestrict) about
// "'" + std::string, inside std::string itself.
inline std::string quoted(const std::wstring& path) {
  std::string text = "'";
  text += toUtf8(path);
  text += '\'';
  return text;
}

// The digest the system's tool gives; openssl is much faster on large files.
inline std::string toolDigestOf(const std::wstring& path, const char* tool = "sha256sum") {
  return runCommand(std::string(tool) + " " + quoted(path)).substr(0, 64);
}

}  // namespace nx::test
