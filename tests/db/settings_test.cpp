#include "db/settings.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "db/db_fixture.h"
#include "support/memory_log.h"

namespace nx {
namespace {

class SettingsTest : public ::testing::Test {
 protected:
  SettingsTest() { std::filesystem::create_directory(std::filesystem::path(dir.file(L"Config"))); }
  std::wstring path() const { return UpdaterSettings::pathIn(dir.path()); }
  // Loads the file holding json into fresh settings and returns the log.
  std::vector<std::string> load(const std::string& json, UpdaterSettings& s) {
    test::writeFile(path(), json);
    log.clear();
    loadSettings(s);
    return log.lines();
  }

  test::TempFolder dir;
  test::MemoryLog log;
};

TEST_F(SettingsTest, RoundTripAndWrittenForm) {
  {
    UpdaterSettings s(path(), log);
    s.changed = true;  // saved on the way out
  }
  EXPECT_EQ(test::readFile(path()), "{\n \"update_period\": 1,\n \"last_update\": 0\n}\n");

  {
    UpdaterSettings s(path(), log);
    s.last_update = (1ull << 63) + 1;
    s.update_period = 0;
    s.update_to = "beta";
    s.debug_keep_updater = s.debug_dont_repair = true;
    saveSettings(s);
  }  // not changed: not saved again
  UpdaterSettings back(path(), log);
  loadSettings(back);
  EXPECT_TRUE(log.lines().empty());
  EXPECT_EQ(back.last_update, (1ull << 63) + 1);
  EXPECT_EQ(back.update_period, 0u);
  EXPECT_EQ(back.update_to, "beta");
  EXPECT_TRUE(back.debug_keep_updater && back.debug_dont_repair && !back.debug_no_hash_check);
  EXPECT_NE(test::readFile(path()).find("\"last_update\": -9223372036854775807,"), std::string::npos);
}

TEST_F(SettingsTest, LoadFailuresKeepWhatIsInMemory) {
  UpdaterSettings s(path(), log);
  auto lines = load(R"({"update_period": "5", "last_update": 3})", s);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].ends_with("ERROR  : Can't load autoupdate settings: invalid database structure\n")) << lines[0];
  EXPECT_EQ(s.update_period, 1u);
  EXPECT_EQ(s.last_update, 0u);

  s.update_to = "old";
  EXPECT_EQ(load(R"({"update_period": 2.5, "last_update": 3})", s).size(), 1u);
  EXPECT_EQ(load(R"({"update_period": 4, "update_to": "x"})", s).size(), 1u);
  EXPECT_EQ(s.update_period, 4u);  // read before the failure
  EXPECT_EQ(s.update_to, "old");

  s.debug_no_hash_check = true;
  EXPECT_TRUE(load(R"({"update_period": 0, "last_update": 0, "update_to": 5,
                       "debug_keep_updater": 1, "debug_no_hash_check": false})", s).empty());
  EXPECT_TRUE(s.update_to.empty() && !s.debug_keep_updater && !s.debug_no_hash_check);

  std::filesystem::remove(std::filesystem::path(path()));
  log.clear();
  loadSettings(s);
  EXPECT_TRUE(log.contains("ERROR  : Can't load autoupdate settings: open(" + test::quoted(path())));
}

TEST_F(SettingsTest, SaveFailureIsLogged) {
  UpdaterSettings nowhere(dir.file(L"missing/autoupdate.settings"), log);
  saveSettings(nowhere);
  EXPECT_TRUE(log.contains("ERROR  : Can't save autoupdate settings: create(" + test::quoted(nowhere.path)));
}

}  // namespace
}  // namespace nx
