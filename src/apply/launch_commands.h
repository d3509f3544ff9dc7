#pragma once
// Starting the product: every program of the database's "launch" list that
// exists, with the caller's extra arguments, without waiting for it.
#include <string>
#include <vector>

#include "base/mini_log.h"
#include "db/database.h"

namespace nx {

// Returns how many programs were started; callers treat 0 as failure.
// Missing entries and failed starts are only logged.
int launchCommands(const Database& database, const std::wstring& baseFolder, MiniLog& log,
                   std::vector<std::wstring> extraArguments);

}  // namespace nx
