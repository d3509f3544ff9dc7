// The stages that finish an update in processes of their own: "continue"
// downloads the rest of an update with the new updater program, "bootstrap"
// runs the applier with administrator rights and starts the product.
#include "app/stages.h"

#include <exception>
#include <optional>
#include <stdexcept>

#include "app/download_and_hand_over.h"
#include "apply/launch_commands.h"
#include "apply/pending_hand_over.h"
#include "apply/run_elevated.h"
#include "apply/stage_arguments.h"
#include "base/error_model.h"
#include "base/folders.h"
#include "base/mini_log_file.h"
#include "base/paths.h"
#include "base/string_resource.h"
#include "base/text.h"
#include "db/install_state.h"
#include "db/module_set.h"
#include "db/object_id.h"
#include "db/settings.h"
#include "net/autoupdater.h"
#include "net/object_store.h"
#include "res/string_table.h"
#include "sys/child_process.h"
#include "sys/files.h"
#include "sys/owned_handle.h"
#include "sys/process.h"
#include "ui/backend.h"
#include "ui/lock_wait.h"
#include "ui/message_box.h"
#include "ui/report_exception.h"

namespace nx {

namespace {

constexpr int kBootstrapFailed = 111;
constexpr int kContinueFailedLogged = 112;
constexpr int kContinueFailedEarly = 113;
// The lock is normally held by the process that started this stage, which
// is ending: ask every tenth of a second, for a minute, as the applier does.
constexpr uint32_t kLockAttempts = 600;
constexpr uint32_t kLockPeriodMs = 100;

std::wstring logPath(const std::wstring& writeFolder) { return joinPath(writeFolder, L"Logs/autoupdate.log"); }

// The folder without a trailing separator, so a link is seen as a link.
std::wstring withoutTrailingSeparator(std::wstring folder) {
  while (folder.size() > 1 && (folder.back() == L'/' || folder.back() == L'\\')) folder.pop_back();
  return folder;
}

// Nothing runs elevated from a folder that someone else could change.
void refuseUnsafeFolder(const std::wstring& folder) {
  if (std::string unsafe = unsafeFolderMessage(withoutTrailingSeparator(folder)); !unsafe.empty())
    throw std::runtime_error(unsafe);
}

int bootstrap(const std::vector<std::wstring>& arguments, size_t at) {
  const StageArguments stage = readStageArguments(arguments, at);
  refuseUnsafeFolder(stage.stagingFolder);
  PendingHandOver pending(stage.stagingFolder);
  Database database;
  loadMetadata(kInvalidStructure, database, objectPath(stage.stagingFolder, stage.databaseId));
  // The applier's name becomes a path below, and that program runs elevated.
  const std::string applierName = database.apply.empty() ? std::string() : fileNamePart(database.apply[0]);
  if (!isSafeRelativePath(applierName)) throw std::runtime_error("Database error: bad apply list.");
  // This program runs from the staging folder, beside the extracted applier.
  const std::wstring folder = executableFolder();
  refuseUnsafeFolder(folder);

  std::vector<std::wstring> command{joinPath(folder, applierName)};
  command.insert(command.end(), arguments.begin() + static_cast<std::ptrdiff_t>(at) + 1, arguments.end());
  const int code = runElevated(command);
  pending.finish();
  if (code != 0) return code;

  if (database.format != 0)
    ui::alertBox(loadStringResource(res::kUpdateApplied), L"VELTRA Update", ui::Icon::Information);
  MiniLogFile log(logPath(stage.writeFolder), true);
  sys::setEnvironment(kWaitVariable, "");  // the product's own updater decides for itself
  if (launchCommands(database, stage.baseFolder, log, {}) == 0) throw std::runtime_error("Can't launch VELTRA.");
  return 0;
}

int continueWithLog(const StageArguments& stage, MiniLog& log, sys::Child& bootstrap) {
  PendingHandOver pending(stage.stagingFolder);
  // The settings file is not read here: every debug switch stays off.
  UpdaterSettings settings(UpdaterSettings::pathIn(stage.writeFolder), log);
  Autoupdater updater(log, settings);
  updater.loadInstallation(stage.baseFolder);
  updater.writeFolder = stage.writeFolder;
  updater.stagingFolder = stage.stagingFolder;
  updater.readHandOverFile(joinPath(stage.stagingFolder, L"_update_info"));
  updater.selfUpdateStage = SelfUpdateStage::Continue;

  int32_t index = -1;
  for (size_t i = 0; i < updater.versions.size(); ++i)
    if (updater.versions[i].database_id == stage.databaseId) index = static_cast<int32_t>(i);
  if (index < 0) throw std::runtime_error("Can't find selected update.");

  updater.installList = modulesToInstall(stage.installModules, updater.database);
  updater.waitForHandOver = sys::canWaitForHandOver() && sys::environment(kWaitVariable) == "1";
  // Finished or cancelled by the user, the stage has done its part; a
  // waiting starter is told which of the two it was. Handed over, the marker
  // now belongs to the bootstrap stage.
  const bool completed = downloadAndHandOver(updater, stage.writeFolder, stage.stagingFolder, index);
  if (completed) pending.release();
  bootstrap = updater.handedOverTo;
  return !completed && updater.waitForHandOver ? kContinueCancelled : 0;
}

}  // namespace

int bootstrapStage(const std::vector<std::wstring>& arguments, size_t at) {
  try {
    return bootstrap(arguments, at);
  } catch (const std::exception& e) {
    ui::alertBox(fromUtf8(e.what()), L"VELTRA Update Bootstrap", ui::Icon::Error);
    return kBootstrapFailed;
  }
}

int continueStage(const std::vector<std::wstring>& arguments, size_t at) {
  StageArguments stage;
  sys::OwnedHandle lock;  // until the stage ends, or the applier needs it
  try {
    stage = readStageArguments(arguments, at);
    if (acquireLockFile(joinPath(stage.writeFolder, L"autoupdate.lock"), lock, kLockAttempts, kLockPeriodMs) != 0)
      throw std::runtime_error("Failed to acquire db lock.");
  } catch (const std::exception& e) {
    ui::alertBox(fromUtf8(e.what()), L"VELTRA Update Continue", ui::Icon::Error);
    return kContinueFailedEarly;
  }

  sys::Child bootstrap;
  {
    MiniLogFile log(logPath(stage.writeFolder), true);
    ui::BackendLog backendLog(log);
    try {
      int code = continueWithLog(stage, log, bootstrap);
      if (!bootstrap.started()) return code;
    } catch (const std::exception& e) {
      reportException(log, e);
      return kContinueFailedLogged;
    }
  }
  // Waited for: the bootstrap stage's outcome is this one's. The applier
  // takes the lock itself.
  lock.reset();
  uint32_t code = kContinueFailedLogged;
  sys::waitForChild(bootstrap, &code);
  return static_cast<int>(code);
}

}  // namespace nx
