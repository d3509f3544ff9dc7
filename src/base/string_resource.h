#pragma once
// User-visible texts from the program's string table (res/string_table.h).
#include <cstdint>
#include <string>

namespace nx {

// The text of the id, at most 99 characters; empty for an unknown id.
std::wstring loadStringResource(uint32_t id);

}  // namespace nx
