#include "applier/write_folder.h"

#include <cstdio>
#include <vector>

#include "applier/applier_error.h"
#include "base/text.h"
#include "sys/clock.h"
#include "sys/errors.h"
#include "sys/no_follow.h"
#include "sys/owned_handle.h"

namespace nx::applier {

namespace {

const wchar_t* const kScratchPrefix = L"applier-scratch.";

void deleteFolderContent(sys::Handle folder) {
  std::vector<std::wstring> names;
  if (!sys::listEntries(folder, &names)) return;
  for (const auto& name : names) sys::deleteAt(folder, name);
}

}  // namespace

WriteFolder::WriteFolder(const std::wstring& path, uint32_t user) : path_(path) {
  folder_.reset(sys::openFolderNoLink(path));
  if (!folder_.valid()) {
    uint32_t error = sys::lastError();
    failWithCode(kBadArguments, "the write folder \"" + toUtf8(path) + "\" " +
                                    (error == sys::linkRefused  ? std::string("is a symbolic link; refused")
                                     : error == sys::notAFolder ? std::string("is not a folder")
                                                                : "cannot be opened: " + sys::errorMessage(error)));
  }
  sys::EntryInfo info;
  if (!sys::handleEntryInfo(folder_.get(), &info) || info.owner != user) {
    folder_.reset();
    failWithCode(kBadArguments, "the write folder \"" + toUtf8(path) + "\" does not belong to the user (" +
                                    std::to_string(user) + ") who started the applier; refused");
  }
  owner_ = info.owner;
  group_ = info.group;
}

WriteFolder::~WriteFolder() {
  if (scratch_.valid()) {
    deleteFolderContent(scratch_.get());
    scratch_.reset();
    sys::removeSubfolder(folder_.get(), scratchName_);
  }
  // The logs and the write folder close after this (the lock is not
  // released: it stays held until the process ends, as the updater's does).
}

void WriteFolder::adopt(sys::Handle handle) {
  // Only an elevated run makes files of another owner; for anyone else this
  // is already so.
  if (handle != sys::invalidHandle && sys::effectiveUser() != owner_) sys::setOwner(handle, owner_, group_);
}

sys::Handle WriteFolder::logsFolder() {
  if (logs_.valid()) return logs_.get();
  logs_.reset(sys::openSubfolder(folder_.get(), L"Logs"));
  if (!logs_.valid() && sys::lastError() == sys::fileNotFound &&
      (sys::createSubfolder(folder_.get(), L"Logs", 0755) || sys::lastError() == sys::alreadyExists))
    logs_.reset(sys::openSubfolder(folder_.get(), L"Logs"));
  // Made now, or by an older elevated run: nobody but root can have put a
  // folder of root's here (moving a folder needs write access to it).
  sys::EntryInfo info;
  if (logs_.valid() && sys::handleEntryInfo(logs_.get(), &info) && info.owner == 0 && owner_ != 0) adopt(logs_.get());
  return logs_.get();
}

sys::Handle WriteFolder::openLog() {
  sys::Handle logs = logsFolder();
  if (logs == sys::invalidHandle) return sys::invalidHandle;
  bool created = false;
  sys::Handle file = sys::openAppendAt(logs, L"autoupdate.log", 0644, &created);
  if (created) adopt(file);
  return file;
}

bool WriteFolder::replaceLogFile(const std::wstring& name, const std::string& text) {
  sys::Handle logs = logsFolder();
  if (logs == sys::invalidHandle) return false;
  const std::wstring temp = name + L".applier.tmp";
  sys::deleteAt(logs, temp);
  sys::OwnedHandle file(sys::createFileAt(logs, temp, false));
  if (!file.valid()) return false;
  adopt(file.get());
  size_t written = 0;
  bool ok = sys::write(file.get(), text.data(), text.size(), &written) && written == text.size();
  file.reset();
  if (ok) ok = sys::renameAt(logs, temp, name);
  if (!ok) sys::deleteAt(logs, temp);
  return ok;
}

void WriteFolder::lock(uint32_t seconds, MiniLog& log) {
  const std::string shown = toUtf8(path_) + "/autoupdate.lock";
  constexpr uint32_t kPollMs = 100;
  for (uint32_t waited = 0;; waited += kPollMs) {
    bool created = false;
    lock_ = sys::lockFileAt(folder_.get(), L"autoupdate.lock", &created);
    if (lock_ != sys::invalidHandle) {
      // A lock an older elevated run left to root would keep the user's own
      // updater out: an empty lock file with no other name is handed back.
      sys::EntryInfo info;
      if (created || (sys::handleEntryInfo(lock_, &info) && info.owner != owner_ && info.links == 1 && info.size == 0))
        adopt(lock_);
      return;
    }
    uint32_t error = sys::lastError();
    if (error != sys::sharingViolation)
      failWithCode(kLockHeld, "cannot take the lock \"" + shown + "\": " + sys::errorMessage(error));
    if (waited >= seconds * 1000)
      failWithCode(kLockHeld, "another updater holds the lock \"" + shown + "\"; gave up after " +
                                  std::to_string(seconds) + " seconds");
    if (waited == 0) log.log(MiniLog::INFO, "Waiting for the lock \"%s\"...", shown.c_str());
    sys::sleepMs(kPollMs);
  }
}

void WriteFolder::dropLeftovers() {
  std::vector<std::wstring> names;
  if (!sys::listEntries(folder_.get(), &names)) return;
  for (const auto& wide : names) {
    std::string name = toUtf8(wide);
    if (wide.starts_with(kScratchPrefix)) {
      sys::OwnedHandle old(sys::openSubfolder(folder_.get(), wide));
      if (old.valid()) {
        deleteFolderContent(old.get());
        old.reset();
        sys::removeSubfolder(folder_.get(), wide);
      } else {
        sys::deleteAt(folder_.get(), wide);  // a link or file under our name
      }
    } else if (name.ends_with(".tmp") && (name.starts_with("applier-new.db.") || name.starts_with("applier.cache.") ||
                                          name.starts_with("applier.journal."))) {
      // Scratch files of earlier versions of this program.
      sys::deleteAt(folder_.get(), wide);
    }
  }
}

sys::Handle WriteFolder::openFile(const std::wstring& name) { return sys::openFileAt(folder_.get(), name); }

sys::Handle WriteFolder::scratchFolder() {
  if (scratch_.valid()) return scratch_.get();
  for (int attempt = 0; attempt < 20 && !scratch_.valid(); ++attempt) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, "%016llx",
                  static_cast<unsigned long long>(sys::clockTicks()) + static_cast<unsigned long long>(attempt));
    std::wstring name = kScratchPrefix + fromUtf8(suffix);
    // Private to this process's user: in an elevated run nobody else may
    // write here, so a checked file stays what was checked.
    if (!sys::createSubfolder(folder_.get(), name, 0700)) {
      if (sys::lastError() == sys::alreadyExists) continue;
      break;
    }
    scratch_.reset(sys::openSubfolder(folder_.get(), name));
    scratchName_ = name;
  }
  if (!scratch_.valid())
    failWithCode(kReplaceFailed, "cannot create a scratch folder in the write folder \"" + toUtf8(path_) +
                                     "\": " + sys::errorMessage(sys::lastError()));
  return scratch_.get();
}

std::wstring WriteFolder::scratchPath(const std::wstring& name) { return sys::handlePath(scratchFolder(), name); }

bool WriteFolder::install(const std::wstring& scratchName, const std::wstring& target) {
  sys::Handle scratch = scratchFolder();
  sys::OwnedHandle file(sys::openFileAt(scratch, scratchName));
  if (!file.valid()) return false;
  adopt(file.get());
  bool ok = sys::setMode(file.get(), 0644);
  file.reset();
  return ok && sys::renameBetween(scratch, scratchName, folder_.get(), target);
}

bool WriteFolder::remove(const std::wstring& name) {
  return sys::deleteAt(folder_.get(), name) || sys::lastError() == sys::fileNotFound;
}

}  // namespace nx::applier
