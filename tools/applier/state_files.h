#pragma once
// The installation's own state files as the applier reads and writes them:
// autoupdate.db and autoupdate.cfg in the base folder.
#include <string>

#include "applier/base_tree.h"
#include "db/database.h"
#include "db/install_state.h"
#include "db/state_file_names.h"

namespace nx::applier {

// The state files are read by path: autoupdate.db, autoupdate.cfg and
// Config/lang.cfg must each be a plain file when present, never a link or a
// pipe. Throws ApplierError kPathRefused for a link, kBadDatabase otherwise.
void checkStateFiles(BaseTree& tree);

// Loads the installed database's metadata and autoupdate.cfg (a missing cfg
// leaves the database's defaults with the main module). Throws ApplierError
// kBadDatabase.
void loadInstalledDatabase(const std::wstring& base, Database& db);
// Loads the file lists of the selected modules. Throws ApplierError kBadDatabase.
void loadInstalledFileLists(const std::wstring& base, Database& db, const char* which);

}  // namespace nx::applier
