#pragma once
// Small helpers for the storage tests: whole-file access, sample data and
// running the system's own tools (sha256sum, gzip, unzip) as real processes.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "app/text.h"

namespace nx::test {

inline std::string narrowPath(const std::wstring& path) { return toUtf8(path); }

inline std::string readWholeFile(const std::wstring& path) {
  std::ifstream in(narrowPath(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeWholeFile(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(narrowPath(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Compressible but not trivial text: numbered lines with varying words.
inline std::string sampleText(size_t size, uint32_t seed = 1) {
  static const char* words[] = {"veltra", "update", "object", "module", "digest", "mirror", "cache", "lang"};
  std::string out;
  uint32_t x = seed;
  while (out.size() < size) {
    x = x * 1664525u + 1013904223u;
    out += std::to_string(x % 100000) + ' ' + words[(x >> 8) % 8] + ' ' + words[(x >> 16) % 8] + '\n';
  }
  out.resize(size);
  return out;
}

// Incompressible bytes.
inline std::string randomBytes(size_t size, uint32_t seed = 7) {
  std::string out(size, '\0');
  uint64_t x = seed;
  for (char& c : out) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    c = static_cast<char>(x >> 24);
  }
  return out;
}

// Runs a shell command and returns what it printed on stdout.
inline std::string runCommand(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

inline std::string quoted(const std::wstring& path) { return "'" + narrowPath(path) + "'"; }

// The digest that sha256sum prints for a file.
inline std::string sha256sumOf(const std::wstring& path) {
  return runCommand("sha256sum " + quoted(path)).substr(0, 64);
}

// The same from openssl, which is much faster on large files.
inline std::string opensslDigestOf(const std::wstring& path) {
  return runCommand("openssl dgst -sha256 -r " + quoted(path)).substr(0, 64);
}

}  // namespace nx::test
