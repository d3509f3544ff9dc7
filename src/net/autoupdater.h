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
#include "io/writer.h"
#include "net/http_client.h"
#include "sys/child_process.h"

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

// Where a run stands in a self-update, the updater's own files changing.
enum class SelfUpdateStage : uint32_t {
  None = 0,           // a normal run: every object is fetched, then the bootstrap stage applies
  OwnFilesFirst = 1,  // only the updater's own objects were fetched; the new updater continues
  Continue = 2,       // this is the continue stage: the new updater fetches the rest
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
  // A new transfer set: `total` bytes of content to add, `done` of them
  // added; the fraction is done/total, or -1 (unknown) when total is 0 or
  // below done. Content is counted after gunzip, as it lands in the store.
  void startProgress(uint64_t total, uint64_t done);
  // n more bytes received from the network: updates the exponential rate
  // (time constant five seconds) and the shown rate, nothing else. No
  // allocation.
  void addProgress(uint64_t n);
  // n more bytes of content added (negative: taken back after a failed
  // attempt): the done count and the fraction.
  void addContent(int64_t n);

  // ---- installation (autoupdater.cpp) ----
  // Loads autoupdate.db and autoupdate.cfg from the base folder (a missing
  // cfg is an error here), sets the user agent, reads the source tag and
  // logs the installation. Throws IOError.
  void loadInstallation(const std::wstring& baseFolder);
  // "VELTRA_UPDATER/<version> <libcurl version>".
  void setUserAgent();

  // ---- update check (net/update_check.cpp) ----
  // Asks the update URLs of the database, in random order, until one gives a
  // usable reply (a forced branch replaces each URL's last piece). Stops
  // asking once Cancel was pressed. Throws the last server's Fail.
  void checkForUpdates(const std::string& forcedBranch);
  // One GET of url (with "?mods=" and "&src="): 204 keeps the reply state as
  // it was; 200 replaces the mirrors and the offered versions (only those
  // whose requirements this system meets) and sets latestIndex and
  // repairIndex. Fails with code 1 on Cancel, 4 on another status or a
  // transport failure, 5 on a reply that cannot be used.
  void queryUpdateServer(const std::string& url);

  // ---- file lists, file cache and object store (net/object_cache.cpp) ----
  // Loads the installed database's file table and the write folder's file
  // cache into it (an unreadable cache only marks it dirty). Code 1 when
  // Cancel came since the operation started.
  void loadFileLists(const std::wstring& writeFolder);
  // Reads autoupdate.cache into the file records; a failure is a WARNING and
  // leaves the cache to be written anew.
  void loadFileCache();
  // Hashes, in parallel, every file of a selected module whose size or time
  // differs from the cache; code 1 on Cancel (records done so far stay).
  void refreshInstalledFiles();
  // The same for one record.
  void refreshFileRecord(FileRecord& record);
  // Writes autoupdate.cache when a record changed since it was loaded.
  void saveFileCacheIfDirty();
  // True when the store holds object id whole and with the right digest; a
  // corrupt or foreign entry in its place is deleted (code 6 when it cannot
  // be). Creates the object's fan-out folder.
  bool isObjectCached(const std::wstring& store, const std::string& id);
  // Deletes every object of the store that is not in keep (and fan-out
  // folders left empty); names that are not object ids are left alone.
  void pruneObjectStore(const std::wstring& store, const ObjectSet& keep);

  // ---- hand-over file of a self-update (net/hand_over_file.cpp) ----
  // Writes the mirrors and the selected version in the reply's format.
  void writeHandOverFile(const std::wstring& path);
  // Reads them back (bounded like a reply) into downloadUrls and versions;
  // throws IOError for a file that is missing, not regular or too large.
  void readHandOverFile(const std::wstring& path);

