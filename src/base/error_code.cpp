#include "base/error_code.h"

namespace nx {

const char* errorText(ErrorCode code) {
  switch (code) {
    case ErrorCode::NoError:
      return "No error";
    case ErrorCode::UserCancelled:
      return "User cancelled";
    case ErrorCode::SystemError:
      return "System error";
    case ErrorCode::DatabaseError:
      return "Database error";
    case ErrorCode::ConnectionError:
      return "Connection error";
    case ErrorCode::ServerError:
      return "Server error";
    case ErrorCode::DiskAccessError:
      return "Disk access error";
    case ErrorCode::DiskWriteError:
      return "Disk write error";
    case ErrorCode::NotEnoughDiskSpace:
      return "Not enough disk space";
  }
  return "Unknown error";
}

}  // namespace nx
