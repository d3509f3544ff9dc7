// The update operation on its worker: its stages, a Cancel landing in each,
// a full disk at the cache save, and the dialog that shows it.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/download_and_hand_over.h"
#include "app/operation_worker.h"
#include "net/download_fixture.h"
#include "net/installed_file.h"
#include "support/scripted_ui.h"

namespace nx::test {
namespace {

namespace fs = std::filesystem;

// The last step's first line: the applier files are extracted and the next
// stage is started (here the release's stand-in program, /bin/true).
const char* const kHandOver = "Applying updates...";
// Logged as the next stage's process is started: the hand-over itself.
const char* const kStarting = "INFO   : Starting ";

struct Outcome {
  int32_t stage;
  bool success;
  std::string failure;
};

class OperationTest : public DownloadTest {
 protected:
  Outcome operate(DownloadRun& run, int32_t index) {
    std::atomic<OperationStage> stage{static_cast<OperationStage>(-1)};  // no stage entered yet
    std::atomic<bool> success{false}, done{false};
    std::string failure = "Download failed";
    operationWorker({*run.updater, write(), stage, staging(), index, success, failure, done});
    EXPECT_TRUE(done.load());
    return {static_cast<int32_t>(stage.load()), success.load(), failure};
  }
  Outcome operate(DownloadRun& run) { return operate(run, run.indexOf("2.0")); }
  std::wstring cachePath() const { return joinPath(write(), std::string("autoupdate.cache")); }
};

TEST_F(OperationTest, ACancelLandingInAnyStageStopsTheRunBeforeAnyHandOver) {
  struct Case {
    const char* during;  // the log line at which the user presses Cancel
    int32_t stage;       // where the run stops
  };
  // Loading the file lists does not poll; neither does the end of a download
  // with nothing left to fetch: the Cancel must still stand afterwards.
  for (const Case& c : {Case{"Can't load cache", 0}, Case{"Actualizing local cache...", 0},
                        Case{"Downloading update: version=", 1}, Case{"Cached ", 2}, Case{kHandOver, 2}}) {
    SCOPED_TRACE(c.during);
    if (c.stage == 2) operate(*newRun());  // everything is stored already
    const size_t requestsBefore = fetched().size();
    auto run = newRun();
    Autoupdater& u = *run->updater;
    run->log.hook = [&u, &c](const std::string& line) {
      if (line.find(c.during) != std::string::npos) u.cancelFlag.store(1);
    };
    Outcome o = operate(*run);
    EXPECT_EQ(o.stage, c.stage);
    EXPECT_FALSE(o.success);
    EXPECT_EQ(o.failure, "");
    EXPECT_TRUE(run->log.contains("ERROR  : User cancelled"));
    EXPECT_FALSE(run->log.contains(kStarting));
    EXPECT_TRUE(c.stage != 0 || fetched().size() == requestsBefore) << "fetched while verifying";
    EXPECT_TRUE(c.stage != 1 || stored().empty()) << "an object stored after the cancel";
  }
}

TEST_F(OperationTest, ARunSavesTheCacheAndHandsOverAndOnAFullDiskKeepsTheOldCache) {
  auto run = newRun();
  Outcome o = operate(*run);
  EXPECT_EQ(o.stage, 2);
  EXPECT_TRUE(o.success) << o.failure;
  EXPECT_TRUE(run->log.contains(kHandOver));
  EXPECT_FALSE(run->updater->cacheDirty);
  const std::string before = fileText(cachePath());
  ASSERT_FALSE(before.empty());
  // An index the reply does not have.
  o = operate(*newRun(), 7);
  EXPECT_EQ(o.stage, 1);
  EXPECT_EQ(o.failure, "unknown version_id selected");

  NX_POSIX_ONLY("a file size limit to play a full disk for the rest");
  // A changed installed file makes the cache dirty again; no file may grow
  // past 256 bytes, so it cannot be written. One hashing thread: a forked
  // child starts no threads.
  const fs::path items(joinPath(base(), std::string("data/levels.txt")));
  fs::last_write_time(items, fs::last_write_time(items) + std::chrono::seconds(10));
  const auto entries = [this] {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(fs::path(write()))) names.insert(e.path().filename().string());
    return names;
  };
  const std::set<std::string> entriesBefore = entries();
  const std::string report = withFileSizeLimit(256, [this] {
    setHashThreadCount(1);
    auto child = newRun();
    Outcome failed = operate(*child);
    return std::to_string(failed.stage) + (child->log.contains(kHandOver) ? " handed over " : " ") + failed.failure;
  });
  EXPECT_EQ(report.rfind("2 write(\"" + toUtf8(cachePath()) + "\"): ", 0), 0u) << report;
  EXPECT_EQ(fileText(cachePath()), before);
  EXPECT_EQ(entries(), entriesBefore);  // no temporary file left behind
}

// A Cancel that comes once the hand-over began cannot stop it: the run
// counts as handed over, so the caller does not start the old product too.
TEST_F(OperationTest, ACancelAfterTheHandOverBeganLeavesTheRunHandedOver) {
  ScriptedUi ui;
  std::atomic<bool> handing{false};
  ui.afterStep = [&](int) { ui.stepsBeforeUserEnd = handing ? 0 : -1; };
  auto run = newRun();
  Autoupdater& u = *run->updater;
  u.cancelFlag.store(1);  // left over from the check: cleared when the operation starts
  run->log.hook = [&](const std::string& line) {
    if (line.find(kStarting) == std::string::npos) return;
    handing = true;
    for (int i = 0; i < 10000 && !u.cancelRequested(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  EXPECT_TRUE(downloadAndHandOver(u, write(), staging(), run->indexOf("2.0")));
  EXPECT_EQ(ui.dialogs.at(0).result, ui::DialogResult::Cancelled);
}

}  // namespace
}  // namespace nx::test
