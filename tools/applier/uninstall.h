#pragma once
// Uninstall: removes the files of the named modules and takes them out of
// autoupdate.cfg, or, with no module named, removes the whole product with
// its state files (autoupdate.db, autoupdate.cfg, Config/lang.cfg and the
// write folder's file cache). All or nothing, like an update. The report
// goes to Logs/uninstall.log in the write folder: one line per removed file
// and a last line with the result.
#include "applier/command_line.h"
#include "applier/test_hook.h"
#include "applier/write_folder.h"
#include "base/mini_log.h"

namespace nx::applier {

// Throws ApplierError; the report is written in either case.
void uninstall(const Request& request, WriteFolder& write, MiniLog& log, TestHook& hook);

}  // namespace nx::applier
