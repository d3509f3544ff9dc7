// The download of a chosen version into the staging folder's object store:
// its update database first, then every content object of the selected
// modules that neither the store nor an intact installed file already holds.
// Objects are named by their digest, so a run that stops anywhere leaves a
// store the next run resumes object by object.
#include <string>
#include <utility>
#include <vector>

#include "base/error_model.h"
#include "base/folders.h"
#include "base/paths.h"
#include "db/install_state.h"
#include "db/object_id.h"
#include "net/autoupdater.h"
#include "net/object_store.h"
#include "net/random_order.h"
#include "sys/errors.h"
#include "sys/files.h"

namespace nx {

namespace {

void failIfCancelled(Autoupdater& updater) {
  if (updater.cancelRequested()) failWith(updater, ErrorCode::UserCancelled, "");
}

// An id that is about to name a file in the store. The documents that carry
// ids are checked as they are read; this is the last line before a path.
void requireObjectId(Autoupdater& updater, const std::string& id) {
  if (isObjectId(id)) return;
  updater.log().log(MiniLog::ERROR, "Not an object id: \"%s\"", id.c_str());
  failWith(updater, ErrorCode::ServerError, kInvalidStructure);
}

// A reply that does not say how large the database is (database_size 0)
// still may not send more than this for it.
constexpr uint64_t kUnannouncedDatabaseBytes = uint64_t{256} << 20;

}  // namespace

void Autoupdater::selectVersion(const std::wstring& folder, int32_t index) {
  // The cancel flag is cleared once, when the operation starts; a Cancel
  // that came since then stands.
  failIfCancelled(*this);
  progress.store(0.0f, std::memory_order_relaxed);
  if (index < 0 || static_cast<size_t>(index) >= versions.size())
    failWith(*this, ErrorCode::NoError, "unknown version_id selected");
  selectedVersion = versions[static_cast<size_t>(index)];
  stagingFolder = folder;
  downloadUpdate();
  progress.store(1.0f, std::memory_order_relaxed);
}

std::wstring Autoupdater::createStagingFolder() {
  if (!sys::createPrivateFolders(stagingFolder))
    failWithSystemError(*this, "Can't create temp directory", stagingFolder, sys::lastError(),
                        ErrorCode::DiskAccessError);
  // The elevated applier runs from here: never from a folder others can change.
  if (std::string unsafe = unsafeFolderMessage(stagingFolder); !unsafe.empty())
    failWith(*this, ErrorCode::DiskAccessError, unsafe);
  return stagingFolder;
}

void Autoupdater::downloadUpdate() {
  const VersionEntry& s = selectedVersion;
  log().log(MiniLog::INFO, "Downloading update: version=%s, timestamp=%s, database_id=%s, database_size=%lld",
            s.version.c_str(), s.timestamp.c_str(), s.database_id.c_str(), static_cast<long long>(s.database_size));
  requireObjectId(*this, s.database_id);
  const std::wstring store = createStagingFolder();
  startProgress(s.database_size, 0);
  if (!isObjectCached(store, s.database_id))
    fetchObject(downloadUrls, store, s.database_id, s.database_size ? s.database_size : kUnannouncedDatabaseBytes);
  failIfCancelled(*this);

  Database newDatabase;
  try {
    carryInstallState(newDatabase, objectPath(store, s.database_id), database, baseFolder, installList, log());
  } catch (const std::runtime_error& e) {
    failWith(*this, ErrorCode::ServerError, e.what());
  }

  // Every content of the new version, less what intact installed files hold.
  ObjectSet all;
  for (const auto& [path, record] : newDatabase.files) {
    auto module = newDatabase.modules.find(record.module);
    if (module == newDatabase.modules.end() || !module->second) continue;
    requireObjectId(*this, record.hash);
    all.emplace(record.hash, record.size);
  }
  for (const auto& [path, record] : database.files) {
    auto module = database.modules.find(record.module);
    if (module == database.modules.end() || !module->second) continue;
    if (!record.local_hash.empty() && record.local_hash == record.hash) all.erase(record.hash);
  }
  all.emplace(s.database_id, s.database_size);
  failIfCancelled(*this);
  pruneObjectStore(store, all);

  ObjectSet own;
  prepareApplyFiles(newDatabase, all, own);
  if (!own.empty() && selfUpdateStage != SelfUpdateStage::Continue) {
    log().log(MiniLog::INFO, "Updating the updater...");
    writeHandOverFile(joinPath(stagingFolder, L"_update_info"));
    selfUpdateStage = SelfUpdateStage::OwnFilesFirst;
    downloadObjects(store, std::move(own));
  } else {
    downloadObjects(store, std::move(all));
  }
}

void Autoupdater::downloadObjects(const std::wstring& store, ObjectSet objects) {
  uint64_t total = 0, cachedBytes = 0, cachedCount = 0;
  std::vector<std::pair<std::string, uint64_t>> missing;
  missing.reserve(objects.size());
  for (auto& [id, size] : objects) {
    failIfCancelled(*this);
    requireObjectId(*this, id);
    total += size;
    if (isObjectCached(store, id)) {
      cachedBytes += size;
      ++cachedCount;
    } else {
      missing.emplace_back(id, size);
    }
  }
  log().log(MiniLog::INFO, "Downloading %lld bytes in %lld objects", static_cast<long long>(total - cachedBytes),
            static_cast<long long>(missing.size()));
  log().log(MiniLog::INFO, "Cached %lld bytes in %lld objects", static_cast<long long>(cachedBytes),
            static_cast<long long>(cachedCount));
  // What is in the store already is no part of the download's progress.
  startProgress(total - cachedBytes, 0);
  shuffleList(downloadUrls);
  for (const auto& [id, size] : missing) {
    failIfCancelled(*this);
    fetchObject(downloadUrls, store, id, size);
  }
  progress.store(1.0f, std::memory_order_relaxed);
}

}  // namespace nx