  // ---- download (net/update_download.cpp, net/update_download_object.cpp) ----
  // Every id becomes a path only once it is an object id (64 lowercase hex
  // digits); anything else fails with code 5 "invalid database structure".
  // Selects versions[index] ("unknown version_id selected", code 0, when
  // there is none) and downloads it into the staging folder.
  void selectVersion(const std::wstring& stagingFolder, int32_t index);
  // Fetches the new database, carries the installation state over to it,
  // works out the objects the installation lacks, prunes the rest from the
  // store and fetches them; when the updater's own files change (and this is
  // not the continue stage), only those, after writing the hand-over file.
  void downloadUpdate();
  // Creates the staging folder private to the user; code 6 when it cannot be
  // created or is not safe to run programs from.
  std::wstring createStagingFolder();
  // Fetches each object the store does not hold yet, trying the mirrors in
  // turn; progress counts what the store already holds as done.
  void downloadObjects(const std::wstring& store, ObjectSet objects);
  // Tries each mirror once, starting at the front; a failed mirror moves to
  // the back for every later object. Code 5 when none gives the object.
  // size: the object's announced size (content after gunzip). A body larger
  // than that plus a small margin, or one that inflates beyond it, ends the
  // attempt as a failed mirror.
  void fetchObject(std::deque<std::string>& urls, const std::wstring& store, const std::string& id, uint64_t size);
  // One attempt at one mirror: true when the object is stored whole and
  // verified; false (logged) for a failed mirror. Throws for Cancel (1), a
  // full disk (8), bad gzip data (5) and other local failures (6).
  bool downloadObject(const std::string& url, const std::wstring& store, const std::string& id, uint64_t size);

  // ---- applying (apply/prepare_apply_files.cpp, apply/apply_update.cpp) ----
  // Fills applyList from the new database's apply entries: each from its
  // downloaded object when the update brings it, else from the installed
  // file; the objects of the updater's own files go to updaterObjects.
  void prepareApplyFiles(const Database& newDatabase, const ObjectSet& objects, ObjectSet& updaterObjects);
  // Copies the applier files into folder under their plain names, checking
  // each object's digest once more, and makes them executable.
  void extractApplyFiles(const std::wstring& stagingFolder);
  // Extracts the applier files and starts the next stage (continue when the
  // updater's own files came first, else bootstrap) without waiting; code 1
  // when Cancel came before the hand-over.
  void applyUpdate();
  // Starts program with the stage command line; code 2 "Can't start update
  // applier" when it cannot be started.
  void startUpdateApplier(const std::wstring& program, const std::wstring& stageWord,
                          const std::wstring& stagingFolder);
  // The continue stage's hand-over: starts the bootstrap stage from the
  // staging folder (the new updater when it is among the applier files, else
  // the copy of this program the first process left there).
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
  SelfUpdateStage selfUpdateStage = SelfUpdateStage::None;
  std::vector<ApplyEntry> applyList;
  std::vector<std::string> installList;
  // Repair: hash every installed file, whatever the file cache says.
  bool fullCheck = false;
  // The next stage is started to be waited for (--wait) and is then kept here.
  bool waitForHandOver = false;
  sys::Child handedOverTo;
  // Named in failures whose details only the log holds; empty: not named.
  std::wstring logFile;

 private:
  void setFraction();

  MiniLog* log_;
};

// Counts the content that passes through it as added to the download; what
// an attempt added is taken back when the writer goes without keep().
class ContentProgress : public Writer {
 public:
  ContentProgress(Autoupdater& updater, Writer& next) : updater_(updater), next_(next) {}
  ~ContentProgress() override {
    if (!kept_) updater_.addContent(-count_);
  }
  ContentProgress(const ContentProgress&) = delete;
  ContentProgress& operator=(const ContentProgress&) = delete;
  void write(const void* data, size_t size) override {
    next_.write(data, size);
    count_ += static_cast<int64_t>(size);
    updater_.addContent(static_cast<int64_t>(size));
  }
  void keep() { kept_ = true; }

 private:
  Autoupdater& updater_;
  Writer& next_;
  int64_t count_ = 0;
  bool kept_ = false;
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
