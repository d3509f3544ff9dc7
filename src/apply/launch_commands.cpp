#include "apply/launch_commands.h"

#include "apply/process_start.h"
#include "base/paths.h"
#include "base/text.h"
#include "db/object_id.h"
#include "sys/files.h"

namespace nx {

int launchCommands(const Database& database, const std::wstring& baseFolder, MiniLog& log,
                   std::vector<std::wstring> extraArguments) {
  log.log(MiniLog::INFO, "LAUNCH found %d commands", static_cast<int>(database.launch.size()));
  int started = 0;
  for (const std::string& entry : database.launch) {
    const std::wstring program = joinPath(baseFolder, entry);
    const std::string shown = toUtf8(program);
    sys::FileInfo info;
    // An entry that would leave the installation is never started.
    if (!isSafeRelativePath(entry)) {
      log.log(MiniLog::ERROR, "LAUNCH refused \"%s\": the path leaves the installation folder", entry.c_str());
      continue;
    }
    if (!sys::fileInfo(program, &info) || info.isFolder || info.isDevice) {
      log.log(MiniLog::ERROR, "LAUNCH file not exists \"%s\"", shown.c_str());
      continue;
    }
    std::vector<std::wstring> command{program};
    command.insert(command.end(), extraArguments.begin(), extraArguments.end());
    if (runProcess(command, false)) {
      log.log(MiniLog::INFO, "LAUNCH started \"%s\"", shown.c_str());
      ++started;
    } else {
      log.log(MiniLog::ERROR, "LAUNCH can't run \"%s\"", shown.c_str());
    }
  }
  return started;
}

}  // namespace nx
