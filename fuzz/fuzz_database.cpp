// A whole update database file: metadata, then the file lists of every
// module it names, as the updater loads a downloaded database.
#include <cstdint>

#include "db/database.h"
#include "db/install_state.h"
#include "db/object_id.h"
#include "fuzz_util.h"
#include "io/io_error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring path = nx::fuzz::scratch().write("autoupdate.db", data, size);
  nx::Database db;
  try {
    nx::loadMetadata(nx::kInvalidStructure, db, path);
  } catch (const nx::IOError&) {
    db.modules = {{"main", true}};
  }
  for (auto& [name, selected] : db.modules) selected = true;
  try {
    nx::loadFileLists(db, path);
  } catch (const nx::IOError&) {
  }
  for (const auto& [filePath, record] : db.files) {
    nx::fuzz::require(nx::isSafeRelativePath(filePath), "paths stay below the base folder");
    nx::fuzz::require(nx::isObjectId(record.hash), "hashes are object ids");
  }
  return 0;
}
