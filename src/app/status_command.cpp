#include "app/status_command.h"

#include <cstdio>
#include <iostream>
#include <stdexcept>

#include "app/installation_check.h"
#include "base/paths.h"
#include "base/text.h"
#include "db/database.h"
#include "db/install_state.h"
#include "db/object_id.h"
#include "db/settings.h"
#include "sys/files.h"
#include "ui/report_exception.h"

namespace nx {

namespace {

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
      out += buffer;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

}  // namespace

std::string dayText(uint64_t day) {
  // Days since 1601-01-01 -> days since 1970-01-01 -> civil date.
  int64_t z = static_cast<int64_t>(day) - 134774 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  char buffer[80];
  std::snprintf(buffer, sizeof buffer, "%04lld-%02lld-%02lld", static_cast<long long>(y), static_cast<long long>(m),
                static_cast<long long>(d));
  return buffer;
}

int statusCommand(const std::vector<std::wstring>& words, const std::wstring& baseFolder,
                  const std::wstring& writeFolder, MiniLog& log) {
  const bool json = words.size() > 1 && words[1] == L"--json";
  Database db;
  try {
    requireInstallation(baseFolder);
    loadMetadata(kInvalidStructure, db, joinPath(baseFolder, L"autoupdate.db"));
    loadInstallState(kInvalidStructure, db, joinPath(baseFolder, L"autoupdate.cfg"));
  } catch (const std::exception& e) {
    reportException(log, e);
    return 2;
  }
  UpdaterSettings settings(UpdaterSettings::pathIn(writeFolder), log);
  loadSettings(settings);
  // The applier's journal outlives only a change that did not finish.
  const bool pending = sys::exists(joinPath(writeFolder, L"applier.journal"));
  const std::vector<std::string> modules = selectedModules(db);
  const std::string lastCheck = settings.last_update ? dayText(settings.last_update) : "";

  if (json) {
    std::string list;
    for (const std::string& m : modules) list += (list.empty() ? "" : ", ") + jsonString(m);
    std::cout << "{\"product\": \"VELTRA\", \"version\": " << jsonString(db.version)
              << ", \"arch\": " << jsonString(db.arch) << ", \"lang\": " << jsonString(db.lang) << ", \"modules\": ["
              << list << "], \"base_folder\": " << jsonString(toUtf8(baseFolder))
              << ", \"write_folder\": " << jsonString(toUtf8(writeFolder))
              << ", \"last_check\": " << (lastCheck.empty() ? "null" : jsonString(lastCheck))
              << ", \"pending_update\": " << (pending ? "true" : "false") << "}\n";
  } else {
    std::string list;
    for (const std::string& m : modules) list += (list.empty() ? "" : ", ") + m;
    std::cout << "VELTRA " << db.version << " (" << db.arch << ", " << db.lang << ")\n"
              << "modules: " << list << "\n"
              << "installation: " << toUtf8(baseFolder) << "\n"
              << "write folder: " << toUtf8(writeFolder) << "\n"
              << "last check: " << (lastCheck.empty() ? "never" : lastCheck) << "\n"
              << "pending update: " << (pending ? "an interrupted update waits to be settled by the next one" : "none")
              << "\n";
  }
  std::cout.flush();
  return 0;
}

}  // namespace nx
