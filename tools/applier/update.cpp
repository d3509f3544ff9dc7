#include "applier/update.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "applier/applier_error.h"
#include "applier/change_plan.h"
#include "applier/content_stream.h"
#include "applier/staging.h"
#include "applier/state_files.h"
#include "applier/transaction.h"
#include "base/paths.h"
#include "base/text.h"
#include "db/install_state.h"
#include "io/file_reader.h"
#include "io/gunzip_writer.h"
#include "io/io_error.h"
#include "io/sha256_writer.h"
#include "net/file_cache.h"
#include "net/object_store.h"
#include "net/worker_pool.h"
#include "sys/errors.h"
#include "sys/no_follow.h"
#include "sys/owned_handle.h"

namespace nx::applier {

namespace {

// A database is a few MiB even for a large product; this bounds what a
// hostile object can make the applier write.
constexpr uint64_t kMaxDatabaseBytes = 512ull << 20;
// autoupdate.cfg is a few lines.
constexpr uint64_t kMaxStateFileBytes = 1u << 20;

// The object `id` of the staging folder's store, opened without following a
// link; invalidHandle when there is no regular file by that name.
sys::Handle openObject(BaseTree& store, const std::string& id) {
  BaseTree::Reach reach;
  std::string where;
  BaseTree::Folder folder = store.folder(id.substr(0, 2), &reach, &where);
  return folder == sys::invalidHandle ? sys::invalidHandle : sys::openFileAt(folder, fromUtf8(id));
}

// Gunzips the database object into the private scratch folder, checking its
// digest; returns the path the readers take it by.
std::wstring extractDatabase(const Request& request, BaseTree& store, WriteFolder& write, uint64_t* size) {
  const std::wstring object = objectPath(request.staging, request.databaseId);
  sys::OwnedHandle in(openObject(store, request.databaseId));
  if (!in.valid())
    failWithCode(kBadObject,
                 "the new database (object " + request.databaseId + ") is missing: \"" + toUtf8(object) + "\"");
  sys::OwnedHandle handle(sys::createFileAt(write.scratchFolder(), L"new.db", false));
  if (!handle.valid())
    failWithCode(kReplaceFailed,
                 "cannot create a scratch file in the write folder: " + sys::errorMessage(sys::lastError()));
  HandleWriter file(handle.get(), kMaxDatabaseBytes, L"new.db");
  Sha256Writer sha(file);
  std::string problem, digest;
  try {
    GunzipWriter gunzip(sha);
    pumpHandle(in.get(), gunzip, object);
    sha.finish(digest);
    if (digest != request.databaseId) problem = "its content hashes to " + digest;
  } catch (const ContentTooLong&) {
    problem = "it is larger than any database";
  } catch (const IOError& e) {
    if (file.failed) failWithCode(kReplaceFailed, e.what());
    problem = e.what();
  }
  handle.reset();
  in.reset();
  if (!problem.empty())
    failWithCode(kBadObject, "the new database (object " + request.databaseId + ") is corrupt: " + problem);
  *size = file.written;
  return write.scratchPath(L"new.db");
}

// Work on a thread of its own beside the caller's. finish() waits for it
// and rethrows its failure; a Parallel that goes out of scope (the caller
// failed) still waits, so the work never outlives what it uses.
class Parallel {
 public:
  explicit Parallel(std::function<void()> work)
      : thread_([this, work = std::move(work)] {
          try {
            work();
          } catch (...) {
            failure_ = std::current_exception();
          }
        }) {}
  ~Parallel() {
    if (thread_.joinable()) thread_.join();
  }
  void finish() {
    thread_.join();
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  std::exception_ptr failure_;
  std::thread thread_;
};

bool vouched(const FileRecord& record, const sys::EntryInfo& entry) {
  return !record.local_hash.empty() && entry.type == sys::EntryType::file && entry.size == record.local_size &&
         entry.writeTime == record.local_time;
}

// SHA-256 of an installed file, or empty when it cannot be read.
std::string hashInstalled(BaseTree& tree, const TreePath& path) {
  BaseTree::Folder folder = tree.requireFolder(path.folder);
  sys::OwnedHandle file(sys::openFileAt(folder, fromUtf8(path.name)));
  if (!file.valid()) return {};
  try {
    return hashHandle(file.get(), fromUtf8(path.full()));
  } catch (const IOError&) {
    return {};
  }
}

// Up to limit bytes of an installed file; false when it cannot be read.
bool readInstalled(BaseTree& tree, const TreePath& path, std::string* bytes) {
  BaseTree::Folder folder = tree.requireFolder(path.folder);
  sys::OwnedHandle file(sys::openFileAt(folder, fromUtf8(path.name)));
  if (!file.valid()) return false;
  return readBounded(file.get(), kMaxStateFileBytes, bytes) == BoundedRead::ok;
}

std::string normalized(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

// A replaced file's owner stays; a new one takes its folder's (see stageFile).
void keepOwner(NewFile& file, const sys::EntryInfo& replaced) {
  if (replaced.type != sys::EntryType::file) return;
  file.ownerKnown = true;
  file.owner = replaced.owner;
  file.group = replaced.group;
}

TreePath checkedPath(const std::string& path, const char* which) {
  TreePath split;
  if (!splitTreePath(path, &split))
    failWithCode(kPathRefused, std::string("the ") + which + " lists the path \"" + path +
                                   "\", which would leave the base folder; refused");
  return split;
}

// Works out what an update changes, then makes the change as one
// transaction. It promises that nothing in the installation is touched
// before every new path has been checked and every content has a source.
// plan() takes the steps in their fixed order: read the file cache (beside
// the path checks), check the new paths, plan the new files, the removals and
// the state files, find a source for every content. Only then may apply()
// (or saveCacheOnly(), when nothing is to do) run.
class UpdatePlanner {
 public:
  UpdatePlanner(const Request& request, BaseTree& tree, BaseTree& store, WriteFolder& write, Database& oldDb,
                Database& newDb, MiniLog& log)
      : request_(request),
        tree_(tree),
        store_(store),
        write_(write),
        oldDb_(oldDb),
        newDb_(newDb),
        log_(log),
        plan_(tree, log) {}

  void plan(const std::wstring& newDbFile, uint64_t newDbSize);
  bool nothingToDo() const { return plan_.empty(); }
  void saveCacheOnly();
  void apply(TestHook& hook);

 private:
  struct Target {
    FileRecord* record;  // null for autoupdate.cfg and autoupdate.db
    TreePath path;
    NewFile file;
    bool hadOld = false;
    bool isStateFile() const { return record == nullptr; }
  };

  void checkNewPaths();
  void readFileCache();
  void planNewFiles();
  void planRemovals();
  void planStateFiles(const std::wstring& newDbFile, uint64_t newDbSize);
  void checkSources();
  void requirePlanned() const;
  bool inStore(const std::string& digest);
  void indexInstalledContent(const std::unordered_set<std::string>& wanted);
  std::vector<ContentSource> sourcesFor(const std::string& digest, bool stored);

  const Request& request_;
  BaseTree& tree_;
  BaseTree& store_;
  WriteFolder& write_;
  Database& oldDb_;
  Database& newDb_;
  MiniLog& log_;
  ChangePlan plan_;
  std::vector<FileRecord*> newRecords_;                 // by path
  std::vector<const TreePath*> newSplits_;              // the same order
  std::unordered_map<std::string, TreePath> newPaths_;  // normalized -> split
  std::unordered_set<std::string> executables_;
  std::vector<Target> targets_;
  std::vector<std::pair<TreePath, const FileRecord*>> removals_;
  // Paths of the new version whose installed content is known, by digest.
  std::vector<std::pair<const TreePath*, const std::string*>> installedContent_;
  // Installed files known to hold a content (digest -> paths), and those
  // only the installed database says hold it (checked while copying).
  std::unordered_map<std::string, std::vector<TreePath>> known_, listed_;
  bool planned_ = false;
  size_t intactCount_ = 0;
  std::string stateText_;
  std::vector<std::string> missing_;
  size_t vouchedCount_ = 0, hashedCount_ = 0;
};

void UpdatePlanner::checkNewPaths() {
  for (auto& [path, record] : newDb_.files) newRecords_.push_back(&record);
  std::sort(newRecords_.begin(), newRecords_.end(), [](auto* a, auto* b) { return a->path < b->path; });
  for (FileRecord* record : newRecords_) {
    TreePath split = checkedPath(record->path, "new database");
    if (isStateFileName(split.full()))
      failWithCode(kBadDatabase,
                   "the new database lists \"" + split.full() + "\", which would replace the installation state");
    if (Transaction::isWorkName(split.name))
      failWithCode(kBadDatabase,
                   "the new database lists \"" + split.full() + "\", a name this program uses for its own work");
    auto [it, added] = newPaths_.emplace(split.full(), split);
    if (!added) failWithCode(kBadDatabase, "the new database lists \"" + split.full() + "\" twice");
    newSplits_.push_back(&it->second);
  }
  // Each folder once: a folder already seen had its parents checked too.
  std::unordered_set<std::string> folders;
  for (const auto& [path, split] : newPaths_)
    for (std::string f = split.folder; !f.empty() && folders.insert(f).second; f = parentOf(f))
      if (newPaths_.count(f))
        failWithCode(kBadDatabase, "the new database lists \"" + f + "\" both as a file and as a folder");
  for (const auto* list : {&newDb_.launch, &newDb_.apply})
    for (const std::string& entry : *list) executables_.insert(normalized(entry));
}

void UpdatePlanner::readFileCache() {
  // The cache was written for the installed database: give its table the
  // new paths too, so rows for every path the update looks at apply.
  for (const auto& [path, record] : newDb_.files) {
    auto [it, added] = oldDb_.files.try_emplace(path);
    if (added) it->second.path = path;
  }
  // The cache is the invoking user's: it may vouch only for files that user
  // could change anyway. For anyone else's installation every file is hashed.
  sys::EntryInfo base;
  if (sys::elevatedForOtherUser() &&
      (!sys::handleEntryInfo(tree_.requireFolder(""), &base) || base.owner != sys::invokingUser())) {
    log_.log(MiniLog::INFO, "The installation does not belong to user %u: installed files are hashed",
             sys::invokingUser());
    return;
  }
  sys::OwnedHandle file(write_.openFile(L"autoupdate.cache"));
  if (!file.valid()) {
    log_.log(MiniLog::INFO, "No file cache: installed files are hashed");
    return;
  }
  try {
    if (!nx::readFileCache(sys::handlePath(file.get()), oldDb_))
      log_.log(MiniLog::INFO, "The file cache belongs to another version: installed files are hashed");
  } catch (const std::runtime_error& e) {
    log_.log(MiniLog::WARNING, "Can't load cache: %s", e.what());
  }
}

void UpdatePlanner::planNewFiles() {
  for (size_t i = 0; i < newRecords_.size(); ++i) {
    FileRecord* record = newRecords_[i];
    const TreePath& path = *newSplits_[i];
    sys::EntryInfo entry = plan_.placeForWrite(path);
    FileRecord& installed = oldDb_.files.at(record->path);
    if (vouched(installed, entry)) {
      ++vouchedCount_;
    } else if (entry.type == sys::EntryType::file && entry.size == record->size) {
      // What the cache cannot vouch for is hashed, and remembered as the
      // cache would have it.
      installed.local_hash = hashInstalled(tree_, path);
      installed.local_size = entry.size;
      installed.local_time = entry.writeTime;
      ++hashedCount_;
    } else {
      installed.local_hash.clear();
    }
    if (!installed.local_hash.empty()) installedContent_.emplace_back(&path, &installed.local_hash);
    // Programs: those the database marks, and the launch and apply entries;
    // a database that marks none keeps what the replaced file had.
    bool executable = executables_.count(path.full()) > 0 || record->executable ||
                      (!newDb_.executablesListed && entry.type == sys::EntryType::file && entry.executable);
    if (installed.local_hash == record->hash && (!executable || entry.executable)) {
      record->local_hash = record->hash;
      record->local_size = entry.size;
      record->local_time = entry.writeTime;
      ++intactCount_;
      continue;
    }
    Target target{record, path, NewFile{}, entry.type == sys::EntryType::file};
    target.file.path = path;
    target.file.digest = record->hash;
    target.file.size = record->size;
    target.file.executable = executable;
    keepOwner(target.file, entry);
    targets_.push_back(std::move(target));
  }
  log_.log(MiniLog::INFO, "Checked %zu installed places: %zu vouched for by the file cache, %zu hashed",
           newRecords_.size(), vouchedCount_, hashedCount_);
}

void UpdatePlanner::planRemovals() {
  std::vector<const FileRecord*> old;
  for (const auto& [path, record] : oldDb_.files) {
    // Listed by the installed database (not only added for the cache), and
    // not under the same name by the new one.
    if (!record.module.empty() && !newDb_.files.count(path)) old.push_back(&record);
  }
  std::sort(old.begin(), old.end(), [](auto* a, auto* b) { return a->path < b->path; });
  for (const FileRecord* record : old) {
    TreePath path = checkedPath(record->path, "installed database");
    if (isStateFileName(path.full()) || Transaction::isWorkName(path.name) || newPaths_.count(path.full())) continue;
    if (plan_.placeForRemove(path)) removals_.emplace_back(path, record);
  }
}

bool UpdatePlanner::inStore(const std::string& digest) {
  return store_.info(TreePath{digest.substr(0, 2), digest}).type == sys::EntryType::file;
}

void UpdatePlanner::indexInstalledContent(const std::unordered_set<std::string>& wanted) {
  // Only the contents the store lacks (the updater downloads none that an
  // intact installed file holds): a few, so only their places are kept.
  for (const auto& [path, digest] : installedContent_)
    if (wanted.count(*digest)) known_[*digest].push_back(*path);
  for (const auto& [path, record] : removals_) {
    const bool local = wanted.count(record->local_hash) > 0, listed = wanted.count(record->hash) > 0;
    if (!local && !listed) continue;
    if (vouched(*record, tree_.info(path))) {
      if (local) known_[record->local_hash].push_back(path);
    } else if (listed) {
      listed_[record->hash].push_back(path);
    }
  }
  // Files the installed database says hold a content; checked while copied.
  for (const auto& [key, record] : oldDb_.files) {
    TreePath path;
    if (!record.module.empty() && wanted.count(record.hash) && splitTreePath(record.path, &path) &&
        newPaths_.count(path.full()))
      listed_[record.hash].push_back(path);
  }
}

std::vector<ContentSource> UpdatePlanner::sourcesFor(const std::string& digest, bool stored) {
  std::vector<ContentSource> sources;
  if (stored) {
    ContentSource source;
    source.kind = ContentSource::Kind::object;
    source.file = objectPath(request_.staging, digest);
    source.installed = TreePath{digest.substr(0, 2), digest};
    sources.push_back(source);
    return sources;
  }
  for (const auto* table : {&known_, &listed_}) {
    auto found = table->find(digest);
    if (found == table->end()) continue;
    for (const TreePath& path : found->second) {
      ContentSource source;
      source.kind = ContentSource::Kind::installed;
      source.installed = path;
      sources.push_back(source);
      if (sources.size() >= 4) return sources;
    }
  }
  return sources;
}

void UpdatePlanner::planStateFiles(const std::wstring& newDbFile, uint64_t newDbSize) {
  // autoupdate.cfg, then autoupdate.db: the database goes in last.
  stateText_ = installStateText(newDb_);
  TreePath cfg{"", "autoupdate.cfg"};
  sys::EntryInfo entry = plan_.placeForWrite(cfg);
  std::string installed;
  if (entry.type != sys::EntryType::file || !readInstalled(tree_, cfg, &installed) || installed != stateText_) {
    Sha256Writer sha;
    sha.write(stateText_.data(), stateText_.size());
    std::string digest;
    Target target{nullptr, cfg, NewFile{}, entry.type == sys::EntryType::file};
    target.file.path = cfg;
    keepOwner(target.file, entry);
    target.file.digest = sha.finish(digest);
    target.file.size = stateText_.size();
    ContentSource source;
    source.kind = ContentSource::Kind::text;
    source.text = &stateText_;
    target.file.sources.push_back(source);
    targets_.push_back(std::move(target));
  }
  TreePath db{"", "autoupdate.db"};
  entry = plan_.placeForWrite(db);
  if (entry.type != sys::EntryType::file || entry.size != newDbSize ||
      hashInstalled(tree_, db) != request_.databaseId) {
    Target target{nullptr, db, NewFile{}, entry.type == sys::EntryType::file};
    target.file.path = db;
    keepOwner(target.file, entry);
    target.file.digest = request_.databaseId;
    target.file.size = newDbSize;
    ContentSource source;
    source.kind = ContentSource::Kind::file;
    source.file = newDbFile;
    target.file.sources.push_back(source);
    targets_.push_back(std::move(target));
  }
}

void UpdatePlanner::checkSources() {
  uint64_t bytes = 0;
  std::vector<bool> stored(targets_.size());
  std::unordered_set<std::string> wanted;
  for (size_t i = 0; i < targets_.size(); ++i)
    if (!targets_[i].isStateFile() && !(stored[i] = inStore(targets_[i].record->hash)))
      wanted.insert(targets_[i].record->hash);
  if (!wanted.empty()) indexInstalledContent(wanted);
  for (size_t i = 0; i < targets_.size(); ++i) {
    Target& target = targets_[i];
    if (!target.isStateFile()) target.file.sources = sourcesFor(target.record->hash, stored[i]);
    if (target.file.sources.empty()) missing_.push_back(target.file.digest + " (\"" + target.path.full() + "\")");
    bytes += target.file.size;
  }
  if (!missing_.empty())
    failWithCode(kBadObject, std::to_string(missing_.size()) + " object(s) are missing from \"" +
                                 toUtf8(request_.staging) + "\" and from the installation, first " + missing_.front());
  // Product files first, then the removals, then the state files, the
  // database last of all.
  for (const Target& target : targets_)
    if (!target.isStateFile()) plan_.write(target.path, target.file.digest, target.file.size, target.hadOld);
  for (const auto& [path, record] : removals_) plan_.remove(path);
  for (const Target& target : targets_)
    if (target.isStateFile()) plan_.write(target.path, target.file.digest, target.file.size, target.hadOld);
  log_.log(MiniLog::INFO, "Files: %zu intact, %zu to write (%llu bytes), %zu to remove", intactCount_, targets_.size(),
           static_cast<unsigned long long>(bytes), removals_.size());
}

void UpdatePlanner::plan(const std::wstring& newDbFile, uint64_t newDbSize) {
  if (planned_) throw std::logic_error("an update is planned once");
  {
    Parallel cache([&] { readFileCache(); });
    checkNewPaths();
    cache.finish();
  }
  planNewFiles();
  planRemovals();
  planStateFiles(newDbFile, newDbSize);
  checkSources();
  planned_ = true;
}

void UpdatePlanner::requirePlanned() const {
  if (!planned_) throw std::logic_error("an update is applied only after it is planned");
}

void UpdatePlanner::saveCacheOnly() {
  requirePlanned();
  try {
    saveFileCache(write_.scratchPath(L"applier.cache"), newDb_, 1);
    if (!write_.install(L"applier.cache", L"autoupdate.cache"))
      throw IOError(L"create", joinPath(write_.path(), L"autoupdate.cache"), sys::lastError());
  } catch (const std::runtime_error& e) {
    log_.log(MiniLog::WARNING, "Failed to save cache: %s", e.what());
  }
}

void UpdatePlanner::apply(TestHook& hook) {
  requirePlanned();
  Transaction tx(tree_, write_, log_, hook);
  try {
    tx.begin(plan_.journal(request_.base, CacheFate::pending));
    std::vector<const NewFile*> files;
    for (Target& target : targets_) {
      resolveFolders(tree_, store_, target.file);
      files.push_back(&target.file);
    }
    // Four threads even on fewer cores: creating and writing files waits on
    // the file system about as long as gunzip and hashing compute.
    std::vector<StagedFile> staged = stageFiles(files, log_, hook, 4);
    for (size_t i = 0; i < targets_.size(); ++i) {
      if (FileRecord* record = targets_[i].record) {
        record->local_hash = record->hash;
        record->local_size = staged[i].size;
        record->local_time = staged[i].writeTime;
      }
    }
    log_.log(MiniLog::INFO, "Staged and verified %zu new files", targets_.size());
    // The new cache is written while the staged files go to the disk and
    // replace the old ones; deflate level 1 takes a seventh of the time of
    // level 9 for a file a few per cent larger.
    Parallel cache([&] {
      saveFileCache(tx.pendingCachePath(), newDb_, 1);
      hook.step("pending cache");
    });
    tx.commit([&] { cache.finish(); });
  } catch (const ApplierError& e) {
    tx.rollback();
    int code = e.code == kBadObject || e.code == kPathRefused ? e.code : kReplaceFailed;
    throw ApplierError(code, std::string(e.what()) + "; the previous installation is kept");
  } catch (const std::exception& e) {
    tx.rollback();
    throw ApplierError(kReplaceFailed, std::string(e.what()) + "; the previous installation is kept");
  }
}

}  // namespace

void applyUpdate(const Request& request, WriteFolder& write, MiniLog& log, TestHook& hook) {
  BaseTree tree(request.base);
  std::unique_ptr<BaseTree> opened;
  try {
    opened = std::make_unique<BaseTree>(request.staging);
  } catch (const ApplierError&) {
    failWithCode(kBadObject, "the staging folder \"" + toUtf8(request.staging) + "\" cannot be opened");
  }
  BaseTree& store = *opened;
  uint64_t newDbSize = 0;

  Database oldDb, newDb;
  checkStateFiles(tree);
  loadInstalledDatabase(request.base, oldDb);
  std::wstring newDbFile;
  {
    // The installed file lists are read while the new database is unpacked
    // and read (each reads only the module table and arch of the other).
    Parallel oldLists([&] { loadInstalledFileLists(request.base, oldDb, "installed database"); });
    newDbFile = extractDatabase(request, store, write, &newDbSize);
    try {
      carryInstallState(newDb, newDbFile, oldDb, request.base, request.modules, log);
    } catch (const std::runtime_error& e) {
      if (!newDb.refusedPath.empty())
        failWithCode(kPathRefused, "the new database (object " + request.databaseId + ") lists the path \"" +
                                       newDb.refusedPath + "\", which would leave the base folder; refused");
      // The reader names the scratch copy; the user knows the object.
      std::string why = e.what();
      const std::string scratch = toUtf8(newDbFile);
      if (size_t at = why.find(scratch); at != std::string::npos) why.replace(at, scratch.size(), "object");
      failWithCode(kBadDatabase, "the new database cannot be read (object " + request.databaseId + "): " + why);
    }
    oldLists.finish();
  }
  for (const std::string& name : request.modules)
    if (!newDb.modules.count(name)) log.log(MiniLog::WARNING, "Unknown module to install: %s", name.c_str());
  log.log(MiniLog::INFO, "Update from version %s to version %s (timestamp %s)", oldDb.version.c_str(),
          newDb.version.c_str(), newDb.timestamp.c_str());
  std::string modules;
  for (const auto& name : selectedModules(newDb)) modules += (modules.empty() ? "" : ",") + name;
  log.log(MiniLog::INFO, "New installation: arch %s, lang %s, modules %s", newDb.arch.c_str(), newDb.lang.c_str(),
          modules.c_str());

  UpdatePlanner planner(request, tree, store, write, oldDb, newDb, log);
  planner.plan(newDbFile, newDbSize);
  if (planner.nothingToDo()) {
    log.log(MiniLog::INFO, "The installation already holds version %s", newDb.version.c_str());
    planner.saveCacheOnly();
    return;
  }
  planner.apply(hook);
  log.log(MiniLog::INFO, "Version %s is installed", newDb.version.c_str());
}

}  // namespace nx::applier
