#include "app/lock_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "support/scripted_ui.h"
#include "support/temp_folder.h"
#include "sys/errors.h"
#include "sys/lock.h"

namespace {
using namespace nx;

// Another process that holds the lock file until killed.
class LockHolder {
 public:
  explicit LockHolder(const std::wstring& lock) {
    int ready[2] = {-1, -1};
    if (::pipe(ready) == 0 && (pid_ = ::fork()) == 0) {
      char held = sys::tryLockFile(lock) != sys::invalidHandle;
      if (::write(ready[1], &held, 1) == 1) ::pause();
      ::_exit(0);
    }
    char held = 0;
    ::close(ready[1]);
    if (pid_ <= 0 || ::read(ready[0], &held, 1) != 1 || !held) ADD_FAILURE() << "no process holds the lock";
    ::close(ready[0]);
  }
  ~LockHolder() { kill(); }
  void kill() {
    if (pid_ > 0 && ::kill(pid_, SIGKILL) == 0) ::waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }

 private:
  pid_t pid_ = 0;
};

TEST(LockFile, FreeStaleAndBusyLocks) {
  test::TempFolder folder;
  const std::wstring lock = folder.file(L"autoupdate.lock");
  test::ScriptedUi ui;
  sys::Handle handle = sys::invalidHandle;
  EXPECT_EQ(acquireLockFile(lock, handle, 60, 1000), 0u);
  sys::close(handle);
  LockHolder(lock).kill();  // a stale lock: its file stays behind
  ASSERT_TRUE(std::filesystem::exists(lock));
  EXPECT_EQ(acquireLockFile(lock, handle, 1, 0), 0u);
  EXPECT_TRUE(ui.dialogs.empty());
  sys::close(handle);

  LockHolder holder(lock);
  EXPECT_EQ(acquireLockFile(lock, handle, 1, 1000), sys::sharingViolation);
  EXPECT_TRUE(ui.dialogs.empty());
  EXPECT_EQ(acquireLockFile(lock, handle, 4, 1000), sys::sharingViolation);
  EXPECT_EQ(handle, sys::invalidHandle);
  ASSERT_EQ(ui.dialogs.size(), 1u);
  const auto& d = ui.dialogs[0];
  EXPECT_TRUE(d.cancelAllowed && d.periodMs == 1000u && d.result == ui::DialogResult::Finished);
  // Attempts 2 to 4 in the first three calls, the fourth ends the wait.
  EXPECT_EQ(d.texts, std::vector<std::wstring>(4, L"Waiting for DB lock..."));
  EXPECT_EQ(d.progress, std::vector<float>(4, -1.0f));

  ui.stepsBeforeUserEnd = 1;  // Cancel gives cancelled at once
  EXPECT_EQ(acquireLockFile(lock, handle, 60, 1000), sys::cancelled);
  EXPECT_EQ(ui.dialogs[1].texts.size(), 1u);
  ui.userEnd = ui::DialogResult::Accepted;  // Enter gives the last error
  EXPECT_EQ(acquireLockFile(lock, handle, 60, 1000), sys::sharingViolation);

  ui.stepsBeforeUserEnd = -1;  // released during the wait: taken
  ui.afterStep = [&](int call) { if (call == 1) holder.kill(); };
  EXPECT_EQ(acquireLockFile(lock, handle, 60, 1000), 0u);
  EXPECT_EQ(ui.dialogs.back().texts.size(), 3u);
  sys::close(handle);
}

}  // namespace
