#pragma once
// Error numbers of the platform layer. Every failing call of nx::sys sets the
// calling thread's last error, as the Windows API does, so the code above can
// word its messages the same way on every platform.
#include <cstdint>
#include <string>

namespace nx::sys {

uint32_t lastError();
void setLastError(uint32_t code);

// The system's own text for an error number, unchanged; empty when the
// system has no text for it.
std::string errorMessage(uint32_t code);

// Named error numbers for the conditions the code tests.
extern const uint32_t fileNotFound;
extern const uint32_t alreadyExists;
extern const uint32_t fileExists;
extern const uint32_t diskFull;
extern const uint32_t cancelled;
extern const uint32_t sharingViolation;

}  // namespace nx::sys
