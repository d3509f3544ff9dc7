#include "db/install_state.h"

#include <new>
#include <stdexcept>

#include "base/paths.h"
#include "base/text.h"
#include "db/atomic_file.h"
#include "db/json.h"
#include "db/module_set.h"
#include "io/file_reader.h"
#include "io/io_error.h"

namespace nx {

namespace {

void applyState(const std::string& errorText, Database& db, yajl_val root) {
  if (yajl_val arch = findKey(root, "arch", yajl_t_string)) db.arch = arch->u.string;
  if (yajl_val lang = findKey(root, "lang", yajl_t_string)) db.lang = lang->u.string;
  if (yajl_val modules = findKey(root, "modules", yajl_t_array)) {
    for (size_t i = 0; i < modules->u.array.len; ++i) {
      yajl_val name = modules->u.array.values[i];
      if (!YAJL_IS_STRING(name)) throw std::runtime_error(errorText);
      db.modules[name->u.string] = true;
    }
  }
}

}  // namespace

void loadInstallState(const std::string& errorText, Database& db, const std::wstring& cfgPath) {
  if (db.arch.empty()) db.arch = "x86_64";
  try {
    JsonTree root = parseJsonFile(cfgPath);
    applyState(errorText, db, root.get());
  } catch (const OpenFileError&) {
    throw;
  } catch (const std::runtime_error& e) {
    throw IOError(L"parse_config", cfgPath, fromUtf8(e.what()));
  } catch (const std::bad_alloc&) {
    throw IOError(L"parse_config", cfgPath, L"out of memory");
  }
  if (db.lang.empty()) readLanguageFile(db, joinPath(parentFolder(cfgPath), L"Config/lang.cfg"));
}

void readLanguageFile(Database& db, const std::wstring& path) {
  db.lang.clear();
  for (char c : readFileHead(path, 64)) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c < 'a' || c > 'z') break;
    db.lang.push_back(c);
  }
}

std::string installStateText(const Database& db) {
  return generateJson([&](yajl_gen gen) {
    jsonMapOpen(gen);
    jsonMember(gen, "arch", db.arch);
    jsonMember(gen, "lang", db.lang);
    jsonString(gen, "modules");
    jsonArrayOpen(gen);
    for (const auto& [name, selected] : db.modules)
      if (selected) jsonString(gen, name);
    jsonArrayClose(gen);
    jsonMapClose(gen);
  });
}

void saveInstallState(const std::wstring& cfgPath, const Database& db) {
  writeFileAtomically(cfgPath, installStateText(db));
}

void loadDatabaseCore(const std::string& errorText, Database& db, const std::wstring& dbPath,
                      const std::wstring& cfgPath) {
  loadMetadata(errorText, db, dbPath);
  try {
    loadInstallState(errorText, db, cfgPath);
  } catch (const OpenFileError&) {
    // No state yet: the database's defaults and its main module stand.
  }
}

void carryInstallState(Database& newDb, const std::wstring& newDbPath, const Database& currentDb,
                       const std::wstring& baseFolder, const std::vector<std::string>& installList, MiniLog& log) {
  loadMetadata(kInvalidStructure, newDb, newDbPath);
  newDb.arch = currentDb.arch;
  for (const auto& name : selectedModules(currentDb)) selectModule(newDb, name, log);
  readLanguageFile(newDb, joinPath(baseFolder, L"Config/lang.cfg"));
  for (const auto& name : installList) selectModule(newDb, name, log);
  loadFileLists(newDb, newDbPath);
}

void logInstallation(const Database& db, MiniLog& log) {
  std::string modules;
  for (const auto& name : selectedModules(db)) {
    if (!modules.empty()) modules += ',';
    modules += name;
  }
  log.log(MiniLog::INFO, "Current version: %s", db.version.c_str());
  log.log(MiniLog::INFO, "Arch: %s", db.arch.c_str());
  log.log(MiniLog::INFO, "Lang: %s", db.lang.c_str());
  log.log(MiniLog::INFO, "Installed modules: %s", modules.c_str());
}

}  // namespace nx
