#pragma once
// Reason phrases of the HTTP statuses that the updater names in its messages.
#include <cstdint>

namespace nx {

// The phrase of a status ("Not Found" for 404), or nullptr when the table
// has none for it.
const char* httpStatusText(uint32_t status);

}  // namespace nx
