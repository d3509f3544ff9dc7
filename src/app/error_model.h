#pragma once
// Raising and reporting failures. Lower layers raise with failWith (logged
// first, so the log shows where it happened); the command level, the stages
// and the interactive flow catch and report with reportException.
#include <cstdint>
#include <exception>
#include <string>

#include "app/autoupdater.h"
#include "app/error_code.h"
#include "app/mini_log.h"

namespace nx {

// Logs the message (or, when it is empty, the code's text) at ERROR and
// throws Autoupdater::Fail with the code and the message as given.
[[noreturn]] void failWith(Autoupdater& updater, ErrorCode code, const std::string& message);

// Logs at ERROR: operation "path": (number) system text. With a code other
// than NoError it then fails with that code and message; with NoError the
// failure is only recorded and the call returns.
void failWithSystemError(Autoupdater& updater, const std::string& operation, const std::wstring& path,
                         uint32_t errorNumber, ErrorCode code);

// Logs "Caught an exception: <what>" at ERROR and shows what() in an error
// box with the caption of the string table; returns when it is closed.
void reportException(MiniLog& log, const std::exception& exception);

}  // namespace nx
