#include "db/settings.h"

#include <new>
#include <stdexcept>

#include "base/paths.h"
#include "db/install_state.h"
#include "db/json.h"
#include "sys/clock.h"

namespace nx {

namespace {

void readSettings(UpdaterSettings& s) {
  JsonTree root = parseJsonFile(s.path);
  if (!getUnsigned(findKey(root.get(), "update_period", yajl_t_number), s.update_period))
    throw std::runtime_error(kInvalidStructure);
  if (!getUnsigned(findKey(root.get(), "last_update", yajl_t_number), s.last_update))
    throw std::runtime_error(kInvalidStructure);
  yajl_val updateTo = findKey(root.get(), "update_to", yajl_t_any);
  s.update_to = YAJL_IS_STRING(updateTo) ? updateTo->u.string : std::string();
  auto readSwitch = [&](const char* key, bool& field) {
    yajl_val value = findKey(root.get(), key, yajl_t_any);
    if (YAJL_IS_TRUE(value)) field = true;
    if (YAJL_IS_FALSE(value)) field = false;
  };
  readSwitch("debug_no_hash_check", s.debug_no_hash_check);
  readSwitch("debug_keep_updater", s.debug_keep_updater);
  readSwitch("debug_dont_repair", s.debug_dont_repair);
}

}  // namespace

UpdaterSettings::~UpdaterSettings() {
  if (changed) saveSettings(*this);
}

std::wstring UpdaterSettings::pathIn(const std::wstring& writeFolder) {
  return joinPath(writeFolder, L"Config/autoupdate.settings");
}

void loadSettings(UpdaterSettings& settings) {
  try {
    readSettings(settings);
  } catch (const std::runtime_error& e) {
    settings.log.log(MiniLog::ERROR, "Can't load autoupdate settings: %s", e.what());
  } catch (const std::bad_alloc&) {
    settings.log.log(MiniLog::ERROR, "Can't load autoupdate settings: %s", "out of memory");
  }
}

void saveSettings(const UpdaterSettings& settings) {
  try {
    writeJsonFile(settings.path, [&](yajl_gen gen) {
      jsonMapOpen(gen);
      jsonMember(gen, "update_period", static_cast<int64_t>(settings.update_period));
      jsonMember(gen, "last_update", static_cast<int64_t>(settings.last_update));
      if (!settings.update_to.empty()) {
        jsonMember(gen, "update_to", settings.update_to);
      }
      auto writeSwitch = [&](const char* key, bool on) {
        if (!on) return;
        jsonString(gen, key);
        jsonBool(gen, true);
      };
      writeSwitch("debug_no_hash_check", settings.debug_no_hash_check);
      writeSwitch("debug_keep_updater", settings.debug_keep_updater);
      writeSwitch("debug_dont_repair", settings.debug_dont_repair);
      jsonMapClose(gen);
    });
  } catch (const std::runtime_error& e) {
    settings.log.log(MiniLog::ERROR, "Can't save autoupdate settings: %s", e.what());
  }
}

uint64_t today() { return sys::fileTimeNow() / 864000000000ull; }

}  // namespace nx
