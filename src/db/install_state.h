#pragma once
// The installation state: autoupdate.cfg (arch, language, selected modules)
// applied on top of the database's defaults, the language file, and the
// state carried into a newly downloaded database.
#include <string>
#include <vector>

#include "base/mini_log.h"
#include "db/database.h"

namespace nx {

// The error text every caller hands to the database and state readers.
inline const std::string kInvalidStructure = "invalid database structure";

// Applies autoupdate.cfg to a database whose metadata is loaded; arch
// defaults to "x86_64", the language comes from Config/lang.cfg beside the
// cfg when neither has one. A missing file throws OpenFileError unchanged,
// other failures IOError "parse_config" (a file that inflates to more than
// kMaxJsonDocument is a "JSON error" there).
void loadInstallState(const std::string& errorText, Database& db, const std::wstring& cfgPath);
// Sets db.lang to the lower-cased run of letters at the start of the file
// (first 64 bytes); empty when the file is missing or unreadable.
void readLanguageFile(Database& db, const std::wstring& path);
// The text of autoupdate.cfg for a database: arch, lang and the selected
// modules, beautified.
std::string installStateText(const Database& db);
// Writes arch, lang and the selected modules. Throws IOError "create"/"write";
// the previous file stays intact on failure.
void saveInstallState(const std::wstring& cfgPath, const Database& db);
// Metadata, then the state when autoupdate.cfg exists.
void loadDatabaseCore(const std::string& errorText, Database& db, const std::wstring& dbPath,
                      const std::wstring& cfgPath);

// Loads the newly downloaded database at newDbPath with the installation's
// arch, its selected modules (exclusive groups of the new database apply),
// the language of Config/lang.cfg and the modules of installList, then its
// file lists.
void carryInstallState(Database& newDb, const std::wstring& newDbPath, const Database& currentDb,
                       const std::wstring& baseFolder, const std::vector<std::string>& installList, MiniLog& log);

// The four INFO lines that describe a loaded installation.
void logInstallation(const Database& db, MiniLog& log);

}  // namespace nx
