#include "db/database.h"

#include <gtest/gtest.h>

#include "db/db_fixture.h"
#include "db/install_state.h"

namespace nx {
namespace {

using test::errorOf;
using test::metadataJson;

class DatabaseTest : public ::testing::Test {
 protected:
  std::wstring dbPath() const { return dir.file(L"autoupdate.db"); }
  // Loads metadata.json with the given changes; returns the error, if any.
  std::string loadWith(const std::vector<std::pair<std::string, std::string>>& changes) {
    db = Database();
    test::writeZip(dbPath(), {{"metadata.json", metadataJson(changes)}});
    return errorOf([&] { loadMetadata(kInvalidStructure, db, dbPath()); });
  }
  // Loads the file lists of the selected modules from these members.
  std::string listsFrom(const test::Members& members) {
    test::writeZip(dbPath(), members);
    db.files.clear();
    return errorOf([&] { loadFileLists(db, dbPath()); });
  }
  std::string expected(const std::string& word, const std::string& detail) const {
    return word + "(" + test::quoted(dbPath()) + "): " + detail;
  }

  test::TempFolder dir;
  Database db;
};

TEST_F(DatabaseTest, MetadataFieldsAndDefaults) {
  ASSERT_EQ(loadWith({{"modules", "[\"a\", \"a\"]"}, {"exclusive_modules", "[\"a\", [\"b\", \"c\"]]"}}), "");
  EXPECT_EQ(db.update_url, (std::vector<std::string>{"http://a/", "http://b/"}));
  EXPECT_TRUE(db.setup.size() == 2 && db.setup[0].name == "vc" && db.setup[0].flag && !db.setup[1].flag);
  // "main" is entered selected though "modules" does not list it.
  EXPECT_EQ(db.modules, (std::unordered_map<std::string, bool>{{"a", false}, {"main", true}}));
  EXPECT_EQ(db.exclusive_modules, (std::vector<std::vector<std::string>>{{"a"}, {"b", "c"}}));

  ASSERT_EQ(loadWith({{"format", "\"7\""}, {"lang", ""}, {"arch", "5"}, {"update_url", "\"\""},
                      {"setup", "[]"}, {"exclusive_modules", "5"}}),
            "");
  EXPECT_EQ(db.format, 7u);
  EXPECT_TRUE(db.lang.empty() && db.arch.empty() && db.setup.empty() && db.exclusive_modules.empty());
  EXPECT_EQ(db.update_url, std::vector<std::string>{""});
  ASSERT_EQ(loadWith({{"format", "7.5"}}), "");
  EXPECT_EQ(db.format, 0u);
}

TEST_F(DatabaseTest, MetadataStructureErrors) {
  const std::vector<std::pair<std::string, std::string>> broken = {
      {"timestamp", ""},      {"timestamp", "5"},         {"version", ""},          {"update_url", "[]"},
      {"update_url", "[1]"},  {"update_url", ""},         {"tag", "[]"},            {"setup", ""},
      {"setup", "[[\"x\", 1]]"}, {"setup", "[[\"x\"]]"},  {"launch", ""},           {"apply", "[\"a\", 2]"},
      {"modules", "\"a\""},   {"modules", "[1]"},         {"main", ""},             {"exclusive_modules", "[5]"}};
  for (const auto& change : broken)
    EXPECT_EQ(loadWith({change}), expected("parse_db_core", "invalid database structure"))
        << change.first << " = " << change.second;

  test::writeZip(dbPath(), {{"metadata.json", "{\"a\": }"}});
  std::string error = errorOf([&] { loadMetadata(kInvalidStructure, db, dbPath()); });
  EXPECT_EQ(error.rfind(expected("parse_db_core", "JSON error: "), 0), 0u) << error;
  test::writeZip(dbPath(), {{"other.json", "{}"}});
  EXPECT_EQ(errorOf([&] { loadMetadata(kInvalidStructure, db, dbPath()); }),
            expected("parse_db_core", "open(\"metadata.json\"): File not found"));
  std::wstring missing = dir.file(L"none.db");
  error = errorOf([&] { loadMetadata(kInvalidStructure, db, missing); });
  EXPECT_EQ(error.rfind("parse_db_core(" + test::quoted(missing) + "): open(" + test::quoted(missing), 0), 0u)
      << error;
}

TEST_F(DatabaseTest, FileListGrammar) {
  db.modules = {{"m", true}};
  auto list = [&](const std::string& json) { return listsFrom({{"modules/m/filelist.json", json}}); };
  const std::string invalid = expected("parse_db_files", "invalid format");
  for (const char* json : {"[]", "[[\"\", \"h\", 1]]", "[[\"p\", \"\", 1]]", "[[\"p\", \"h\", -1]]",
                           "{\"p\": 1}", "[[\"p\", \"h\"]]", "[[\"p\", \"h\", 1, 2]]", "[[\"p\", \"h\", \"1\"]]",
                           "[[\"p\", \"h\", 1e300]]", "[\"p\", \"h\", 1]"})
    EXPECT_EQ(list(json), invalid) << json;

  // Streamed lists take no comments; syntax errors carry yajl's short text.
  std::string error = list("[[\"p\", \"h\", 1] /* c */]");
  EXPECT_EQ(error.rfind(expected("parse_db_files", "lexical error: "), 0), 0u) << error;
  error = list("[[\"p\", \"h\", 99999999999999999999]]");
  EXPECT_EQ(error, expected("parse_db_files", "parse error: integer overflow\n"));

  ASSERT_EQ(list("[[\"p\", \"h\", 12.9], [\"q\", \"g\", 9223372036854775807]]"), "");
  EXPECT_TRUE(db.files.at("p").size == 12 && db.files.at("p").module == "m");
  EXPECT_EQ(db.files.at("q").size, 9223372036854775807u);
}

TEST_F(DatabaseTest, FileListMergeOrder) {
  db.arch = "x64";
  db.lang = "de";
  db.modules = {{"m", true}, {"n", true}, {"empty", true}, {"off", false}};
  db.files["a"].local_hash = "stale";
  ASSERT_EQ(listsFrom({{"modules/m/common.json", R"([["a", "c1", 1], ["b", "c2", 2], ["c", "c3", 3]])"},
                       {"modules/m/arch_x64.json", R"([["b", "x2", 20], ["a", "x1", 10]])"},
                       {"modules/m/arch_x86.json", R"([["z", "no", 0]])"},
                       {"modules/m/lang_de.json", R"([["b", "l2", 200]])"},
                       {"modules/m/filelist.json", R"([["z", "no", 0]])"},
                       {"modules/n/filelist.json", R"([["n1", "f", 4]])"},
                       {"modules/off/filelist.json", R"([["z", "no", 0]])"}}),
            "");
  std::string table;
  for (const char* path : {"a", "b", "c", "n1"})
    table += db.files.at(path).hash + ":" + std::to_string(db.files.at(path).size) + " ";
  EXPECT_EQ(table, "x1:10 l2:200 c3:3 f:4 ");
  EXPECT_EQ(db.files.size(), 4u);
  EXPECT_TRUE(db.files.at("a").local_hash.empty());  // replaced whole
}

// Lists far larger than one read chunk, so tokens straddle chunk boundaries.
TEST_F(DatabaseTest, LargeListStreamsAcrossChunks) {
  db.modules = {{"m", true}};
  std::string json = "[";
  for (int i = 0; i < 20000; ++i) json += (i ? "," : "") + std::string("[\"dir/file") + std::to_string(i) +
                                          "\", \"" + std::string(64, 'a') + "\", " + std::to_string(i) + "]";
  ASSERT_EQ(listsFrom({{"modules/m/common.json", json + "]"}}), "");
  ASSERT_EQ(db.files.size(), 20000u);
  EXPECT_EQ(db.files.at("dir/file19999").size, 19999u);
}

}  // namespace
}  // namespace nx
