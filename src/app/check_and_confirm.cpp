#include "app/check_and_confirm.h"

#include <atomic>
#include <cctype>
#include <stdexcept>
#include <thread>

#include "app/worker_outcome.h"
#include "base/error_model.h"
#include "base/string_resource.h"
#include "base/text.h"
#include "res/string_table.h"
#include "ui/message_box.h"
#include "ui/progress_dialog.h"
#include "ui/report_exception.h"

namespace nx {

namespace {

struct Target {
  std::string branch;
  std::string version;
};

// "BRANCH:VERSION" (the last ":" splits; a version "=" is the installed one),
// "VERSION" when it starts with a digit, else "BRANCH".
Target parseTarget(const std::string& target, const std::string& installedVersion) {
  Target t;
  size_t colon = target.rfind(':');
  if (colon != std::string::npos) {
    t.branch = target.substr(0, colon);
    t.version = target.substr(colon + 1);
    if (t.version == "=") t.version = installedVersion;
  } else if (!target.empty() && std::isdigit(static_cast<unsigned char>(target[0]))) {
    t.version = target;
  } else {
    t.branch = target;
  }
  return t;
}

// A text of the string table with its first "%V" replaced by the version.
std::wstring textWithVersion(uint32_t id, const std::string& version) {
  std::wstring text = loadStringResource(id);
  size_t at = text.find(L"%V");
  if (at != std::wstring::npos) text.replace(at, 2, fromUtf8(version));
  return text;
}

// What the check worker leaves behind. The flags are read by the dialog
// while the worker runs; the message only after the join.
struct CheckResult {
  std::atomic<bool> success{false};
  std::atomic<bool> done{false};
  std::string failure = "Checking for updates failed";
};

// Runs the check on a worker under the progress dialog (with Cancel) and
// returns once the worker has ended; result says how the check went.
void runCheck(Autoupdater& updater, const std::string& branch, CheckResult& result) {
  // Cleared here, before the worker exists, so a Cancel pressed at once is
  // never wiped out by a worker that starts late.
  updater.cancelFlag.store(0, std::memory_order_relaxed);
  updater.progress.store(-1.0f, std::memory_order_relaxed);
  std::thread worker;
  WorkerJoin join(updater, worker);
  startWorkerThread(worker, [&updater, &branch, &result] {
    recordWorkerOutcome(
        [&] {
          updater.checkForUpdates(branch);
          updater.progress.store(1.0f, std::memory_order_relaxed);
        },
        result.success, result.failure, result.done);
  });
  const std::wstring text = loadStringResource(res::kCheckingForUpdates);
  bool completed = ui::runInProgressDialog(
      [&](float& progress, std::wstring& shown) {
        progress = -1.0f;
        shown = text;
        return !result.done.load(std::memory_order_relaxed);
      },
      true, 100);
  if (!completed) updater.cancelFlag.store(1, std::memory_order_relaxed);
  joinWorkerThread(worker);
}

}  // namespace

int32_t checkAndConfirm(Autoupdater& updater, MiniLog& log, UpdateMode mode, const std::string& target,
                        CheckVerdict* verdict) {
  CheckVerdict ignored;
  CheckVerdict& outcome = verdict ? *verdict : ignored;
  const Target wanted = parseTarget(target, updater.database.version);
  CheckResult result;
  runCheck(updater, wanted.branch, result);
  if (!result.success.load(std::memory_order_relaxed)) {
    if (updater.cancelRequested()) {
      // The user's own Cancel is no failure to report.
      log.log(MiniLog::INFO, "Check cancelled.");
      outcome = CheckVerdict::Cancelled;
      return -1;
    }
    outcome = CheckVerdict::Failed;
    if (mode == UpdateMode::Check)
      log.log(MiniLog::ERROR, "Caught an exception: %s", result.failure.c_str());
    else
      reportException(log, std::runtime_error(result.failure));
    return -1;
  }

  const std::wstring caption = loadStringResource(res::kUpdateCaption);
  outcome = CheckVerdict::NotAvailable;
  if (mode == UpdateMode::Repair) {
    outcome = CheckVerdict::Chosen;
    if (updater.repairIndex != -1) return updater.repairIndex;
    outcome = CheckVerdict::NotAvailable;
    ui::messageBox(textWithVersion(res::kVersionNotAvailable, updater.database.version), caption, ui::Icon::Information,
                   ui::Buttons::Ok);
  } else if (mode == UpdateMode::Update && !wanted.version.empty()) {
    int32_t found = -1;
    for (size_t i = 0; i < updater.versions.size(); ++i)
      if (versionMatches(updater.versions[i].version, wanted.version)) found = static_cast<int32_t>(i);
    if (found != -1) {
      const VersionEntry& entry = updater.versions[static_cast<size_t>(found)];
      // Going back replaces newer files with older ones: only when asked for twice.
      if (updater.database.format != 0 && entry.timestamp < updater.database.timestamp &&
          ui::messageBox(
              fromUtf8("Replace VELTRA " + updater.database.version + " with the older version " + entry.version + "?"),
              caption, ui::Icon::Question, ui::Buttons::YesNoDefaultNo) != ui::Button::Yes) {
        outcome = CheckVerdict::Declined;
        return -1;
      }
      outcome = CheckVerdict::Chosen;
      return found;
    }
    ui::messageBox(fromUtf8("Update to version " + wanted.version + " is not available."), caption, ui::Icon::Warning,
                   ui::Buttons::Ok);
  }

  // Without an installed database there is nothing to keep: take the latest.
  if (updater.database.format == 0) {
    if (updater.latestIndex != -1) outcome = CheckVerdict::Chosen;
    return updater.latestIndex;
  }
  const bool nothingNewer =
      updater.latestIndex == -1 ||
      updater.versions[static_cast<size_t>(updater.latestIndex)].version == updater.database.version;
  if (nothingNewer) {
    // A wanted version that is not on offer has been said already.
    const bool wantedOne = mode == UpdateMode::Repair || (mode == UpdateMode::Update && !wanted.version.empty());
    if (!wantedOne) outcome = CheckVerdict::UpToDate;
    return -1;
  }
  const std::string& offered = updater.versions[static_cast<size_t>(updater.latestIndex)].version;
  ui::Button answer = ui::messageBox(textWithVersion(res::kNewVersionQuestion, offered), caption, ui::Icon::Question,
                                     ui::Buttons::YesNo);
  outcome = answer == ui::Button::Yes ? CheckVerdict::Chosen : CheckVerdict::Declined;
  return answer == ui::Button::Yes ? updater.latestIndex : -1;
}

}  // namespace nx
