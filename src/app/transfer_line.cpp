#include "app/transfer_line.h"

#include <cstdio>

namespace nx {

namespace {

// Each piece is formatted into a buffer of 128 characters.
template <typename... Args>
std::string piece(const char* format, Args... args) {
  char buffer[128];
  int n = std::snprintf(buffer, sizeof buffer, format, args...);
  if (n < 0) return {};
  return std::string(buffer, static_cast<size_t>(n) < sizeof buffer ? static_cast<size_t>(n) : sizeof buffer - 1);
}

}  // namespace

std::string transferLine(uint64_t doneBytes, uint64_t totalBytes, float bytesPerSecond) {
  const double done = static_cast<double>(doneBytes) / 1000000.0;
  const double total = static_cast<double>(totalBytes) / 1000000.0;
  std::string line = totalBytes != 0 ? piece("%.1f/%.1f MB", done, total) : piece("%.1f MB", done);
  if (bytesPerSecond > 0) line += piece(" @ %6.1f KB/s", static_cast<double>(bytesPerSecond) / 1000.0);
  return line;
}

std::string transferLine(const Autoupdater& updater) {
  return transferLine(updater.doneBytes.load(std::memory_order_relaxed),
                      updater.totalBytes.load(std::memory_order_relaxed),
                      updater.shownRate.load(std::memory_order_relaxed));
}

}  // namespace nx
