#pragma once
// Per-user updater settings (Config/autoupdate.settings in the write folder).
// Loading and saving never throw: a failure is one ERROR line in the log and
// the run goes on with what is in memory (a file that inflates to more than
// kMaxJsonDocument is such a failure). The object saves itself when it goes
// away with `changed` set.
#include <cstdint>
#include <string>

#include "base/mini_log.h"

namespace nx {

struct UpdaterSettings {
  UpdaterSettings(const std::wstring& path, MiniLog& log) : path(path), log(log) {}
  ~UpdaterSettings();
  UpdaterSettings(const UpdaterSettings&) = delete;
  UpdaterSettings& operator=(const UpdaterSettings&) = delete;

  // The settings file of a write folder.
  static std::wstring pathIn(const std::wstring& writeFolder);

  bool debug_no_hash_check = false;
  bool debug_keep_updater = false;
  bool debug_dont_repair = false;
  uint64_t update_period = 1;  // days between automatic checks; 0: never
  uint64_t last_update = 0;    // day of the last automatic check, as today()
  std::string update_to;       // version or channel wanted instead of the installed one
  std::wstring path;
  bool changed = false;
  MiniLog& log;
};

void loadSettings(UpdaterSettings& settings);
// Replaces the file only once the new content is complete.
void saveSettings(const UpdaterSettings& settings);

// Whole days since 1601-01-01 UTC.
uint64_t today();

}  // namespace nx
