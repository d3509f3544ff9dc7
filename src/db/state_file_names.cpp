#include "db/state_file_names.h"

#include <string>

namespace nx {

bool isStateFileName(std::string_view path) {
  static const char* const kNames[] = {
      // the base folder's
      "autoupdate.db", "autoupdate.cfg", "config/lang.cfg", "config/autoupdate.tag", "config/retail.cfg",
      "applier.journal",
      // the write folder's
      "autoupdate.cache", "autoupdate.lock", "config/autoupdate.settings", "logs/uninstall.log",
      "logs/autoupdate.log", "logs/autoupdate.log.old", "logs/autoupdate.log.1", "logs/autoupdate.log.2",
      "logs/autoupdate.log.3", "logs/autoupdate.log.4"};
  std::string lower(path);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  for (const char* name : kNames)
    if (lower == name) return true;
  return false;
}

}  // namespace nx
