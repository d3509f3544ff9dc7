// init on a real installation made with the publish program, with the
// scripted user interface in place of message boxes. (Its refusals and
// modconfig: the module choice tests and the entry point tests.)
#include "app/maintenance.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/paths.h"
#include "db/database.h"
#include "db/install_state.h"
#include "net/file_cache.h"
#include "support/memory_log.h"
#include "support/scripted_ui.h"
#include "support/temp_folder.h"
#include "support/update_fixture.h"
#include "sys/files.h"

namespace nx {
namespace {

namespace fs = std::filesystem;

TEST(Maintenance, InitRecordsTheStateAndSeedsTheCacheFromFilesOfTheListedSize) {
  test::TempFolder dir;
  test::MemoryLog log;
  test::ScriptedUi ui;
  const std::wstring base = dir.file(L"install"), write = dir.file(L"write");
  auto inBase = [&](const std::string& path) { return joinPath(base, path); };
  ASSERT_EQ(test::publishSample(1, dir.file(L"repo")), 0);
  ASSERT_EQ(test::imageRelease(toUtf8(dir.file(L"repo")), "1.0", toUtf8(base)).status, 0);
  fs::create_directory(fs::path(write));
  fs::remove(fs::path(inBase("autoupdate.cfg")));
  fs::remove(fs::path(inBase("Config/lang.cfg")));
  std::ofstream(fs::path(inBase("data/items.txt")), std::ios::app) << "more";

  ASSERT_EQ(init({L"init", L"en"}, base, write, log), 0);
  EXPECT_TRUE(log.lines().empty() && ui.boxes.empty());
  EXPECT_EQ(test::fileText(inBase("Config/lang.cfg")), "en");
  Database state, db;
  loadInstallState(kInvalidStructure, state, inBase("autoupdate.cfg"));
  EXPECT_EQ(state.arch + "|" + state.lang + "|" + std::to_string(state.modules.size()), "x86_64|en|1");
  loadMetadata(kInvalidStructure, db, inBase("autoupdate.db"));
  db.lang = "en";
  loadFileLists(db, inBase("autoupdate.db"));
  ASSERT_TRUE(readFileCache(joinPath(write, L"autoupdate.cache"), db));
  EXPECT_EQ(db.files.size(), test::onWindows ? 7u : 8u);  // no window module there
  for (const auto& [path, r] : db.files) {
    sys::FileInfo info;
    ASSERT_TRUE(sys::fileInfo(inBase(path), &info));
    if (path == "data/items.txt")  // hashed by the first update
      EXPECT_EQ(r.local_hash + std::to_string(r.local_size + r.local_time), "0");
    else
      EXPECT_TRUE(r.local_hash == r.hash && r.local_size == info.size && r.local_time == info.writeTime) << path;
  }
}

}  // namespace
}  // namespace nx
