#pragma once
// The interactive update check: asks the update server under the progress
// dialog (with Cancel), decides which offered version fits the command and
// the update target, and asks the user when a question is due.
#include <cstdint>
#include <string>

#include "base/mini_log.h"
#include "net/autoupdater.h"
#include "net/version_match.h"

namespace nx {

enum class UpdateMode : int32_t { Check = 0, Update = 1, Repair = 2 };

// How the check ended, for the line that closes the command.
enum class CheckVerdict { Chosen, UpToDate, Declined, Cancelled, Failed, NotAvailable };

// Returns the index of the chosen version in updater.versions, or -1 when
// nothing is to be downloaded (none offered, declined, cancelled, or the
// check failed: a failure is logged, and shown except in mode Check; a
// cancelled check is neither). A wanted version older than the installed
// one (a downgrade) is asked about first, No being the default.
// target: "VERSION", "BRANCH", "BRANCH:VERSION" or "BRANCH:=" (UTF-8).
int32_t checkAndConfirm(Autoupdater& updater, MiniLog& log, UpdateMode mode, const std::string& target,
                        CheckVerdict* verdict = nullptr);

}  // namespace nx
