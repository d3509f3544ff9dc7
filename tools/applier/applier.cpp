#include "applier/applier.h"

#include <new>

#include "applier/applier_error.h"
#include "applier/command_line.h"
#include "applier/test_hook.h"
#include "applier/transaction.h"
#include "applier/uninstall.h"
#include "applier/update.h"
#include "base/mini_log_file.h"
#include "base/paths.h"
#include "base/text.h"
#include "sys/clock.h"
#include "sys/errors.h"
#include "sys/lock.h"

namespace nx::applier {

namespace {

bool isFolder(const std::wstring& path) {
  sys::FileInfo info;
  return sys::fileInfo(path, &info) && info.isFolder;
}

// The write folder's instance lock, held until the process ends. The
// updater that started us may still be on its way out, so a busy lock is
// tried again every tenth of a second for `seconds` seconds.
void takeLock(const std::wstring& writeFolder, uint32_t seconds, MiniLog& log) {
  const std::wstring path = joinPath(writeFolder, L"autoupdate.lock");
  constexpr uint32_t kPollMs = 100;
  for (uint32_t waited = 0;; waited += kPollMs) {
    sys::Handle lock = sys::tryLockFile(path);
    if (lock != sys::invalidHandle) return;  // kept open on purpose
    uint32_t error = sys::lastError();
    if (error != sys::sharingViolation)
      failWithCode(kLockHeld, "cannot take the lock \"" + toUtf8(path) + "\": " + sys::errorMessage(error));
    if (waited >= seconds * 1000)
      failWithCode(kLockHeld, "another updater holds the lock \"" + toUtf8(path) + "\"; gave up after " +
                                  std::to_string(seconds) + " seconds");
    if (waited == 0) log.log(MiniLog::INFO, "Waiting for the lock \"%s\"...", toUtf8(path).c_str());
    sys::sleepMs(kPollMs);
  }
}

// Scratch files that a killed run left in the write folder. Only this
// program makes these names, and the lock says no other applier runs.
void dropScratchFiles(const std::wstring& writeFolder) {
  std::vector<sys::FolderEntry> entries;
  if (!sys::listFolder(writeFolder, &entries)) return;
  for (const auto& entry : entries) {
    std::string name = toUtf8(entry.name);
    if (entry.isFolder || !name.ends_with(".tmp")) continue;
    if (name.starts_with("applier-new.db.") || name.starts_with("applier.cache.") ||
        name.starts_with("applier.journal."))
      sys::deleteFile(joinPath(writeFolder, entry.name));
  }
}

std::string joinWords(const std::vector<std::wstring>& words) {
  std::string line;
  for (const auto& word : words) {
    if (!line.empty()) line += ' ';
    line += '"';
    line += toUtf8(word);
    line += '"';
  }
  return line;
}

int report(std::ostream& err, MiniLog* log, int code, const std::string& message) {
  err << "applier: " << message << std::endl;
  if (log) log->log(MiniLog::ERROR, "Applier failed (exit code %d): %s", code, message.c_str());
  return code;
}

}  // namespace

int runApplier(const std::vector<std::wstring>& words, std::ostream& err) {
  Request request;
  try {
    request = parseArguments(words);
  } catch (const ApplierError& e) {
    report(err, nullptr, e.code, e.what());
    err << kUsage;
    return e.code;
  }
  if (!isFolder(request.write))
    return report(err, nullptr, kBadArguments, "the write folder \"" + toUtf8(request.write) + "\" does not exist");

  sys::createFolders(joinPath(request.write, L"Logs"));
  MiniLogFile log(joinPath(request.write, L"Logs/autoupdate.log"), true);
  try {
    TestHook hook;
    log.log(MiniLog::INFO, "Applier started: %s", joinWords(words).c_str());
    if (!isFolder(request.base))
      failWithCode(kBadArguments, "the base folder \"" + toUtf8(request.base) + "\" does not exist");
    takeLock(request.write, hook.lockSeconds(), log);
    dropScratchFiles(request.write);
    Transaction::recover(request.write, log, hook);
    if (request.kind == Request::Kind::update)
      applyUpdate(request, log, hook);
    else
      uninstall(request, log, hook);
    log.log(MiniLog::INFO, "Applier finished");
    return kSuccess;
  } catch (const ApplierError& e) {
    return report(err, &log, e.code, e.what());
  } catch (const std::bad_alloc&) {
    return report(err, &log, kUnexpected, "out of memory");
  } catch (const std::exception& e) {
    return report(err, &log, kUnexpected, e.what());
  }
}

}  // namespace nx::applier
