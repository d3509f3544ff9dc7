// init and modconfig on real installations made with the publish program,
// with the scripted user interface in place of message boxes.
#include "app/maintenance.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "base/paths.h"
#include "db/database.h"
#include "db/install_state.h"
#include "db/json.h"
#include "net/file_cache.h"
#include "net/published_install.h"
#include "support/memory_log.h"
#include "support/scripted_ui.h"
#include "support/temp_folder.h"
#include "sys/files.h"

namespace nx {
namespace {

namespace fs = std::filesystem;
using Words = std::vector<std::wstring>;

class MaintenanceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    repo = new test::TempFolder;
    ASSERT_EQ(test::publishSample(1, repo->file(L"repo")), 0);
  }
  static void TearDownTestSuite() { delete repo; }

  void SetUp() override {
    ASSERT_EQ(test::installImage(repo->file(L"repo"), "1.0", base()), 0);
    fs::create_directory(fs::path(write()));
  }
  std::wstring base() const { return dir.file(L"install"); }
  std::wstring write() const { return dir.file(L"write"); }
  std::wstring inBase(const std::string& path) const { return joinPath(base(), path); }
  // "arch|lang|modules" of autoupdate.cfg, modules sorted.
  std::string cfgState() const {
    JsonTree cfg = parseJsonFile(inBase("autoupdate.cfg"));
    std::string state = std::string(findKey(cfg.get(), "arch", yajl_t_string)->u.string) + "|" +
                        findKey(cfg.get(), "lang", yajl_t_string)->u.string + "|";
    std::vector<std::string> modules;
    getStringList(findKey(cfg.get(), "modules", yajl_t_array), modules, "");
    for (const auto& name : std::set<std::string>(modules.begin(), modules.end())) state += name + " ";
    return state;
  }
  // The one error box a failing command showed, taken off the list; empty
  // when it showed none.
  std::string errorBox() {
    if (ui.boxes.empty()) return "";
    EXPECT_EQ(ui.boxes.size(), 1u);
    const auto box = ui.boxes.front();
    ui.boxes.clear();
    EXPECT_TRUE(box.caption == L"Error" && box.icon == ui::Icon::Error && box.buttons == ui::Buttons::Ok);
    return toUtf8(box.text);
  }

  static test::TempFolder* repo;
  test::TempFolder dir;
  test::MemoryLog log;
  test::ScriptedUi ui;
};

test::TempFolder* MaintenanceTest::repo = nullptr;

TEST_F(MaintenanceTest, InitRecordsTheStateAndSeedsTheCacheFromFilesOfTheListedSize) {
  fs::remove(fs::path(inBase("autoupdate.cfg")));
  fs::remove(fs::path(inBase("Config/lang.cfg")));
  std::ofstream(fs::path(inBase("data/items.txt")), std::ios::app) << "more";

  ASSERT_EQ(init({L"init", L"en"}, base(), write(), log), 0) << errorBox();
  EXPECT_EQ(test::fileText(inBase("Config/lang.cfg")), "en");
  EXPECT_EQ(cfgState(), "x86_64|en|veltra ");

  Database db;
  loadMetadata(kInvalidStructure, db, inBase("autoupdate.db"));
  db.lang = "en";
  loadFileLists(db, inBase("autoupdate.db"));
  ASSERT_TRUE(readFileCache(joinPath(write(), L"autoupdate.cache"), db));
  EXPECT_EQ(db.files.size(), 8u);
  for (const auto& [path, r] : db.files) {
    SCOPED_TRACE(path);
    sys::FileInfo info;
    ASSERT_TRUE(sys::fileInfo(inBase(path), &info));
    if (path == "data/items.txt") {
      EXPECT_EQ(r.local_hash + std::to_string(r.local_size + r.local_time), "0");  // is hashed by the first update
    } else {
      EXPECT_EQ(r.local_hash, r.hash);
      EXPECT_EQ(r.local_size, info.size);
      EXPECT_EQ(r.local_time, info.writeTime);
    }
  }

  ASSERT_EQ(init({L"init", L"de", L"arm64"}, base(), write(), log), 0) << errorBox();
  EXPECT_EQ(cfgState(), "arm64|de|veltra ");  // no lists for that arch: stored all the same
  EXPECT_EQ(test::fileText(inBase("Config/lang.cfg")), "de");
}

