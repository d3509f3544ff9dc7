#include <new>
#include <stdexcept>

#include "base/text.h"
#include "db/database.h"
#include "db/json.h"
#include "io/io_error.h"

namespace nx {

namespace {

std::string requiredString(yajl_val root, const char* key, const std::string& errorText) {
  yajl_val value = findKey(root, key, yajl_t_string);
  if (!value) throw std::runtime_error(errorText);
  return value->u.string;
}

std::string optionalString(yajl_val root, const char* key) {
  yajl_val value = findKey(root, key, yajl_t_any);
  return YAJL_IS_STRING(value) ? value->u.string : std::string();
}

void readMetadata(const std::string& errorText, Database& db, yajl_val root) {
  uint64_t format = 0;
  db.format = getUnsigned(findKey(root, "format", yajl_t_any), format) ? format : 0;

  db.timestamp = requiredString(root, "timestamp", errorText);
  db.version = requiredString(root, "version", errorText);

  db.update_url.clear();
  yajl_val urls = findKey(root, "update_url", yajl_t_any);
  if (YAJL_IS_STRING(urls)) {
    db.update_url.emplace_back(urls->u.string);
  } else if (YAJL_IS_ARRAY(urls) && urls->u.array.len > 0) {
    getStringList(urls, db.update_url, errorText);
  } else {
    throw std::runtime_error(errorText);
  }

  db.tag = requiredString(root, "tag", errorText);

  yajl_val setup = findKey(root, "setup", yajl_t_array);
  if (!setup) throw std::runtime_error(errorText);
  db.setup.clear();
  for (size_t i = 0; i < setup->u.array.len; ++i) {
    yajl_val entry = setup->u.array.values[i];
    if (!YAJL_IS_ARRAY(entry) || entry->u.array.len != 2 || !YAJL_IS_STRING(entry->u.array.values[0]))
      throw std::runtime_error(errorText);
    db.setup.push_back({entry->u.array.values[0]->u.string, getBool(entry->u.array.values[1], errorText)});
  }

  getStringList(findKey(root, "launch", yajl_t_any), db.launch, errorText);
  getStringList(findKey(root, "apply", yajl_t_any), db.apply, errorText);

  yajl_val modules = findKey(root, "modules", yajl_t_array);
  if (!modules) throw std::runtime_error(errorText);
  db.modules.clear();
  for (size_t i = 0; i < modules->u.array.len; ++i) {
    yajl_val name = modules->u.array.values[i];
    if (!YAJL_IS_STRING(name)) throw std::runtime_error(errorText);
    db.modules.emplace(name->u.string, false);
  }

  db.main = requiredString(root, "main", errorText);
  db.modules[db.main] = true;

  db.lang = optionalString(root, "lang");
  db.arch = optionalString(root, "arch");

  db.exclusive_modules.clear();
  yajl_val groups = findKey(root, "exclusive_modules", yajl_t_array);
  if (groups) {
    for (size_t i = 0; i < groups->u.array.len; ++i) {
      std::vector<std::string> group;
      getStringList(groups->u.array.values[i], group, errorText);
      db.exclusive_modules.push_back(std::move(group));
    }
  }
}

}  // namespace

void loadMetadata(const std::string& errorText, Database& db, const std::wstring& dbPath) {
  try {
    JsonTree root = parseJsonMember(dbPath, "metadata.json");
    readMetadata(errorText, db, root.get());
  } catch (const std::runtime_error& e) {
    throw IOError(L"parse_db_core", dbPath, fromUtf8(e.what()));
  } catch (const std::bad_alloc&) {
    throw IOError(L"parse_db_core", dbPath, L"out of memory");
  }
}

std::vector<std::string> selectedModules(const Database& db) {
  std::vector<std::string> names;
  for (const auto& [name, selected] : db.modules)
    if (selected) names.push_back(name);
  return names;
}

}  // namespace nx
