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

// Compressible but not trivial text.
inline std::string sampleText(size_t size, uint32_t seed = 1) {
  static const char* words[] = {"veltra", "update", "object", "module", "digest", "mirror", "cache", "lang"};
  std::string out;
  for (uint32_t x = seed; out.size() < size;) {
    x = x * 1664525u + 1013904223u;
    out += std::to_string(x % 100000) + ' ' + words[(x >> 8) % 8] + ' ' + words[(x >> 16) % 8] + '\n';
  }
  out.resize(size);
  return out;
}

// Incompressible bytes.
inline std::string randomBytes(size_t size, uint64_t x = 7) {
  std::string out(size, '\0');
  for (char& c : out) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    c = static_cast<char>(x >> 24);
  }
  return out;
}

// What an I/O failure of type E said; "<nothing thrown>" when f succeeded.
struct Caught {
  std::string message = "<nothing thrown>";
  uint32_t code = 0;
};
template <class E = IOError, class F>
Caught caught(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return {e.what(), e.code};
  }
  return {};
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

inline std::string quoted(const std::wstring& path) { return "'" + toUtf8(path) + "'"; }

inline std::string sha256sumOf(const std::wstring& path) { return runCommand("sha256sum " + quoted(path)).substr(0, 64); }
// openssl is much faster on large files.
inline std::string opensslDigestOf(const std::wstring& path) {
  return runCommand("openssl dgst -sha256 -r " + quoted(path)).substr(0, 64);
}

}  // namespace nx::test
