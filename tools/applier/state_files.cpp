#include "applier/state_files.h"

#include "applier/applier_error.h"
#include "base/paths.h"
#include "db/install_state.h"
#include "db/json.h"
#include "io/io_error.h"

namespace nx::applier {

void checkStateFiles(BaseTree& tree) {
  for (const char* name : {"autoupdate.db", "autoupdate.cfg", "Config/lang.cfg"}) {
    TreePath path;
    splitTreePath(name, &path);
    sys::EntryInfo entry = tree.info(path);
    if (entry.type == sys::EntryType::link)
      failWithCode(kPathRefused, std::string("\"") + name + "\" in the base folder is a symbolic link; refused");
    if (entry.type != sys::EntryType::missing && entry.type != sys::EntryType::file)
      failWithCode(kBadDatabase, std::string("\"") + name + "\" in the base folder is not a file");
  }
}

void loadInstalledDatabase(const std::wstring& base, Database& db) {
  try {
    loadDatabaseCore(kInvalidStructure, db, joinPath(base, L"autoupdate.db"), joinPath(base, L"autoupdate.cfg"));
  } catch (const std::runtime_error& e) {
    failWithCode(kBadDatabase, std::string("the installed database cannot be read: ") + e.what());
  }
}

void loadInstalledFileLists(const std::wstring& base, Database& db, const char* which) {
  try {
    loadFileLists(db, joinPath(base, L"autoupdate.db"));
  } catch (const std::runtime_error& e) {
    failWithCode(kBadDatabase, std::string("the file lists of the ") + which + " cannot be read: " + e.what());
  }
}

}  // namespace nx::applier
