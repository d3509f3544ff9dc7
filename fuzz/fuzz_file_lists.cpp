// One streamed file list through the event parser; whatever it keeps must be
// safe to use as a path below the base folder and as an object file name.
#include <cstdint>
#include <stdexcept>

#include "db/database.h"
#include "db/object_id.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  nx::Database db;
  nx::MemoryReader source(data, size);
  try {
    nx::readFileList(db, "m", source);
  } catch (const std::runtime_error&) {
  }
  for (const auto& [path, record] : db.files) {
    nx::fuzz::require(path == record.path && record.module == "m", "records keyed by their path");
    nx::fuzz::require(nx::isSafeRelativePath(path), "paths stay below the base folder");
    nx::fuzz::require(nx::isObjectId(record.hash), "hashes are object ids");
  }
  return 0;
}
