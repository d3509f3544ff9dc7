#include "sys/errors.h"

#include <cerrno>
#include <cstring>

namespace nx::sys {

namespace {
thread_local uint32_t tlsLastError = 0;
}

uint32_t lastError() { return tlsLastError; }
void setLastError(uint32_t code) { tlsLastError = code; }

std::string errorMessage(uint32_t code) {
  char buf[256];
  // GNU strerror_r returns the text, which may or may not live in buf.
  const char* text = strerror_r(static_cast<int>(code), buf, sizeof buf);
  if (!text || std::strncmp(text, "Unknown error", 13) == 0) return {};
  return text;
}

const uint32_t fileNotFound = ENOENT;
const uint32_t alreadyExists = EEXIST;
const uint32_t fileExists = EEXIST;
const uint32_t diskFull = ENOSPC;
const uint32_t cancelled = ECANCELED;
const uint32_t sharingViolation = EWOULDBLOCK;

}  // namespace nx::sys
