#include "net/autoupdater.h"

#include <cmath>
#include <system_error>

#include "base/error_model.h"
#include "base/paths.h"
#include "db/install_state.h"
#include "db/settings.h"
#include "db/source_tag.h"
#include "sys/clock.h"

namespace nx {

namespace {
// Taken once when the program starts; every time of the run counts from it.
const int64_t kStartTicks = sys::clockTicks();
}  // namespace

double processSeconds() { return static_cast<double>(sys::clockTicks() - kStartTicks) * sys::secondsPerTick(); }

Autoupdater::Autoupdater(MiniLog& log, const UpdaterSettings& settings)
    : debug_no_hash_check(settings.debug_no_hash_check || settings.debug_dont_repair),
      debug_keep_updater(settings.debug_keep_updater),
      debug_dont_repair(settings.debug_dont_repair),
      log_(&log) {
  if (!http.valid()) failWith(*this, ErrorCode::SystemError, "CURL init failed");
  http.followRedirects();
}

Autoupdater::~Autoupdater() {
  try {
    saveFileCacheIfDirty();
  } catch (const std::exception& e) {
    // A destructor must not throw; whatever went wrong is logged the same way.
    log_->log(MiniLog::ERROR, "Failed to save cache: %s", e.what());
  }
}

void Autoupdater::setFraction() {
  uint64_t total = totalBytes.load(std::memory_order_relaxed);
  uint64_t done = doneBytes.load(std::memory_order_relaxed);
  float fraction = total > 0 && total >= done ? static_cast<float>(done) / static_cast<float>(total) : -1.0f;
  progress.store(fraction, std::memory_order_relaxed);
}

void Autoupdater::startProgress(uint64_t total, uint64_t done) {
  totalBytes.store(total, std::memory_order_relaxed);
  doneBytes.store(done, std::memory_order_relaxed);
  lastTime = processSeconds();
  rate = 0;
  shownRate.store(0.0f, std::memory_order_relaxed);
  setFraction();
}

void Autoupdater::addProgress(uint64_t n) {
  double t = processSeconds();
  double dt = t - lastTime;
  if (dt > 0) {
    double instant = static_cast<double>(n) / dt;
    double w = std::exp(-dt * decay);
    rate = w * (rate - instant) + instant;
    lastTime = t;
  }
  shownRate.store(static_cast<float>(rate), std::memory_order_relaxed);
}

void Autoupdater::addContent(int64_t n) {
  doneBytes.fetch_add(static_cast<uint64_t>(n), std::memory_order_relaxed);  // wraps back for n < 0
  setFraction();
}

void Autoupdater::loadInstallation(const std::wstring& folder) {
  baseFolder = folder;
  loadMetadata(kInvalidStructure, database, joinPath(baseFolder, L"autoupdate.db"));
  loadInstallState(kInvalidStructure, database, joinPath(baseFolder, L"autoupdate.cfg"));
  setUserAgent();
  // Until a check says where the reply came from (a continue stage reads
  // its mirrors from the hand-over file), only a wholly local installation
  // may have local mirrors.
  localRepository = !database.update_url.empty();
  for (const std::string& url : database.update_url) localRepository &= HttpClient::isFileUrl(url);
  sourceTag = readSourceTag(baseFolder);
  logInstallation(database, *log_);
  progress.store(1.0f, std::memory_order_relaxed);
}

void Autoupdater::setUserAgent() {
  http.setUserAgent("VELTRA_UPDATER/" + database.version + " " + HttpClient::libraryVersion());
}

void startWorkerThread(std::thread& thread, std::function<void()> f) {
  thread = std::thread([f = std::move(f)] {
    try {
      f();
    } catch (...) {
      // Workers report through their own result slots.
    }
  });
}

void joinWorkerThread(std::thread& thread) {
  if (!thread.joinable()) return;
  try {
    thread.join();
  } catch (const std::system_error& e) {
    thread.detach();
    throw std::system_error(e.code(), "Wait for working thread failed with code " + std::to_string(e.code().value()));
  }
}

WorkerJoin::~WorkerJoin() {
  if (!worker_.joinable()) return;
  updater_.cancelFlag.store(1, std::memory_order_relaxed);
  try {
    joinWorkerThread(worker_);
  } catch (const std::exception&) {
    // Already failing: the original exception is the one that counts.
  }
}

}  // namespace nx
