#include "app/entry_point.h"

#include <iostream>
#include <optional>
#include <stdexcept>
#include <system_error>

#include "app/check_and_confirm.h"
#include "app/command_line.h"
#include "app/download_and_hand_over.h"
#include "app/installation_check.h"
#include "app/maintenance.h"
#include "app/stages.h"
#include "app/status_command.h"
#include "apply/launch_commands.h"
#include "apply/pending_hand_over.h"
#include "apply/uninstall.h"
#include "base/error_model.h"
#include "base/folders.h"
#include "base/mini_log_file.h"
#include "base/paths.h"
#include "base/string_resource.h"
#include "base/system_error_text.h"
#include "base/text.h"
#include "db/install_state.h"
#include "db/module_set.h"
#include "db/object_id.h"
#include "db/settings.h"
#include "net/autoupdater.h"
#include "res/string_table.h"
#include "sys/child_process.h"
#include "sys/errors.h"
#include "sys/files.h"
#include "sys/lock.h"
#include "sys/owned_handle.h"
#include "ui/backend.h"
#include "ui/lock_wait.h"
#include "ui/message_box.h"
#include "ui/report_exception.h"

namespace nx {

namespace {

constexpr uint32_t kLockAttempts = 60;
constexpr uint32_t kLockPeriodMs = 1000;

std::string utf8(const std::wstring& word) { return toUtf8(word); }

// What the command word asks of the update flow.
struct UpdateCommand {
  UpdateMode mode = UpdateMode::Check;
  std::string target;                    // update target (UTF-8)
  std::vector<std::string> installList;  // modules to install (UTF-8)
  bool repair = false;                   // "repair", not "install"
  bool fullCheck = false;                // repair --full
  bool launchProduct = false;            // start the product afterwards
};

// "a", "a, b".
std::string joined(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& name : names) out += (out.empty() ? "" : ", ") + name;
  return out;
}

// Files of the installed modules whose content was missing or changed.
size_t filesToRepair(const Database& database) {
  size_t count = 0;
  for (const auto& [path, record] : database.files) {
    auto module = database.modules.find(record.module);
    if (module != database.modules.end() && module->second && record.local_hash != record.hash) ++count;
  }
  return count;
}

// The update flow from the instance lock to the exit code; the log is open.
class UpdateFlow {
 public:
  UpdateFlow(const CommandLine& line, const UpdateCommand& command, const std::wstring& baseFolder,
             const std::wstring& writeFolder, const std::wstring& tempFolder, MiniLogFile& log,
             sys::OwnedHandle& instanceLock, bool wait)
      : line_(line),
        command_(command),
        baseFolder_(baseFolder),
        writeFolder_(writeFolder),
        stagingFolder_(joinPath(tempFolder, L"update")),
        log_(log),
        instanceLock_(instanceLock),
        wait_(wait) {}

  int run();

 private:
  // The end of every path after the settings were loaded: the updater goes
  // first (it saves a changed file cache), then the settings are saved.
  int finish(int exitCode);
  void markChecked();
  // The line that ends a command whose update was handed over.
  std::string appliedLine(int32_t index) const;
  // Waits for the hand-over chain; its outcome is the command's.
  int awaitHandOver(sys::Child child, const std::string& success);

