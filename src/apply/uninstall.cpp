#include "apply/uninstall.h"

#include <exception>
#include <stdexcept>

#include "apply/launch_commands.h"
#include "apply/run_elevated.h"
#include "base/error_model.h"
#include "base/paths.h"
#include "base/text.h"
#include "db/install_state.h"
#include "db/object_id.h"
#include "io/file_writer.h"
#include "ui/report_exception.h"

namespace nx {

namespace {

// The applier's arguments for removing the named modules (none: everything).
std::vector<std::wstring> applierCommand(const std::vector<std::wstring>& words, const Database& database,
                                         const std::wstring& baseFolder, const std::wstring& writeFolder,
                                         const std::wstring& tempFolder) {
  if (words.size() < 2) throw std::runtime_error("uninstall *|(modname)+");
  std::vector<std::string> names;
  if (!(words.size() == 2 && words[1] == L"*")) {
    for (size_t i = 1; i < words.size(); ++i) {
      std::string name = toUtf8(words[i]);
      if (database.modules.count(name) == 0) throw std::runtime_error("Unknown module to uninstall: " + name);
      names.push_back(std::move(name));
    }
  }
  // The applier runs elevated: its path must stay inside the installation.
  if (database.apply.empty() || !isSafeRelativePath(database.apply[0]))
    throw std::runtime_error("Database error: bad apply list.");

  std::vector<std::wstring> command{joinPath(baseFolder, database.apply[0]), baseFolder, writeFolder, tempFolder,
                                    L"uninstall"};
  for (const std::string& name : names) command.push_back(fromUtf8(name));
  return command;
}

}  // namespace

int uninstall(const std::vector<std::wstring>& words, const std::wstring& baseFolder, const std::wstring& writeFolder,
              const std::wstring& tempFolder, MiniLog& log, bool runFlag, std::vector<std::wstring> forwardedOptions) {
  int result = 1;  // a failure before the installation is read
  Database database;
  try {
    loadMetadata(kInvalidStructure, database, joinPath(baseFolder, L"autoupdate.db"));
    loadInstallState(kInvalidStructure, database, joinPath(baseFolder, L"autoupdate.cfg"));
    result = 2;
    const std::vector<std::wstring> command = applierCommand(words, database, baseFolder, writeFolder, tempFolder);
    {
      // The applier writes its report into a fresh, empty file.
      FileWriter report(joinPath(writeFolder, L"Logs/uninstall.log"));
      report.close();
    }
    result = runElevated(command);
  } catch (const std::exception& e) {
    reportException(log, e);
    return result;
  }

  if (runFlag && launchCommands(database, baseFolder, log, std::move(forwardedOptions)) == 0)
    reportException(log, std::runtime_error("Can't start VELTRA!"));
  return result;
}

}  // namespace nx
