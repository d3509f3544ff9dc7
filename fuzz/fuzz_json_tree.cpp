// Whole JSON documents (metadata.json, the state files, the server reply)
// through the tree parser and the typed lookups every format reader uses.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    nx::JsonTree tree = nx::parseJsonText(std::string(reinterpret_cast<const char*>(data), size));
    yajl_val root = tree.get();
    for (const char* key : {"format", "version", "update_url", "modules", "last_update", "download_url", "versions"}) {
      uint64_t number = 0;
      nx::getUnsigned(nx::findKey(root, key, yajl_t_any), number);
      std::vector<std::string> list;
      try {
        nx::getStringList(nx::findKey(root, key, yajl_t_any), list, "invalid database structure");
        nx::getBool(nx::findKey(root, key, yajl_t_any), "invalid database structure");
      } catch (const std::runtime_error&) {
      }
    }
  } catch (const std::runtime_error&) {
  }
  return 0;
}
