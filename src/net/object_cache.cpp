// The updater's side of the three stores it keeps between runs: the file
// table's local fields with the file cache, and the object store.
#include <vector>

#include "base/error_model.h"
#include "base/paths.h"
#include "db/install_state.h"
#include "db/object_id.h"
#include "io/file_reader.h"
#include "io/gunzip_writer.h"
#include "io/io_error.h"
#include "io/sha256_writer.h"
#include "net/autoupdater.h"
#include "net/file_cache.h"
#include "net/installed_file.h"
#include "net/object_store.h"
#include "net/worker_pool.h"
#include "sys/errors.h"
#include "sys/files.h"

namespace nx {

namespace {

void failIfCancelled(Autoupdater& updater) {
  if (updater.cancelRequested()) failWith(updater, ErrorCode::UserCancelled, "");
}

// Raises progress to at least value: jobs that end out of order on several
// threads never move it back.
void raiseProgress(std::atomic<float>& progress, float value) {
  float seen = progress.load(std::memory_order_relaxed);
  while (value > seen && !progress.compare_exchange_weak(seen, value, std::memory_order_relaxed)) {
  }
}

bool isHexDigit(wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'); }

// A stored object's name: 64 hexadecimal digits of either case.
bool isObjectName(const std::wstring& name) {
  if (name.size() != 64) return false;
  for (wchar_t c : name)
    if (!isHexDigit(c)) return false;
  return true;
}

std::string lowerAscii(const std::wstring& name) {
  std::string out;
  out.reserve(name.size());
  for (wchar_t c : name) out.push_back(static_cast<char>(c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c));
  return out;
}

}  // namespace

void Autoupdater::loadFileLists(const std::wstring& folder) {
  // The operation clears the cancel flag once, when it starts; a Cancel that
  // arrived since then stands and ends the operation here.
  failIfCancelled(*this);
  progress.store(-1.0f, std::memory_order_relaxed);
  writeFolder = folder;
  nx::loadFileLists(database, joinPath(baseFolder, L"autoupdate.db"));
  loadFileCache();
  progress.store(1.0f, std::memory_order_relaxed);
}

void Autoupdater::loadFileCache() {
  try {
    readFileCache(joinPath(writeFolder, L"autoupdate.cache"), database);
  } catch (const std::exception& e) {
    log().log(MiniLog::WARNING, "Can't load cache: %s", e.what());
    cacheDirty = true;
  }
}

void Autoupdater::refreshFileRecord(FileRecord& record) {
  switch (refreshLocalFields(record, baseFolder, {debug_no_hash_check, debug_dont_repair}, cancelFlag)) {
    case RefreshOutcome::Current:
      return;
    case RefreshOutcome::Changed:
      cacheDirty = true;
      return;
    case RefreshOutcome::Cancelled:
      failWith(*this, ErrorCode::UserCancelled, "");
  }
}

void Autoupdater::refreshInstalledFiles() {
  failIfCancelled(*this);
  log().log(MiniLog::INFO, "Actualizing local cache...");
  std::vector<FileRecord*> records;
  records.reserve(database.files.size());
  for (auto& entry : database.files) records.push_back(&entry.second);
  if (fullCheck) {
    // Size and time prove nothing against an edit that kept both: read all.
    log().log(MiniLog::INFO, "Full check: hashing every installed file");
    for (FileRecord* record : records) record->local_hash.clear();
  }
  const size_t count = records.size();
  progress.store(count ? 0.0f : -1.0f, std::memory_order_relaxed);

  // Each job touches its own record and its own outcome slot only; the
  // dirty flag is set here, on this thread, once the pool has finished.
  std::vector<RefreshOutcome> outcomes(count, RefreshOutcome::Current);
  std::atomic<size_t> finished{0};
  const RefreshMode mode{debug_no_hash_check && !fullCheck, debug_dont_repair && !fullCheck};
  size_t started = forEachInParallel(
      count, hashThreadCount(),
      [&](size_t i) {
        FileRecord& record = *records[i];
        auto module = database.modules.find(record.module);
        if (module != database.modules.end() && module->second)
          outcomes[i] = refreshLocalFields(record, baseFolder, mode, cancelFlag);
        size_t done = finished.fetch_add(1, std::memory_order_relaxed) + 1;
        raiseProgress(progress, static_cast<float>(done) / static_cast<float>(count));
      },
      [this] { return cancelRequested(); });

  bool stopped = started < count;
  for (RefreshOutcome outcome : outcomes) {
    if (outcome == RefreshOutcome::Changed) cacheDirty = true;
    if (outcome == RefreshOutcome::Cancelled) stopped = true;
  }
  if (stopped) failWith(*this, ErrorCode::UserCancelled, "");
}

void Autoupdater::saveFileCacheIfDirty() {
  if (!cacheDirty) return;
  saveFileCache(joinPath(writeFolder, L"autoupdate.cache"), database);
  cacheDirty = false;
}

bool Autoupdater::isObjectCached(const std::wstring& store, const std::string& id) {
  // Every caller checks ids as they arrive; this one names a file below.
  if (!isObjectId(id)) failWith(*this, ErrorCode::DatabaseError, kInvalidStructure);
  const std::wstring folder = objectFolder(store, id);
  if (!sys::createFolder(folder)) {
    uint32_t error = sys::lastError();
    if (error != sys::alreadyExists)
      failWithSystemError(*this, "Can't create cache dir", folder, error, ErrorCode::DiskAccessError);
  }
  const std::wstring path = objectPath(store, id);
  sys::FileInfo info;
  if (!sys::fileInfo(path, &info)) return false;

  bool valid = false;
  // Opening a FIFO would wait for a writer forever; whatever is not a file
  // is no object and goes like a corrupt one.
  if (!info.isDevice) {
    try {
      Sha256Writer sha;
      GunzipWriter gunzip(sha);
      if (!readFileToWriter(path, gunzip, [this] { return cancelRequested(); }))
        failWith(*this, ErrorCode::UserCancelled, "");
      std::string digest;
      valid = sha.finish(digest) == id;
    } catch (const OpenFileError& e) {
      if (e.code == sys::fileNotFound) return false;  // it vanished meanwhile
      failWithSystemError(*this, "Can't open cache file", path, e.code, ErrorCode::NoError);
    } catch (const IOError& e) {
      failWithSystemError(*this, "Can't read cache file", path, e.code, ErrorCode::NoError);
    }
  }
  if (valid) return true;
  if (!sys::deleteFile(path))
    failWithSystemError(*this, "Failed to delete cache file", path, sys::lastError(), ErrorCode::DiskAccessError);
  return false;
}

void Autoupdater::pruneObjectStore(const std::wstring& store, const ObjectSet& keep) {
  std::vector<sys::FolderEntry> entries;
  for (unsigned n = 0; n < 256; ++n) {
    const unsigned char byte = static_cast<unsigned char>(n);
    const std::wstring folder = joinPath(store, hexLower(&byte, 1));
    if (!sys::listFolder(folder, &entries)) continue;
    size_t staying = 0;
    for (const sys::FolderEntry& entry : entries) {
      if (!isObjectName(entry.name) || keep.count(lowerAscii(entry.name))) {
        ++staying;
        continue;
      }
      const std::wstring path = joinPath(folder, entry.name);
      if (!sys::deleteFile(path)) {
        failWithSystemError(*this, "Can't delete cache file", path, sys::lastError(), ErrorCode::NoError);
        ++staying;
      }
    }
    if (staying == 0 && !sys::removeFolder(folder))
      failWithSystemError(*this, "Can't delete cache dir", folder, sys::lastError(), ErrorCode::NoError);
  }
}

}  // namespace nx
