#pragma once
// The update: makes the base folder hold exactly the version whose database
// is the object `databaseId` in the staging folder's object store, with the
// installation's arch, language and modules carried over (plus the modules
// of the install words).
#include "applier/command_line.h"
#include "applier/test_hook.h"
#include "applier/write_folder.h"
#include "base/mini_log.h"

namespace nx::applier {

// Throws ApplierError; on any failure the previous installation stays.
void applyUpdate(const Request& request, WriteFolder& write, MiniLog& log, TestHook& hook);

}  // namespace nx::applier
