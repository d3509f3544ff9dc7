#include "app/lock_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/scripted_ui.h"
#include "support/temp_folder.h"
#include "sys/clock.h"
#include "sys/errors.h"
#include "sys/lock.h"

extern char** environ;

namespace nx {
namespace {

namespace fs = std::filesystem;

// Another process that holds the lock file (through flock(1)) until killed.
class LockHolder {
 public:
  explicit LockHolder(const std::wstring& lock) {
    fs::path ready = fs::path(lock).concat(".ready");
    std::string script = "touch '" + ready.string() + "'; exec sleep 30";
    std::string lockPath = fs::path(lock).string();
    const char* argv[] = {"flock", "-n", lockPath.c_str(), "sh", "-c", script.c_str(), nullptr};
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);  // a group of its own, killed as one
    int rc = posix_spawnp(&pid_, "flock", nullptr, &attr, const_cast<char**>(argv), environ);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) pid_ = 0;
    for (int i = 0; pid_ && i < 1000 && !fs::exists(ready); ++i) sys::sleepMs(10);
  }
  ~LockHolder() { kill(); }
  bool holding() const { return pid_ != 0; }
  void kill() {
    if (!pid_) return;
    ::kill(-pid_, SIGKILL);
    int status;
    ::waitpid(pid_, &status, 0);
    pid_ = 0;
  }

 private:
  pid_t pid_ = 0;
};

class LockFileTest : public ::testing::Test {
 protected:
  test::TempFolder folder;
  std::wstring lock = folder.file(L"autoupdate.lock");
  sys::Handle handle = sys::invalidHandle;
  void TearDown() override { sys::close(handle); }
};

TEST_F(LockFileTest, FreeOrStaleLockIsTakenAtOnceWithoutDialog) {
  test::ScriptedUi ui;
  EXPECT_EQ(acquireLockFile(lock, handle, 60, 1000), 0u);
  EXPECT_NE(handle, sys::invalidHandle);
  sys::close(handle);
  {
    LockHolder holder(lock);
    ASSERT_TRUE(holder.holding());
  }  // killed: its file stays behind
  ASSERT_TRUE(fs::exists(fs::path(lock)));
  EXPECT_EQ(acquireLockFile(lock, handle, 1, 0), 0u);
  EXPECT_TRUE(ui.dialogs.empty());
  // Held now: a second open of the file, even in this process, is refused.
  sys::Handle again = sys::tryLockFile(lock);
  EXPECT_EQ(again, sys::invalidHandle);
  EXPECT_EQ(sys::lastError(), sys::sharingViolation);
}

TEST_F(LockFileTest, BusyLockIsRetriedUnderTheWaitDialogUntilAttemptsRunOut) {
  LockHolder holder(lock);
  ASSERT_TRUE(holder.holding());
  test::ScriptedUi ui;
  EXPECT_EQ(acquireLockFile(lock, handle, 1, 1000), sys::sharingViolation);
  EXPECT_TRUE(ui.dialogs.empty());
  EXPECT_EQ(acquireLockFile(lock, handle, 4, 1000), sys::sharingViolation);
  EXPECT_EQ(handle, sys::invalidHandle);
  ASSERT_EQ(ui.dialogs.size(), 1u);
  const auto& d = ui.dialogs[0];
  EXPECT_TRUE(d.cancelAllowed);
  EXPECT_EQ(d.periodMs, 1000u);
  // Attempts 2 to 4 in the first three calls, the fourth ends the wait.
  ASSERT_EQ(d.texts.size(), 4u);
  for (size_t i = 0; i < d.texts.size(); ++i) {
    EXPECT_EQ(d.texts[i], L"Waiting for DB lock...");
    EXPECT_EQ(d.progress[i], -1.0f);
  }
  EXPECT_EQ(d.result, ui::DialogResult::Finished);
}

TEST_F(LockFileTest, CancelGivesCancelledAndEnterTheLastError) {
  LockHolder holder(lock);
  ASSERT_TRUE(holder.holding());
  test::ScriptedUi ui;
  ui.stepsBeforeUserEnd = 1;
  EXPECT_EQ(acquireLockFile(lock, handle, 60, 1000), sys::cancelled);
  ui.userEnd = ui::DialogResult::Accepted;
  EXPECT_EQ(acquireLockFile(lock, handle, 60, 1000), sys::sharingViolation);
  EXPECT_EQ(ui.dialogs.size(), 2u);
  EXPECT_EQ(ui.dialogs[0].texts.size(), 1u);
}

TEST_F(LockFileTest, LockReleasedDuringTheWaitIsTaken) {
  LockHolder holder(lock);
  ASSERT_TRUE(holder.holding());
  test::ScriptedUi ui;
  ui.afterStep = [&](int call) {
    if (call == 1) holder.kill();
  };
  EXPECT_EQ(acquireLockFile(lock, handle, 60, 1000), 0u);
  EXPECT_NE(handle, sys::invalidHandle);
  ASSERT_EQ(ui.dialogs.size(), 1u);
  EXPECT_EQ(ui.dialogs[0].texts.size(), 3u);
}

}  // namespace
}  // namespace nx
