#include "apply/uninstall.h"

#include <exception>
#include <stdexcept>

#include "apply/launch_commands.h"
#include "apply/run_elevated.h"
#include "base/error_model.h"
#include "base/folders.h"
#include "base/paths.h"
#include "base/text.h"
#include "db/install_state.h"
#include "db/object_id.h"
#include "io/file_writer.h"
#include "sys/errors.h"
#include "sys/files.h"
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

// What the applier calls a file it has set aside while it changes the
// installation. A whole removal that was killed after it set the database
// aside leaves the installation without one; the applier settles such a
// change first of all, so it is found, and started, from what was set aside.
const wchar_t kAsideSuffix[] = L".nxapply-old";

std::wstring present(const std::wstring& path) {
  return sys::exists(path) || !sys::exists(path + kAsideSuffix) ? path : path + kAsideSuffix;
}

// The installation is found by its database; without one, by the database
// that was set aside, looked for the same way (from the -b/--basedir
// argument, else from this program's folder up).
std::wstring installationFolder(const std::wstring& baseFolder, const std::vector<std::wstring>& forwardedOptions) {
  if (sys::exists(joinPath(baseFolder, L"autoupdate.db"))) return baseFolder;
  std::wstring argument;
  for (size_t i = 0; i + 1 < forwardedOptions.size(); ++i)
    if (forwardedOptions[i] == L"-b" || forwardedOptions[i] == L"--basedir") argument = forwardedOptions[i + 1];
  const std::wstring aside = resolveBaseFolder(std::wstring(L"autoupdate.db") + kAsideSuffix, argument);
  return aside.empty() ? baseFolder : aside;
}

// A whole removal killed just before its very end leaves only the set-aside
// database: the applier had removed everything else, itself included. What
// it would still do is done here: the applier's emptied folders and the
// database go. Only a warning when the user may not delete them (the
// product is gone all the same).
void finishRemoval(const std::wstring& baseFolder, const Database& database, const std::wstring& db, MiniLog& log) {
  log.log(MiniLog::INFO, "Uninstall: only the set-aside database is left of \"%s\"", toUtf8(baseFolder).c_str());
  std::string folder = database.apply[0];
  for (size_t slash; (slash = folder.find_last_of("/\\")) != std::string::npos;) {
    folder.resize(slash);
    if (!sys::removeFolder(joinPath(baseFolder, fromUtf8(folder)))) break;
  }
  if (!sys::deleteFile(db))
    log.log(MiniLog::WARNING, "Can't remove \"%s\": %s", toUtf8(db).c_str(),
            sys::errorMessage(sys::lastError()).c_str());
}

}  // namespace

bool interruptedChange(const std::wstring& baseFolder) {
  for (const wchar_t* name : {L"autoupdate.db", L"autoupdate.cfg"}) {
    const std::wstring path = joinPath(baseFolder, name);
    if (!sys::exists(path) && sys::exists(path + kAsideSuffix)) return true;
  }
  return false;
}

int uninstall(const std::vector<std::wstring>& words, const std::wstring& resolvedBase, const std::wstring& writeFolder,
              const std::wstring& tempFolder, MiniLog& log, bool runFlag, std::vector<std::wstring> forwardedOptions) {
  int result = 1;  // a failure before the installation is read
  const std::wstring baseFolder = installationFolder(resolvedBase, forwardedOptions);
  Database database;
  try {
    const std::wstring db = present(joinPath(baseFolder, L"autoupdate.db"));
    const bool interrupted = db.ends_with(kAsideSuffix);
    if (interrupted)
      log.log(MiniLog::INFO, "Uninstall: settling an interrupted change of \"%s\"", toUtf8(baseFolder).c_str());
    loadMetadata(kInvalidStructure, database, db);
    const std::wstring cfg = present(joinPath(baseFolder, L"autoupdate.cfg"));
    if (!interrupted || sys::exists(cfg)) loadInstallState(kInvalidStructure, database, cfg);
    result = 2;
    std::vector<std::wstring> command = applierCommand(words, database, baseFolder, writeFolder, tempFolder);
    command[0] = present(command[0]);
    if (interrupted && command.size() == 5 && !sys::exists(command[0])) {
      finishRemoval(baseFolder, database, db, log);
      result = 0;
    } else {
      {
        // The applier writes its report into a fresh, empty file.
        FileWriter report(joinPath(writeFolder, L"Logs/uninstall.log"));
        report.close();
      }
      result = runElevated(command);
    }
  } catch (const std::exception& e) {
    reportException(log, e);
    return result;
  }

  if (runFlag && launchCommands(database, baseFolder, log, std::move(forwardedOptions)) == 0)
    reportException(log, std::runtime_error("Can't start VELTRA!"));
  return result;
}

}  // namespace nx
