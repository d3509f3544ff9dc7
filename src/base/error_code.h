#pragma once
// The categories of the updater's failures, each with a fixed English text.
#include <cstdint>

namespace nx {

enum class ErrorCode : uint32_t {
  NoError = 0,  // also a failure with a message but no category
  UserCancelled = 1,
  SystemError = 2,
  DatabaseError = 3,
  ConnectionError = 4,
  ServerError = 5,
  DiskAccessError = 6,
  DiskWriteError = 7,
  NotEnoughDiskSpace = 8,
};

// The text of a code ("Unknown error" for a number outside the list); never
// translated, never null.
const char* errorText(ErrorCode code);

}  // namespace nx