  const CommandLine& line_;
  const UpdateCommand& command_;
  const std::wstring baseFolder_, writeFolder_, stagingFolder_;
  MiniLogFile& log_;
  sys::OwnedHandle& instanceLock_;
  const bool wait_;
  std::optional<UpdaterSettings> settings_;
  std::optional<Autoupdater> updater_;
};

int UpdateFlow::run() {
  // A hand-over that another updater started comes first: its stage holds
  // the staging folder until the applier has run.
  if (PendingHandOver::awaitOthers(joinPath(writeFolder_, L"autoupdate.lock"), stagingFolder_, instanceLock_,
                                   kLockAttempts, kLockPeriodMs, log_) != 0) {
    reportException(log_, std::runtime_error("Another updater instance is running."));
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
    updater.logFile = joinPath(writeFolder_, L"Logs/autoupdate.log");
    updater.fullCheck = command_.fullCheck;
    updater.waitForHandOver = wait_;
    try {
      requireInstallation(baseFolder_);
    } catch (const std::runtime_error& e) {
      reportException(log_, e);
      return finish(1);
    }
    updater.loadInstallation(baseFolder_);
    for (const std::string& name : command_.installList) {
      log_.log(MiniLog::INFO, "Going to install %s", name.c_str());
      // Refused as uninstall and modconfig refuse one: nothing is fetched.
      if (updater.database.modules.count(name) == 0) {
        reportException(log_, std::runtime_error("Unknown module to install: " + name));
        return finish(2);
      }
    }
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
      CheckVerdict verdict = CheckVerdict::Failed;
      int32_t index = checkAndConfirm(updater, log_, command_.mode, target, &verdict);
      if (index >= 0) {
        // The stages learn it from the environment they inherit; the product
        // started here later must not.
        struct WaitVariable {
          explicit WaitVariable(bool on) {
            if (on) sys::setEnvironment(kWaitVariable, "1");
          }
          ~WaitVariable() { sys::setEnvironment(kWaitVariable, ""); }
        } variable(wait_);
        if (downloadAndHandOver(updater, writeFolder_, stagingFolder_, index)) {
          markChecked();
          const std::string done = appliedLine(index);
          sys::Child child = updater.handedOverTo;
          if (!child.started()) {
            ui::resultLine(L"Handed over to the applier, which finishes in the background.");
            return finish(0);
          }
          finish(0);
          return awaitHandOver(child, done);
        }
        verdict = CheckVerdict::Cancelled;
      }
      const std::string installed = "VELTRA " + updater.database.version;
      if (verdict == CheckVerdict::Cancelled) ui::resultLine(L"Cancelled.");
      if (verdict == CheckVerdict::UpToDate) ui::resultLine(fromUtf8(installed + " is up to date."));
      if (verdict == CheckVerdict::Declined) ui::resultLine(fromUtf8("Kept " + installed + "."));
    }
  } catch (const std::system_error& e) {
    // A system call failed (a file, a folder, a process): reported, and the
    // flow stops with 2, launching nothing. Caught before runtime_error,
    // which it derives from.
    reportException(log_, e);
    return finish(2);
  } catch (const std::runtime_error& e) {
    // The check or the update failed (network, server, bad data): reported,
    // the check counts as failed, and the flow goes on to the launch.
    reportException(log_, e);
    checkDone = false;
  } catch (const std::exception& e) {
    // Not a failure of the flow's own (out of memory): report it and stop.
    reportException(log_, e);
    return finish(2);
  }

  if (!command_.launchProduct) return finish(0);
  if (checkDone) markChecked();
  if (launchCommands(updater_->database, baseFolder_, log_, line_.forwardedOptions) == 0) {
    reportException(log_, std::runtime_error("Can't start VELTRA!"));
    return finish(1);
  }
  return finish(0);
}

std::string UpdateFlow::appliedLine(int32_t index) const {
  const Autoupdater& updater = *updater_;
  const std::string to = updater.versions[static_cast<size_t>(index)].version;
  if (!updater.installList.empty())
    return std::string(updater.installList.size() == 1 ? "Installed module " : "Installed modules ") +
           joined(updater.installList) + ".";
  if (command_.mode == UpdateMode::Repair) {
    const size_t n = filesToRepair(updater.database);
    return "Repaired " + std::to_string(n) + (n == 1 ? " file" : " files") + " of VELTRA " + to + ".";
  }
  return "Updated VELTRA " + updater.database.version + " to " + to + ".";
}

int UpdateFlow::awaitHandOver(sys::Child child, const std::string& success) {
  // The stages take the instance lock themselves (the continue stage, the
  // applier): it must be free for them.
  instanceLock_.reset();
  log_.log(MiniLog::INFO, "Waiting for the update to be applied...");
  uint32_t code = 0;
  if (!sys::waitForChild(child, &code)) {
    reportException(log_, std::runtime_error("Can't wait for the update: " + systemErrorText(sys::lastError())));
    return 2;
  }
  log_.log(MiniLog::INFO, "The update ended with exit code %u", code);
  if (code == 0) {
    ui::resultLine(fromUtf8(success));
    return 0;
  }
  if (code == static_cast<uint32_t>(kContinueCancelled)) {
    ui::resultLine(L"Cancelled.");
    return 0;
  }
  ui::resultLine(fromUtf8("The update failed (exit code " + std::to_string(code) + "); details in " +
                          utf8(joinPath(writeFolder_, L"Logs/autoupdate.log"))));
  return static_cast<int>(code);
}

