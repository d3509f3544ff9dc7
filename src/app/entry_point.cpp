#include "app/entry_point.h"

#include <optional>
#include <stdexcept>
#include <system_error>

#include "app/check_and_confirm.h"
#include "app/command_line.h"
#include "app/download_and_hand_over.h"
#include "app/maintenance.h"
#include "app/stages.h"
#include "apply/launch_commands.h"
#include "apply/uninstall.h"
#include "base/error_model.h"
#include "base/folders.h"
#include "base/mini_log_file.h"
#include "base/paths.h"
#include "base/system_error_text.h"
#include "base/text.h"
#include "db/module_set.h"
#include "db/settings.h"
#include "net/autoupdater.h"
#include "sys/errors.h"
#include "sys/files.h"
#include "ui/lock_wait.h"
#include "ui/message_box.h"
#include "ui/report_exception.h"

namespace nx {

namespace {

constexpr uint32_t kLockAttempts = 60;
constexpr uint32_t kLockPeriodMs = 1000;

// What the command word asks of the update flow.
struct UpdateCommand {
  UpdateMode mode = UpdateMode::Check;
  std::string target;                    // update target (UTF-8)
  std::vector<std::string> installList;  // modules to install (UTF-8)
};

// The update flow from the instance lock to the exit code; the log is open.
class UpdateRun {
 public:
  UpdateRun(const CommandLine& line, const UpdateCommand& command, const std::wstring& baseFolder,
            const std::wstring& writeFolder, const std::wstring& tempFolder, MiniLogFile& log)
      : line_(line),
        command_(command),
        baseFolder_(baseFolder),
        writeFolder_(writeFolder),
        stagingFolder_(joinPath(tempFolder, L"update")),
        log_(log) {}

  int run();

 private:
  // The end of every path after the settings were loaded: the updater goes
  // first (it saves a changed file cache), then the settings are saved.
  int finish(int exitCode);
  void markChecked();

