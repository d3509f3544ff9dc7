#pragma once
// The one place where a caught failure meets the user.
#include <exception>

#include "base/mini_log.h"

namespace nx {

// Logs "Caught an exception: <what>" at ERROR and shows what() in an error
// box with the caption of the string table; returns when it is closed.
void reportException(MiniLog& log, const std::exception& exception);

}  // namespace nx