void UpdateFlow::markChecked() {
  if (settings_->changed) return;
  settings_->last_update = today();
  settings_->changed = true;
}

int UpdateFlow::finish(int exitCode) {
  updater_.reset();
  // A fresh write folder has no Config folder yet; without it the settings
  // (and with them the schedule) could never be saved.
  if (settings_->changed) sys::createFolders(joinPath(writeFolder_, L"Config"));
  settings_.reset();  // saves itself when changed
  return exitCode;
}

bool isUpdateFlow(const std::vector<std::wstring>& words) {
  if (words.empty()) return true;
  const std::wstring& word = words[0];
  return word == L"check" || word == L"update" || word == L"repair" || word == L"install";
}

// "--version": the updater ships with each version of the product.
int printVersion(const std::wstring& baseFolder) {
  Database db;
  try {
    loadMetadata(kInvalidStructure, db, joinPath(baseFolder, L"autoupdate.db"));
    std::cout << "autoupdate (VELTRA " << db.version << ")\n";
  } catch (const std::exception&) {
    std::cout << "autoupdate (VELTRA, no installation found)\n";
  }
  return 0;
}

// uninstall '*' or --all: everything goes, so the user confirms first.
int uninstallCommand(std::vector<std::wstring> words, const CommandLine& line, const std::wstring& baseFolder,
                     const std::wstring& writeFolder, const std::wstring& tempFolder, MiniLog& log) {
  if (words.size() == 2 && words[1] == L"--all") words[1] = L"*";
  const bool everything = words.size() == 2 && words[1] == L"*";
  try {
    if (!interruptedChange(baseFolder)) requireInstallation(baseFolder);
  } catch (const std::exception& e) {
    reportException(log, e);
    return 1;
  }
  if (everything && ui::messageBox(L"Remove VELTRA and all its files?", loadStringResource(res::kUpdateCaption),
                                   ui::Icon::Question, ui::Buttons::YesNoDefaultNo) != ui::Button::Yes) {
    ui::resultLine(L"Cancelled.");
    return 0;
  }
  const int code =
      uninstall(words, baseFolder, writeFolder, tempFolder, log, line.launchProduct, line.forwardedOptions);
  if (code != 0) return code;
  std::vector<std::string> names;
  for (size_t i = 1; i < words.size(); ++i) names.push_back(utf8(words[i]));
  ui::resultLine(fromUtf8(everything          ? std::string("Removed VELTRA.")
                          : names.size() == 1 ? "Removed module " + names[0] + "."
                                              : "Removed modules " + joined(names) + "."));
  return 0;
}

// What a command word of the update flow asks of it (isUpdateFlow holds).
UpdateCommand updateCommand(const CommandLine& line) {
  UpdateCommand command;
  const std::vector<std::wstring>& words = line.words;
  const std::wstring word = words.empty() ? L"" : words[0];
  command.launchProduct = line.launchProduct;
  if (words.empty() || word == L"check") {
    command.mode = UpdateMode::Check;
    command.launchProduct = true;
  } else if (word == L"update") {
    command.mode = UpdateMode::Update;
    if (words.size() > 1) command.target = utf8(words[1]);
  } else if (word == L"repair") {
    command.mode = UpdateMode::Repair;
    command.fullCheck = words.size() > 1 && words[1] == L"--full";
  } else {  // install
    command.mode = UpdateMode::Repair;
    for (size_t i = 1; i < words.size(); ++i) command.installList.push_back(utf8(words[i]));
  }
  return command;
}

// Runs a command word outside the update flow; an unknown one is refused.
int otherCommand(const CommandLine& line, const std::wstring& baseFolder, const std::wstring& writeFolder,
                 const std::wstring& tempFolder, MiniLog& log) {
  const std::vector<std::wstring>& words = line.words;
  const std::wstring& word = words[0];
  if (word == L"modconfig" && words.size() >= 3) return modconfig(words, baseFolder, writeFolder);
  if (word == L"uninstall") return uninstallCommand(words, line, baseFolder, writeFolder, tempFolder, log);
  if (word == L"init") return init(words, baseFolder, writeFolder, log);
  if (word == L"status") return statusCommand(words, baseFolder, writeFolder, log);
  ui::messageBox(L"Invalid arguments.", L"Error", ui::Icon::Error, ui::Buttons::Ok);
  return 1;
}

}  // namespace