TEST_F(MaintenanceTest, InitFailuresAreShownAndEndWithCodeTwo) {
  const std::string cfg = test::fileText(inBase("autoupdate.cfg"));
  for (const Words& words : {Words{L"init"}, Words{L"init", L""}}) {
    EXPECT_EQ(init(words, base(), write(), log), 2);
    EXPECT_EQ(errorBox(), "Usage: init LANG [ARCH]");
  }
  EXPECT_EQ(test::fileText(inBase("autoupdate.cfg")), cfg);

  // The language is written before the database is read.
  fs::rename(fs::path(inBase("autoupdate.db")), fs::path(inBase("saved.db")));
  EXPECT_EQ(init({L"init", L"de"}, base(), write(), log), 2);
  EXPECT_EQ(errorBox().rfind("parse_db_core(\"" + toUtf8(inBase("autoupdate.db")) + "\"): open(", 0), 0u);
  EXPECT_EQ(test::fileText(inBase("Config/lang.cfg")), "de");
  fs::rename(fs::path(inBase("saved.db")), fs::path(inBase("autoupdate.db")));

  // No write folder: the state is saved, the cache is not.
  EXPECT_EQ(init({L"init", L"de"}, base(), dir.file(L"none"), log), 2);
  EXPECT_EQ(errorBox().rfind("create(\"" + toUtf8(dir.file(L"none/autoupdate.cache")) + "\"): (2) ", 0), 0u);
  EXPECT_EQ(cfgState(), "x86_64|de|veltra ");

  fs::remove_all(fs::path(inBase("Config")));
  EXPECT_EQ(init({L"init", L"en"}, base(), write(), log), 2);
  EXPECT_EQ(errorBox(), "create(\"" + toUtf8(inBase("Config/lang.cfg")) + "\"): (2) No such file or directory");
  EXPECT_TRUE(log.lines().empty());  // failures are shown, not logged
}

TEST_F(MaintenanceTest, ModconfigAppliesEveryNameOrNone) {
  const std::string cfg = test::fileText(inBase("autoupdate.cfg"));
  const struct {
    Words words;
    std::string box;
  } failures[] = {
      {{L"modconfig", L"reg"}, "Usage: modconfig (reg_fast|reg|unreg) (modname)+"},
      {{L"modconfig", L"reg", L"maps", L"bogus"}, "Can't add unknown mod \"bogus\""},
      {{L"modconfig", L"unreg", L"veltra"}, "Can't del main module \"veltra\""},
      {{L"modconfig", L"unreg", L"maps", L"nothere"}, "Can't del unknown mod \"nothere\""},
      {{L"modconfig", L"add", L"maps"}, "unknown operation add"},
      {{L"modconfig", L"REG", L"maps"}, "unknown operation REG"},
  };
  for (const auto& f : failures) {
    SCOPED_TRACE(f.box);
    EXPECT_EQ(modconfig(f.words, base(), write()), 2);
    EXPECT_EQ(errorBox(), f.box);
    EXPECT_EQ(test::fileText(inBase("autoupdate.cfg")), cfg);
  }

  EXPECT_EQ(modconfig({L"modconfig", L"unreg", L"maps"}, base(), write()), 0);
  EXPECT_EQ(test::fileText(inBase("autoupdate.cfg")), cfg);  // not selected: the same content
  EXPECT_EQ(modconfig({L"modconfig", L"reg", L"maps"}, base(), write()), 0);
  EXPECT_EQ(cfgState(), "x86_64|en|maps veltra ");
  EXPECT_EQ(modconfig({L"modconfig", L"unreg", L"maps"}, base(), write()), 0);
  EXPECT_EQ(cfgState(), "x86_64|en|veltra ");

  // Without autoupdate.cfg: the main module, the metadata's language, the default arch.
  fs::remove(fs::path(inBase("autoupdate.cfg")));
  fs::remove(fs::path(inBase("Config/lang.cfg")));
  EXPECT_EQ(modconfig({L"modconfig", L"reg_fast", L"maps"}, base(), write()), 0);
  EXPECT_EQ(cfgState(), "x86_64|en|maps veltra ");
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_FALSE(fs::exists(fs::path(joinPath(write(), L"autoupdate.cache"))));
}

}  // namespace
}  // namespace nx
