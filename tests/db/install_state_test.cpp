#include "db/install_state.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "db/db_fixture.h"
#include "db/module_set.h"
#include "db/source_tag.h"
#include "io/io_error.h"
#include "support/memory_log.h"

namespace nx {
namespace {

using test::errorOf;

class InstallStateTest : public ::testing::Test {
 protected:
  InstallStateTest() { std::filesystem::create_directory(std::filesystem::path(dir.file(L"Config"))); }
  std::wstring base() const { return dir.path() + L"/"; }
  std::wstring cfg() const { return dir.file(L"autoupdate.cfg"); }
  // A database with modules main, a, b and c, no lang or arch unless given.
  Database database(const std::vector<std::pair<std::string, std::string>>& changes = {{"lang", ""}, {"arch", ""}}) {
    test::writeZip(dir.file(L"autoupdate.db"), {{"metadata.json", test::metadataJson(changes)}});
    Database db;
    loadMetadata(kInvalidStructure, db, dir.file(L"autoupdate.db"));
    return db;
  }
  // "arch|lang|sorted selected modules"
  static std::string state(const Database& db) {
    auto names = selectedModules(db);
    std::sort(names.begin(), names.end());
    std::string text = db.arch + "|" + db.lang + "|";
    for (const auto& name : names) text += name + " ";
    return text;
  }

  test::TempFolder dir;
  test::MemoryLog log;
};

TEST_F(InstallStateTest, ConfigAppliedOverDatabase) {
  test::writeFile(dir.file(L"Config/lang.cfg"), "FR\n");
  test::writeFile(cfg(), "{} // nothing installed beyond main");
  Database db = database();
  loadInstallState(kInvalidStructure, db, cfg());
  EXPECT_EQ(state(db), "x86_64|fr|main ");

  test::writeFile(cfg(), test::gzip(R"({"arch": 64, "lang": "de", "modules": ["a", "unknown"]})"));
  db = database({{"arch", "\"arm64\""}});
  loadInstallState(kInvalidStructure, db, cfg());
  EXPECT_EQ(state(db), "arm64|de|a main unknown ");

  const std::string head = "parse_config(" + test::quoted(cfg()) + "): ";
  test::writeFile(cfg(), R"({"modules": ["a", 1]})");
  EXPECT_EQ(errorOf([&] { loadInstallState(kInvalidStructure, db, cfg()); }), head + "invalid database structure");
  test::writeFile(cfg(), "{");
  EXPECT_EQ(errorOf([&] { loadInstallState(kInvalidStructure, db, cfg()); }).rfind(head + "JSON error: ", 0), 0u);

  // Missing: an open error for the state alone, tolerated by the core loader
  // (which then does not consult lang.cfg either).
  std::filesystem::remove(std::filesystem::path(cfg()));
  EXPECT_THROW(loadInstallState(kInvalidStructure, db, cfg()), OpenFileError);
  database();
  db = Database();
  loadDatabaseCore(kInvalidStructure, db, dir.file(L"autoupdate.db"), cfg());
  EXPECT_EQ(state(db), "x86_64||main ");
}

TEST_F(InstallStateTest, LanguageAndTagFiles) {
  Database db;
  const std::wstring lang = dir.file(L"Config/lang.cfg");
  for (auto [content, expected] : std::vector<std::pair<std::string, std::string>>{
           {"EN\n", "en"}, {"de-DE", "de"}, {"", ""}, {" en", ""}, {std::string(70, 'x'), std::string(64, 'x')}}) {
    test::writeFile(lang, content);
    readLanguageFile(db, lang);
    EXPECT_EQ(db.lang, expected) << content;
  }
  readLanguageFile(db, dir.file(L"Config/none.cfg"));
  EXPECT_EQ(db.lang, "");

  EXPECT_EQ(readSourceTag(base()), "");
  test::writeFile(dir.file(L"Config/retail.cfg"), "retail 1");
  std::filesystem::create_directory(std::filesystem::path(dir.file(L"Config/autoupdate.tag")));
  EXPECT_EQ(readSourceTag(dir.path()), "retail1");  // a folder is not the tag file
  std::filesystem::remove(std::filesystem::path(dir.file(L"Config/autoupdate.tag")));
  test::writeFile(dir.file(L"Config/autoupdate.tag"), " dvd_2013-x!\n" + std::string(60, 'z'));
  EXPECT_EQ(readSourceTag(base()), "dvd_2013-x" + std::string(51, 'z'));
}

TEST_F(InstallStateTest, SaveKeepsOldFileOnFailure) {
  Database db = database();
  db.arch = "x86_64";
  saveInstallState(cfg(), db);
  const std::string saved = "{\n \"arch\": \"x86_64\",\n \"lang\": \"\",\n \"modules\": [\n  \"main\"\n ]\n}\n";
  EXPECT_EQ(test::readFile(cfg()), saved);

  addModule(db, "b");
  std::filesystem::create_directory(std::filesystem::path(cfg() + L".tmp"));  // the new file cannot be made
  EXPECT_EQ(errorOf([&] { saveInstallState(cfg(), db); }).rfind("create(" + test::quoted(cfg()) + "): (", 0), 0u);
  EXPECT_EQ(test::readFile(cfg()), saved);
}

TEST_F(InstallStateTest, CarriedIntoNewDatabase) {
  Database current = database();
  current.arch = "arm64";
  current.modules["a"] = current.modules["gone"] = true;  // the new database does not know "gone"
  test::writeFile(dir.file(L"Config/lang.cfg"), "de");
  const std::wstring newDb = dir.file(L"new.db");
  test::writeZip(newDb, {{"metadata.json", test::metadataJson({{"exclusive_modules", "[[\"a\", \"c\"]]"}})},
                         {"modules/main/common.json", "[[\"m\", \"h\", 1]]"},
                         {"modules/main/arch_arm64.json", "[[\"m\", \"arm\", 2]]"},
                         {"modules/main/lang_de.json", "[[\"d\", \"h\", 3]]"},
                         {"modules/c/filelist.json", "[[\"cfile\", \"h\", 4]]"}});
  Database next;
  carryInstallState(next, newDb, current, dir.path(), {"c", "nope"}, log);
  EXPECT_EQ(state(next), "arm64|de|c main ");
  EXPECT_TRUE(log.contains("Removed module a in favor of c"));
  EXPECT_TRUE(next.files.size() == 3 && next.files.at("m").hash == "arm");

  log.clear();
  logInstallation(next, log);
  auto lines = log.lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_TRUE(lines[0].ends_with("INFO   : Current version: 1.2.3\n")) << lines[0];
  EXPECT_TRUE(lines[3].ends_with("modules: c,main\n") || lines[3].ends_with("modules: main,c\n")) << lines[3];
}

}  // namespace
}  // namespace nx
