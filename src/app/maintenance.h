#pragma once
// The maintenance commands that change an installation's state without a
// server: init (make a copied installation updatable) and modconfig
// (register or unregister modules). Words are the positional command-line
// words, the command word first. Failures are shown in an error box; the
// result is the exit code: 0 success, 2 failure.
#include <string>
#include <vector>

#include "base/mini_log.h"

namespace nx {

int init(const std::vector<std::wstring>& words, const std::wstring& baseFolder, const std::wstring& writeFolder,
         MiniLog& log);
int modconfig(const std::vector<std::wstring>& words, const std::wstring& baseFolder, const std::wstring& writeFolder);

}  // namespace nx
