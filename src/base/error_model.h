#pragma once
// Raising failures. Lower layers raise with failWith (logged first, so the
// log shows where it happened); the command level, the stages and the
// interactive flow catch them and report them (ui/report_exception.h).
#include <cstdint>
#include <stdexcept>
#include <string>

#include "base/error_code.h"
#include "base/mini_log.h"

namespace nx {

// A failure of an update run: a category and a message (which may be
// empty). The updater object knows it as Autoupdater::Fail.
class UpdateFailure : public std::runtime_error {
 public:
  UpdateFailure(ErrorCode code, const std::string& message) : std::runtime_error(message), code(code) {}
  ErrorCode code;
};

// Logs the message (or, when it is empty, the code's text) at ERROR and
// throws UpdateFailure with the code and the message as given.
[[noreturn]] void failWith(MiniLog& log, ErrorCode code, const std::string& message);

// Logs at ERROR: operation "path": (number) system text. With a code other
// than NoError it then fails with that code and message; with NoError the
// failure is only recorded and the call returns.
void failWithSystemError(MiniLog& log, const std::string& operation, const std::wstring& path, uint32_t errorNumber,
                         ErrorCode code);

}  // namespace nx
