// The update operation on its worker: its stages, a Cancel landing in each,
// a full disk at the cache save, and the dialog that shows it.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>
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

struct Outcome {
  int32_t stage;
  bool success;
  std::string failure;
};

// Waits (up to ten seconds) until the condition holds.
template <class Condition>
void waitFor(Condition condition) {
  for (int i = 0; i < 10000 && !condition(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

class OperationTest : public DownloadTest {
 protected:
  Outcome operate(DownloadRun& run, const std::string& version) {
    std::atomic<int32_t> stage{-1};
    std::atomic<bool> success{false}, done{false};
    std::string failure = "Download failed";
    operationWorker({*run.updater, write(), stage, staging(), run.indexOf(version), success, failure, done});
    EXPECT_TRUE(done.load());
    return {stage.load(), success.load(), failure};
  }
  std::wstring cachePath() const { return joinPath(write(), std::string("autoupdate.cache")); }
};

TEST_F(OperationTest, ARunGoesThroughEveryStageToTheHandOverAfterSavingTheCache) {
  auto run = newRun();
  Outcome o = operate(*run, "2.0");
  EXPECT_EQ(o.stage, 2);
  EXPECT_TRUE(o.success) << o.failure;
  EXPECT_TRUE(run->log.contains(kHandOver));
  EXPECT_EQ(stored().size(), 5u);
  EXPECT_TRUE(fs::exists(fs::path(cachePath())));
  EXPECT_FALSE(run->updater->cacheDirty);

  // An index the reply does not have.
  auto other = newRun();
  std::atomic<int32_t> stage{0};
  std::atomic<bool> success{false}, done{false};
  std::string failure;
  operationWorker({*other->updater, write(), stage, staging(), 7, success, failure, done});
  EXPECT_EQ(stage.load(), 1);
  EXPECT_EQ(failure, "unknown version_id selected");
}

TEST_F(OperationTest, ACancelLandingInAnyStageStopsTheRunBeforeAnyHandOver) {
  struct Case {
    const char* during;  // the log line at which the user presses Cancel
    int32_t stage;       // where the run stops
  };
  // Loading the file lists does not poll; neither does the end of a download
  // with nothing left to fetch: the Cancel must still stand afterwards.
  for (const Case& c : {Case{"Can't load cache", 0}, Case{"Actualizing local cache...", 0},
                        Case{"Downloading update: version=", 1}, Case{"Cached ", 2}}) {
    SCOPED_TRACE(c.during);
    if (c.stage == 2) operate(*newRun(), "2.0");  // everything is stored already
    const size_t requestsBefore = fetched().size();
    auto run = newRun();
    Autoupdater& u = *run->updater;
    run->log.hook = [&u, &c](const std::string& line) {
      if (line.find(c.during) != std::string::npos) u.cancelFlag.store(1);
    };
    Outcome o = operate(*run, "2.0");
    EXPECT_EQ(o.stage, c.stage);
    EXPECT_FALSE(o.success);
    EXPECT_EQ(o.failure, "");
    EXPECT_TRUE(run->log.contains("ERROR  : User cancelled"));
    EXPECT_FALSE(run->log.contains(kHandOver));
    if (c.stage == 0) {
      EXPECT_EQ(fetched().size(), requestsBefore);
    }
    if (c.stage == 1) {
      EXPECT_TRUE(stored().empty());
    }
  }
}

TEST_F(OperationTest, AFullDiskWhileSavingTheCacheEndsTheRunAndKeepsTheOldCache) {
  operate(*newRun(), "2.0");
  const std::string before = fileText(cachePath());
  ASSERT_FALSE(before.empty());
  // A changed installed file makes the cache dirty again.
  const fs::path items(joinPath(base(), std::string("data/levels.txt")));
  fs::last_write_time(items, fs::last_write_time(items) + std::chrono::seconds(10));

  int result[2];
  ASSERT_EQ(::pipe(result), 0);
  pid_t child = ::fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    // No file of this process may grow past 256 bytes: the cache cannot be
    // written. One hashing thread: a forked child starts no threads.
    setHashThreadCount(1);
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit;
    ::getrlimit(RLIMIT_FSIZE, &limit);
    const rlim_t hard = limit.rlim_max;
    limit.rlim_cur = 256;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::string report;
    {
      auto run = newRun();
      Outcome o = operate(*run, "2.0");
      report = std::to_string(o.stage) + (run->log.contains(kHandOver) ? " handed over " : " ") + o.failure;
    }
    limit.rlim_cur = hard;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    (void)!::write(result[1], report.data(), report.size());
    ::_exit(0);
  }
  ::close(result[1]);
  std::string report;
  char buffer[1024];
  for (ssize_t n; (n = ::read(result[0], buffer, sizeof buffer)) > 0;) report.append(buffer, static_cast<size_t>(n));
  ::close(result[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(report.rfind("2 write(\"" + toUtf8(cachePath()) + "\"): ", 0), 0u) << report;
  EXPECT_EQ(fileText(cachePath()), before);
}

class DialogTest : public OperationTest {
 protected:
  // Distinct texts the dialog showed, in order.
  std::vector<std::wstring> shownTexts() const {
    std::vector<std::wstring> texts;
    for (const std::wstring& t : ui.dialogs.at(0).texts)
      if (texts.empty() || texts.back() != t) texts.push_back(t);
    return texts;
  }
  ScriptedUi ui;
};

TEST_F(DialogTest, TheDialogShowsEachStageAndTheTransferLineWhileDownloading) {
  // The worker waits at each stage until the dialog has shown it.
  std::atomic<int> seen{0};
  ui.afterStep = [&](int) {
    const std::wstring& text = ui.dialogs.back().texts.back();
    if (text == L"Verifying installation...") seen |= 1;
    if (text.rfind(L"Downloading updates...\n", 0) == 0) seen |= 2;
    if (text == L"Applying update...") seen |= 4;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  auto run = newRun();
  run->log.hook = [&](const std::string& line) {
    if (line.find("Actualizing local cache") != std::string::npos) waitFor([&] { return seen & 1; });
    if (line.find("Downloading update:") != std::string::npos) waitFor([&] { return seen & 2; });
    if (line.find(kHandOver) != std::string::npos) waitFor([&] { return seen & 4; });
  };
  EXPECT_TRUE(downloadAndHandOver(*run->updater, write(), staging(), run->indexOf("2.0")));
  ASSERT_EQ(ui.dialogs.size(), 1u);
  EXPECT_TRUE(ui.dialogs[0].cancelAllowed);
  EXPECT_EQ(ui.dialogs[0].periodMs, 100u);
  const std::vector<std::wstring> texts = shownTexts();
  ASSERT_GE(texts.size(), 3u);
  EXPECT_EQ(texts.front(), L"Verifying installation...");
  EXPECT_EQ(texts.back(), L"Applying update...");
  const std::wregex transfer(LR"(Downloading updates\.\.\.\n\d+\.\d(/\d+\.\d)? MB( @ +\d+\.\d KB/s)?)");
  for (size_t i = 1; i + 1 < texts.size(); ++i)
    EXPECT_TRUE(std::regex_match(texts[i], transfer)) << toUtf8(texts[i]);
}

TEST_F(DialogTest, CancelInTheDialogEndsTheRunWithoutAnErrorOrAHandOver) {
  ui.stepsBeforeUserEnd = 1;
  auto run = newRun();
  Autoupdater& u = *run->updater;
  u.cancelFlag.store(1);  // left over from the check: cleared when the operation starts
  // The user presses Cancel while the worker loads the file lists.
  std::atomic<bool> loading{false};
  run->log.hook = [&](const std::string& line) {
    if (line.find("Can't load cache") == std::string::npos) return;
    loading = true;
    waitFor([&u] { return u.cancelRequested(); });
  };
  ui.afterStep = [&](int) { waitFor([&] { return loading.load(); }); };
  EXPECT_FALSE(downloadAndHandOver(u, write(), staging(), run->indexOf("2.0")));
  EXPECT_EQ(ui.dialogs.at(0).result, ui::DialogResult::Cancelled);
  EXPECT_TRUE(loading.load());
  EXPECT_FALSE(run->log.contains("Actualizing local cache"));
  EXPECT_FALSE(run->log.contains(kHandOver));
  EXPECT_TRUE(fetched().empty());
}

}  // namespace
}  // namespace nx::test
