#include "db/module_set.h"

#include <algorithm>
#include <stdexcept>

namespace nx {

bool selectModule(Database& db, const std::string& name, MiniLog& log) {
  auto found = db.modules.find(name);
  if (found == db.modules.end()) return false;
  found->second = true;
  for (const auto& group : db.exclusive_modules) {
    if (std::find(group.begin(), group.end(), name) == group.end()) continue;
    for (const auto& member : group) {
      if (member == name) continue;
      auto other = db.modules.find(member);
      if (other == db.modules.end() || !other->second) continue;
      other->second = false;
      log.log(MiniLog::INFO, "Removed module %s in favor of %s", member.c_str(), name.c_str());
    }
  }
  return true;
}

void addModule(Database& db, const std::string& name) {
  auto found = db.modules.find(name);
  if (found == db.modules.end()) throw std::runtime_error("Can't add unknown mod \"" + name + "\"");
  found->second = true;
}

void removeModule(Database& db, const std::string& name) {
  auto found = db.modules.find(name);
  if (found == db.modules.end()) throw std::runtime_error("Can't del unknown mod \"" + name + "\"");
  if (name == db.main) throw std::runtime_error("Can't del main module \"" + name + "\"");
  found->second = false;
}

std::vector<std::string> modulesToInstall(const std::vector<std::string>& requested, const Database& installed) {
  std::vector<std::string> out;
  for (const std::string& name : requested) {
    auto found = installed.modules.find(name);
    if (found == installed.modules.end() || !found->second) out.push_back(name);
  }
  return out;
}

}  // namespace nx