int runAutoupdate(const std::vector<std::wstring>& arguments) {
  // A stage reads nothing else: no options, folders, log rotation or locks.
  if (arguments.size() >= 2 && arguments[1] == L"bootstrap") return bootstrapStage(arguments, 1);
  if (arguments.size() >= 2 && arguments[1] == L"continue") return continueStage(arguments, 1);

  const CommandLine line = parseCommandLine(arguments);
  if (line.help) {
    std::cout << kUsage;
    return 0;
  }
  const std::wstring baseFolder = resolveBaseFolder(L"autoupdate.db", line.baseFolderArgument);
  if (line.version) return printVersion(baseFolder);
  const std::wstring writeFolder = resolveWriteFolder(line.writeFolderName);
  const std::wstring tempFolder = resolveTempFolder(line.writeFolderName);
  sys::createFolders(joinPath(writeFolder, L"Logs"));
  sys::createFolders(tempFolder);

  // The locks come before the log: only the holder of the instance lock
  // rotates it, so a second updater never rotates a running update's log
  // away. A process that cannot take a lock appends its report.
  std::string lockFailure;
  sys::OwnedHandle namedLock;  // held until the process ends
  if (!line.lockName.empty()) {
    // The named lock lives in the temp folder: never in one others can change.
    lockFailure = unsafeFolderMessage(tempFolder);
    uint32_t error = 0;
    if (lockFailure.empty() &&
        (error = acquireLockFile(joinPath(tempFolder, line.lockName), namedLock, kLockAttempts, kLockPeriodMs)) != 0)
      lockFailure = "Failed to acquire lock " + utf8(line.lockName) + ": " + systemErrorText(error);
  }
  const bool updateFlow = isUpdateFlow(line.words);
  const std::wstring lockPath = joinPath(writeFolder, L"autoupdate.lock");
  sys::OwnedHandle instanceLock;
  if (lockFailure.empty()) {
    if (updateFlow) {
      if (uint32_t error = acquireLockFile(lockPath, instanceLock, kLockAttempts, kLockPeriodMs); error != 0)
        // Another updater, or a lock file that cannot be opened at all (say so).
        lockFailure = error == sys::sharingViolation || error == sys::cancelled
                          ? std::string("Another updater instance is running.")
                          : "Can't open the lock \"" + toUtf8(lockPath) + "\": " + systemErrorText(error);
    } else {
      // The other commands run without the lock; they hold it only to rotate.
      instanceLock.reset(sys::tryLockFile(lockPath));
    }
  }
  MiniLogFile log(joinPath(writeFolder, L"Logs/autoupdate.log"), !instanceLock.valid());
  ui::BackendLog backendLog(log);
  if (!lockFailure.empty()) {
    reportException(log, std::runtime_error(lockFailure));
    return 1;
  }
  if (!updateFlow) instanceLock.reset();

  // A base folder named on the command line is that installation or none
  // (for uninstall also one that a killed change left set aside).
  std::wstring named;
  const bool uninstalling = !line.words.empty() && line.words[0] == L"uninstall";
  if (!line.baseFolderArgument.empty() &&
      !(sys::fullPath(line.baseFolderArgument, &named) &&
        (sys::exists(joinPath(named, L"autoupdate.db")) || (uninstalling && interruptedChange(named))))) {
    reportException(log, std::runtime_error("No VELTRA installation in " + utf8(line.baseFolderArgument) +
                                            ": it holds no autoupdate.db"));
    return 1;
  }

  if (!updateFlow) return otherCommand(line, baseFolder, writeFolder, tempFolder, log);
  const UpdateCommand command = updateCommand(line);

  // Waiting needs a system that lets the stages replace a running program,
  // and suits a person at the terminal unless asked for either way.
  const bool wait = sys::canWaitForHandOver() && (line.wait == 1 || (line.wait == -1 && ui::sharesTerminal()));

  return UpdateFlow(line, command, baseFolder, writeFolder, tempFolder, log, instanceLock, wait).run();
}

}  // namespace nx
