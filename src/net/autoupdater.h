#pragma once
// The object of one update run. The entry point builds it, lets it load the
// installation, check for an update and download it, and destroys it at the
// end (saving a changed file cache). It owns the HTTP client, the installed
// database, the server's reply and the folders of the run.
//
// Threads: the main thread runs the dialogs, one worker thread at a time does
// the long work. They share only the words marked "shared" below, each an
// atomic read and written whole with relaxed ordering (a stale read shows a
// momentarily old progress or delays a cancel by one dialog step). Every
// other member belongs to the worker while it runs and to the main thread
// before its start and after its join.
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "base/error_code.h"
#include "base/error_model.h"
#include "base/mini_log.h"
#include "db/database.h"
#include "net/http_client.h"

namespace nx {

struct UpdaterSettings;

// One version the update server offers.
struct VersionEntry {
  std::string version;
  std::string timestamp;    // versions are ordered by comparing these as bytes
  std::string database_id;  // object id of that version's update database
  uint64_t database_size = 0;
  std::string requirements;  // conditions on the running system; empty: none
};

// Object id -> size in bytes; each id once.
using ObjectSet = std::unordered_map<std::string, uint64_t>;

// One applier file: its file name and where its bytes come from (an object
// of the store, or the installed file).
struct ApplyEntry {
  std::string name;
  std::wstring source;
};

class Autoupdater {
 public:
  // A failure of the run: a category and a message (which may be empty).
  using Fail = UpdateFailure;

  // Copies the debug switches (debug_dont_repair implies
  // debug_no_hash_check) and starts the HTTP client, which follows
  // redirects. Fails with code 2 "CURL init failed" when it cannot start.
  Autoupdater(MiniLog& log, const UpdaterSettings& settings);
  // Saves a changed file cache; a failure is logged as
  // "Failed to save cache: %s" and goes no further.
  ~Autoupdater();
  Autoupdater(const Autoupdater&) = delete;
  Autoupdater& operator=(const Autoupdater&) = delete;

  MiniLog& log() const { return *log_; }

  // ---- progress and speed (autoupdater.cpp) ----
  // A new transfer set of `total` bytes of which `done` are present; the
  // fraction is done/total, or -1 (unknown) when total is 0 or below done.
  void startProgress(uint64_t total, uint64_t done);
  // n more bytes received: updates the exponential rate (time constant five
  // seconds), the shown rate and the fraction. No allocation.
  void addProgress(uint64_t n);

  // ---- installation (autoupdater.cpp) ----
  // Loads autoupdate.db and autoupdate.cfg from the base folder (a missing
  // cfg is an error here), sets the user agent, reads the source tag and
  // logs the installation. Throws IOError.
  void loadInstallation(const std::wstring& baseFolder);
  // "VELTRA_UPDATER/<version> <libcurl version>".
  void setUserAgent();

  // ---- update check (net/update_check.cpp) ----
  void checkForUpdates(const std::string& forcedBranch);
  void queryUpdateServer(const std::string& url);

  // ---- file lists, file cache and object store (net/object_cache.cpp) ----
  void loadFileLists(const std::wstring& writeFolder);
  void loadFileCache();
  void refreshInstalledFiles();
  void refreshFileRecord(FileRecord& record);
  void saveFileCacheIfDirty();
  bool isObjectCached(const std::wstring& store, const std::string& id);
  void pruneObjectStore(const std::wstring& store, const ObjectSet& keep);

  // ---- hand-over file of a self-update (net/hand_over_file.cpp) ----
  void writeHandOverFile(const std::wstring& path);
  void readHandOverFile(const std::wstring& path);

  // ---- download (net/update_download.cpp, net/update_download_object.cpp) ----
  // Every id becomes a path only once it is an object id (64 lowercase hex
  // digits); anything else fails with code 5 "invalid database structure".
  void selectVersion(const std::wstring& stagingFolder, int32_t index);
  void downloadUpdate();
  // Creates the staging folder private to the user; code 6 when it cannot be
  // created or is not safe to run programs from.
  std::wstring createStagingFolder();
  void downloadObjects(const std::wstring& store, ObjectSet objects);
  // size: the object's announced size (content after gunzip). A body larger
  // than that plus a small margin, or one that inflates beyond it, ends the
  // attempt as a failed mirror.
  void fetchObject(std::deque<std::string>& urls, const std::wstring& store, const std::string& id, uint64_t size);
  bool downloadObject(const std::string& url, const std::wstring& store, const std::string& id, uint64_t size);

