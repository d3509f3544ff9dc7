#include "app/maintenance.h"

#include <exception>
#include <stdexcept>

#include "base/paths.h"
#include "base/text.h"
#include "db/atomic_file.h"
#include "db/database.h"
#include "db/install_state.h"
#include "db/module_set.h"
#include "db/object_id.h"
#include "net/file_cache.h"
#include "sys/files.h"
#include "ui/message_box.h"

namespace nx {

namespace {

// Both commands report every failure the same way and end with exit code 2.
int reportFailure(const std::exception& e) {
  ui::messageBox(fromUtf8(e.what()), L"Error", ui::Icon::Error, ui::Buttons::Ok);
  return 2;
}

// Takes the listed digest for every installed file of a selected module that
// has its listed size: init trusts a fresh copy rather than read it all. A
// file of another size, or anything but a regular file, stays unknown and
// is hashed by the first update.
void seedLocalFields(Database& db, const std::wstring& baseFolder) {
  for (auto& [path, record] : db.files) {
    auto module = db.modules.find(record.module);
    if (module == db.modules.end() || !module->second || !isSafeRelativePath(record.path)) continue;
    sys::FileInfo info;
    if (!sys::fileInfo(joinPath(baseFolder, record.path), &info) || info.isFolder || info.isDevice) continue;
    if (info.size != record.size) continue;
    record.local_hash = record.hash;
    record.local_size = info.size;
    record.local_time = info.writeTime;
  }
}

void runInit(const std::vector<std::wstring>& words, const std::wstring& baseFolder, const std::wstring& writeFolder,
             MiniLog& log) {
  // An empty word would leave an installation without language or arch.
  if (words.size() < 2 || words[1].empty() || (words.size() > 2 && words[2].empty()))
    throw std::runtime_error("Usage: init LANG [ARCH]");
  const std::string lang = toUtf8(words[1]);
  // Written first, so the language is recorded even when the database fails.
  writeFileAtomically(joinPath(baseFolder, L"Config/lang.cfg"), lang);

  const std::wstring dbPath = joinPath(baseFolder, L"autoupdate.db");
  Database db;
  loadMetadata(kInvalidStructure, db, dbPath);
  db.lang = lang;
  db.arch = words.size() > 2 ? toUtf8(words[2]) : "x86_64";
  selectModule(db, db.main, log);
  saveInstallState(joinPath(baseFolder, L"autoupdate.cfg"), db);
  loadFileLists(db, dbPath);
  seedLocalFields(db, baseFolder);
  saveFileCache(joinPath(writeFolder, L"autoupdate.cache"), db);
}

void runModconfig(const std::vector<std::wstring>& words, const std::wstring& baseFolder) {
  if (words.size() < 3) throw std::runtime_error("Usage: modconfig (reg_fast|reg|unreg) (modname)+");
  const std::wstring cfgPath = joinPath(baseFolder, L"autoupdate.cfg");
  Database db;
  loadDatabaseCore(kInvalidStructure, db, joinPath(baseFolder, L"autoupdate.db"), cfgPath);
  const std::string op = toUtf8(words[1]);
  // Every name is applied in memory first: one bad name leaves the file as it was.
  for (size_t i = 2; i < words.size(); ++i) {
    const std::string name = toUtf8(words[i]);
    if (op == "reg_fast" || op == "reg")
      addModule(db, name);
    else if (op == "unreg")
      removeModule(db, name);
    else
      throw std::runtime_error("unknown operation " + op);
  }
  saveInstallState(cfgPath, db);
}

}  // namespace

int init(const std::vector<std::wstring>& words, const std::wstring& baseFolder, const std::wstring& writeFolder,
         MiniLog& log) {
  try {
    runInit(words, baseFolder, writeFolder, log);
    return 0;
  } catch (const std::exception& e) {
    return reportFailure(e);
  }
}

int modconfig(const std::vector<std::wstring>& words, const std::wstring& baseFolder,
              const std::wstring& /*writeFolder*/) {
  try {
    runModconfig(words, baseFolder);
    return 0;
  } catch (const std::exception& e) {
    return reportFailure(e);
  }
}

}  // namespace nx