  const CommandLine& line_;
  const UpdateCommand& command_;
  const std::wstring baseFolder_, writeFolder_, stagingFolder_;
  MiniLogFile& log_;
  std::optional<UpdaterSettings> settings_;
  std::optional<Autoupdater> updater_;
};

int UpdateRun::run() {
  sys::Handle instanceLock = sys::invalidHandle;  // held until the process ends
  const std::wstring lockPath = joinPath(writeFolder_, L"autoupdate.lock");
  if (uint32_t error = acquireLockFile(lockPath, instanceLock, kLockAttempts, kLockPeriodMs); error != 0) {
    // Another updater, or a lock file that cannot be opened at all (say so).
    reportException(
        log_, std::runtime_error(error == sys::sharingViolation || error == sys::cancelled
                                     ? std::string("Another updater instance is running.")
                                     : "Can't open the lock \"" + toUtf8(lockPath) + "\": " + systemErrorText(error)));
    return 1;
  }

  settings_.emplace(UpdaterSettings::pathIn(writeFolder_), log_);
  loadSettings(*settings_);
  try {
    updater_.emplace(log_, *settings_);
  } catch (const std::runtime_error& e) {
    // Without its HTTP client the updater can do nothing, not even launch.
    reportException(log_, e);
    return finish(2);
  }

  bool checkDone = true;  // neither skipped nor ended by a caught failure
  try {
    Autoupdater& updater = *updater_;
    updater.loadInstallation(baseFolder_);
    for (const std::string& name : command_.installList) log_.log(MiniLog::INFO, "Going to install %s", name.c_str());
    updater.installList = modulesToInstall(command_.installList, updater.database);

    UpdaterSettings& settings = *settings_;
    std::string target = command_.target.empty() ? settings.update_to : command_.target;
    if (updater.database.format == 0) {
      // No database installed: start over from the release channel.
      if (!settings.update_to.empty()) settings.update_to = settings.update_to.substr(0, settings.update_to.find('.'));
      settings.last_update = 0;
      settings.changed = true;
      target = "release";
    }

    const uint64_t day = today();
    const bool skipped = command_.mode == UpdateMode::Check &&
                         (settings.update_period == 0 || settings.last_update + settings.update_period > day);
    if (skipped) {
      checkDone = false;
    } else {
      int32_t index = checkAndConfirm(updater, log_, command_.mode, target);
      if (index >= 0 && downloadAndHandOver(updater, writeFolder_, stagingFolder_, index)) {
        markChecked();
        return finish(0);
      }
    }
  } catch (const std::system_error& e) {
    reportException(log_, e);
    return finish(2);
  } catch (const std::runtime_error& e) {
    reportException(log_, e);
    checkDone = false;
  } catch (const std::exception& e) {
    // Not a failure of the run's own (out of memory): report it and stop.
    reportException(log_, e);
    return finish(2);
  }

  if (!line_.run) return finish(0);
  if (checkDone) markChecked();
  if (launchCommands(updater_->database, baseFolder_, log_, line_.forwardedOptions) == 0) {
    reportException(log_, std::runtime_error("Can't start VELTRA!"));
    return finish(1);
  }
  return finish(0);
}

void UpdateRun::markChecked() {
  if (settings_->changed) return;
  settings_->last_update = today();
  settings_->changed = true;
}

int UpdateRun::finish(int exitCode) {
  updater_.reset();
  // A fresh write folder has no Config folder yet; without it the settings
  // (and with them the schedule) could never be saved.
  if (settings_->changed) sys::createFolders(joinPath(writeFolder_, L"Config"));
  settings_.reset();  // saves itself when changed
  return exitCode;
}

std::string utf8(const std::wstring& word) { return toUtf8(word); }

}  // namespace

int runAutoupdate(const std::vector<std::wstring>& arguments) {
  // A stage reads nothing else: no options, folders, log rotation or locks.
  if (arguments.size() >= 2 && arguments[1] == L"bootstrap") return bootstrapStage(arguments, 1);
  if (arguments.size() >= 2 && arguments[1] == L"continue") return continueStage(arguments, 1);

  const CommandLine line = parseCommandLine(arguments);
  const std::wstring baseFolder = resolveBaseFolder(L"autoupdate.db", line.baseFolderArgument);
  const std::wstring writeFolder = resolveWriteFolder(line.writeFolderName);
  const std::wstring tempFolder = resolveTempFolder(line.writeFolderName);

  sys::createFolders(joinPath(writeFolder, L"Logs"));
  MiniLogFile log(joinPath(writeFolder, L"Logs/autoupdate.log"), false);
  sys::createFolders(tempFolder);

  sys::Handle namedLock = sys::invalidHandle;  // held until the process ends
  if (!line.lockName.empty()) {
    // The named lock lives in the temp folder: never in one others can change.
    if (std::string unsafe = unsafeFolderMessage(tempFolder); !unsafe.empty()) {
      reportException(log, std::runtime_error(unsafe));
      return 1;
    }
    uint32_t error = acquireLockFile(joinPath(tempFolder, line.lockName), namedLock, kLockAttempts, kLockPeriodMs);
    if (error != 0) {
      reportException(
          log, std::runtime_error("Failed to acquire lock " + utf8(line.lockName) + ": " + systemErrorText(error)));
      return 1;
    }
  }

  UpdateCommand command;
  const std::vector<std::wstring>& words = line.words;
  const std::wstring word = words.empty() ? L"" : words[0];
  bool run = line.run;
  if (words.empty() || word == L"check") {
    command.mode = UpdateMode::Check;
    run = true;
  } else if (word == L"update") {
    command.mode = UpdateMode::Update;
    if (words.size() > 1) command.target = utf8(words[1]);
  } else if (word == L"repair") {
    command.mode = UpdateMode::Repair;
  } else if (word == L"install") {
    command.mode = UpdateMode::Repair;
    for (size_t i = 1; i < words.size(); ++i) command.installList.push_back(utf8(words[i]));
  } else if (word == L"modconfig" && words.size() >= 3) {
    return modconfig(words, baseFolder, writeFolder);
  } else if (word == L"uninstall") {
    return uninstall(words, baseFolder, writeFolder, tempFolder, log, line.run, line.forwardedOptions);
  } else if (word == L"init") {
    return init(words, baseFolder, writeFolder, log);
  } else {
    ui::messageBox(L"Invalid arguments.", L"Error", ui::Icon::Error, ui::Buttons::Ok);
    return 1;
  }

  CommandLine effective = line;
  effective.run = run;
  return UpdateRun(effective, command, baseFolder, writeFolder, tempFolder, log).run();
}

}  // namespace nx
