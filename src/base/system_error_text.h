#pragma once
// Texts of system error numbers, for messages that name a failed operation.
#include <cstdint>
#include <string>

namespace nx {

// The system's text for the number, or "? Error" when it has none.
std::string systemErrorText(uint32_t code);
std::wstring systemErrorTextW(uint32_t code);

}  // namespace nx
