#pragma once
// The installation's own state files as the applier reads and writes them:
// autoupdate.db and autoupdate.cfg in the base folder.
#include <string>

#include "db/database.h"

namespace nx::applier {

// Loads the installed database's metadata and autoupdate.cfg (a missing cfg
// leaves the database's defaults with the main module). Throws ApplierError
// kBadDatabase.
void loadInstalledDatabase(const std::wstring& base, Database& db);
// Loads the file lists of the selected modules. Throws ApplierError kBadDatabase.
void loadInstalledFileLists(const std::wstring& base, Database& db, const char* which);

// The text autoupdate.cfg gets for db: arch, lang and the selected modules,
// exactly as saveInstallState writes it.
std::string installStateText(const Database& db);

// True for the state files a database must not list as product files.
bool isStateFileName(const std::string& path);

}  // namespace nx::applier