  // ---- applying (apply/prepare_apply_files.cpp, apply/apply_update.cpp, apply/stages.cpp) ----
  void prepareApplyFiles(const Database& newDatabase, const ObjectSet& objects, ObjectSet& updaterObjects);
  void extractApplyFiles(const std::wstring& stagingFolder);
  void applyUpdate();
  void startUpdateApplier(const std::wstring& program, const std::wstring& stageWord,
                          const std::wstring& stagingFolder);
  void startNewUpdater();

  // True when the user asked to stop.
  bool cancelRequested() const { return cancelFlag.load(std::memory_order_relaxed) != 0; }

  bool debug_no_hash_check = false;
  bool debug_keep_updater = false;
  bool debug_dont_repair = false;
  HttpClient http;
  Database database;                     // the installed one
  std::deque<std::string> downloadUrls;  // object mirrors of the last reply
  // The reply came from a file:// repository, so its mirrors may be local
  // files too; a reply from a server may name only servers.
  bool localRepository = false;
  std::vector<VersionEntry> versions;  // offered by the last reply, filtered
  VersionEntry selectedVersion;
  std::wstring baseFolder;
  std::wstring writeFolder;
  std::wstring stagingFolder;
  std::string sourceTag;
  std::atomic<uint32_t> cancelFlag{0};  // shared: main thread sets, worker reads and clears
  std::atomic<float> progress{-1.0f};   // shared: 0..1, or -1 while the amount is unknown
  int32_t latestIndex = -1;
  int32_t repairIndex = -1;
  bool cacheDirty = false;
  std::atomic<uint64_t> totalBytes{0};  // shared
  std::atomic<uint64_t> doneBytes{0};   // shared
  double lastTime = 0;                  // speed meter: seconds on the process clock
  double rate = 0;                      // bytes per second, exponential average
  double decay = 0.2;                   // per second
  std::atomic<float> shownRate{0.0f};   // shared: the rate for the dialog
  uint32_t selfUpdateStage = 0;         // 0 normal, 1 own objects fetched first, 2 continue stage
  std::vector<ApplyEntry> applyList;
  std::vector<std::string> installList;

 private:
  void setFraction();

  MiniLog* log_;
};

// Runs f on a new thread; an exception escaping f is swallowed there. Throws
// std::system_error when no thread can be started.
void startWorkerThread(std::thread& thread, std::function<void()> f);
// Waits for the thread when it runs; a second join does nothing. Throws
// std::system_error "Wait for working thread failed with code <n>" when the
// wait fails.
void joinWorkerThread(std::thread& thread);

// Joins a worker whatever happens on the main thread: an operation never
// returns, normally or by an exception, while its worker still runs. When
// the worker is still running at that point it is asked to stop first.
class WorkerJoin {
 public:
  WorkerJoin(Autoupdater& updater, std::thread& worker) : updater_(updater), worker_(worker) {}
  ~WorkerJoin();
  WorkerJoin(const WorkerJoin&) = delete;
  WorkerJoin& operator=(const WorkerJoin&) = delete;

 private:
  Autoupdater& updater_;
  std::thread& worker_;
};

// failWith and failWithSystemError on the run's log.
[[noreturn]] inline void failWith(Autoupdater& updater, ErrorCode code, const std::string& message) {
  failWith(updater.log(), code, message);
}
inline void failWithSystemError(Autoupdater& updater, const std::string& operation, const std::wstring& path,
                                uint32_t errorNumber, ErrorCode code) {
  failWithSystemError(updater.log(), operation, path, errorNumber, code);
}

// Seconds on the process-wide high-resolution clock since the program started.
double processSeconds();

}  // namespace nx
