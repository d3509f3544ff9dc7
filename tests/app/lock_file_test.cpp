#include <gtest/gtest.h>

#include <filesystem>

#include "support/lock_holder.h"
#include "support/platform.h"
#include "support/scripted_ui.h"
#include "support/temp_folder.h"
#include "sys/errors.h"
#include "ui/lock_wait.h"

namespace {
using namespace nx;

TEST(LockFile, FreeStaleAndBusyLocks) {
  test::TempFolder folder;
  const std::wstring lock = folder.file(L"autoupdate.lock");
  const std::string lockName = std::filesystem::path(lock).string();
  test::ScriptedUi ui;
  sys::Handle handle = sys::invalidHandle;
  EXPECT_EQ(acquireLockFile(lock, handle, 60, 1000), 0u);
  sys::close(handle);
  test::LockHolder(lockName).kill();  // a stale lock: its file stays behind (Windows deletes it)
  ASSERT_TRUE(test::onWindows || std::filesystem::exists(lock));
  EXPECT_EQ(acquireLockFile(lock, handle, 1, 0), 0u);
  EXPECT_TRUE(ui.dialogs.empty());
  sys::close(handle);

  test::LockHolder holder(lockName);
  ASSERT_TRUE(holder.held());
  EXPECT_EQ(acquireLockFile(lock, handle, 1, 1000), sys::sharingViolation);
  EXPECT_TRUE(ui.dialogs.empty());
  EXPECT_EQ(acquireLockFile(lock, handle, 4, 1000), sys::sharingViolation);
  EXPECT_EQ(handle, sys::invalidHandle);
  ASSERT_EQ(ui.dialogs.size(), 1u);
  const auto& d = ui.dialogs[0];
  EXPECT_TRUE(d.cancelAllowed && d.periodMs == 1000u && d.result == ui::DialogResult::Finished);
  // Attempts 2 to 4 in the first three calls, the fourth ends the wait.
  EXPECT_EQ(d.texts, std::vector<std::wstring>(4, L"Waiting for DB lock..."));

  ui.stepsBeforeUserEnd = 1;  // Cancel gives cancelled at once
  EXPECT_EQ(acquireLockFile(lock, handle, 60, 1000), sys::cancelled);
  EXPECT_EQ(ui.dialogs[1].texts.size(), 1u);
  ui.userEnd = ui::DialogResult::Accepted;  // Enter gives the last error
  EXPECT_EQ(acquireLockFile(lock, handle, 60, 1000), sys::sharingViolation);

  ui.stepsBeforeUserEnd = -1;  // released during the wait: taken
  ui.afterStep = [&](int call) {
    if (call == 1) holder.kill();
  };
  EXPECT_EQ(acquireLockFile(lock, handle, 60, 1000), 0u);
  EXPECT_EQ(ui.dialogs.back().texts.size(), 3u);
  sys::close(handle);
}

}  // namespace
