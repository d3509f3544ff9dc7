// The database layer on real files and real zip archives: the readers, the
// JSON layer under them, the install state, module choice and settings, and
// hostile input for all of them (deep nesting, NUL bytes, sizes that archives
// only claim, gzip bombs, the loaders as a real process under a memory limit).
#include "db/database.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <map>
#include <stdexcept>

#include "base/text.h"
#include "db/install_state.h"
#include "db/json.h"
#include "db/module_set.h"
#include "db/settings.h"
#include "db/source_tag.h"
#include "io/handmade_zip.h"
#include "io/io_error.h"
#include "io/io_test_util.h"
#include "io/zip_archive.h"
#include "support/memory_log.h"
#include "support/platform.h"
#include "support/program_run.h"
#include "support/temp_folder.h"

namespace nx {
namespace {

namespace fs = std::filesystem;
using Members = std::vector<std::pair<std::string, std::string>>;
using Changes = std::initializer_list<std::string>;

void writeZip(const std::wstring& path, const Members& members) {
  ZipFile zip(path);
  for (const auto& [name, content] : members) ZipWriter(zip, name.c_str()).write(content.data(), content.size());
}

using test::errorOf;

bool startsWith(const std::string& text, const std::string& head) { return text.starts_with(head); }

// File lists name objects by short tags: "#5" stands for the id of 64 fives.
std::string id(char digit) { return std::string(64, digit); }
std::string withIds(std::string json) {
  for (size_t at; (at = json.find('#')) != std::string::npos;) json.replace(at, 2, id(json[at + 1]));
  return json;
}

std::string inQuotes(const std::wstring& path) { return "\"" + toUtf8(path) + "\""; }

// A valid metadata.json; each "key=json" change replaces that key's value,
// and "key=" drops the key.
std::string metadataJson(Changes changes = {}) {
  std::map<std::string, std::string> keys;
  for (Changes pairs :
       {Changes{R"(format=3)", R"(timestamp="t")", R"(version="1.2.3")", R"(tag="stable")", R"(main="main")",
                R"(update_url=["http://a/", "http://b/"])", R"(setup=[["vc", true], ["dx", false]])",
                R"(launch="run.exe")", R"(apply=["applier.exe"])", R"(modules=["main", "a", "b", "c"])", R"(lang="en")",
                R"(arch="x86_64")"},
        changes})
    for (const std::string& pair : pairs) keys[pair.substr(0, pair.find('='))] = pair.substr(pair.find('=') + 1);
  std::string text;
  for (const auto& [key, json] : keys)
    if (!json.empty()) text += (text.empty() ? "{" : ", ") + ("\"" + key + "\": " + json);
  return text + "}";
}

// "arch|lang|sorted selected modules"
std::string state(const Database& db) {
  std::string text = db.arch + "|" + db.lang + "|";
  for (const auto& [name, on] : std::map<std::string, bool>(db.modules.begin(), db.modules.end()))
    if (on) text += name + " ";
  return text;
}

// A temporary install folder holding Config/ and autoupdate.db.
class DbTest : public ::testing::Test {
 protected:
  DbTest() { fs::create_directory(fs::path(dir.file(L"Config"))); }
  std::wstring dbPath() const { return dir.file(L"autoupdate.db"); }
  std::string expected(const std::string& word, const std::string& detail) const {
    return word + "(" + inQuotes(dbPath()) + "): " + detail;
  }
  std::string loadMetadataError() {
    return errorOf([&] { loadMetadata(kInvalidStructure, db, dbPath()); });
  }
  // Loads a fresh db from metadata.json with these changes; returns the error, if any.
  std::string loadWith(Changes changes) {
    db = Database();
    writeZip(dbPath(), {{"metadata.json", metadataJson(changes)}});
    return loadMetadataError();
  }
  // Loads the file lists of the selected modules from these members.
  std::string listsFrom(Members members) {
    for (auto& member : members) member.second = withIds(member.second);
    writeZip(dbPath(), members);
    db.files.clear();
    return errorOf([&] { loadFileLists(db, dbPath()); });
  }

  test::TempFolder dir;
  test::MemoryLog log;
  Database db;
};

TEST_F(DbTest, MetadataFieldsDefaultsAndStructureErrors) {
  ASSERT_EQ(loadWith({R"(modules=["a", "a"])", R"(exclusive_modules=["a", ["b", "c"]])"}), "");
  EXPECT_EQ(db.update_url, (std::vector<std::string>{"http://a/", "http://b/"}));
  EXPECT_TRUE(db.setup.size() == 2 && db.setup[0].name == "vc" && db.setup[0].flag && !db.setup[1].flag);
  // "main" is entered selected though "modules" does not list it.
  EXPECT_EQ(db.modules, (std::unordered_map<std::string, bool>{{"a", false}, {"main", true}}));
  EXPECT_EQ(db.exclusive_modules, (std::vector<std::vector<std::string>>{{"a"}, {"b", "c"}}));

  ASSERT_EQ(loadWith({R"(format="7")", "lang=", "arch=5", R"(update_url="")", "setup=[]", "exclusive_modules=5"}), "");
  EXPECT_EQ(db.format, 7u);
  EXPECT_TRUE(db.lang.empty() && db.arch.empty() && db.setup.empty() && db.exclusive_modules.empty());
  EXPECT_EQ(db.update_url, std::vector<std::string>{""});

  for (const char* change :
       {"timestamp=", "timestamp=5", "version=", "update_url=[]", "update_url=[1]", "update_url=", "tag=[]",
        "setup=", R"(setup=[["x", 1]])", R"(setup=[["x"]])", R"(setup=[["x", true, 1]])",
        "launch=", "main=", R"(apply=["a", 2])", R"(modules="a")", "modules=[1]", "exclusive_modules=[5]"})
    EXPECT_EQ(loadWith({change}), expected("parse_db_core", "invalid database structure")) << change;
  EXPECT_PRED2(startsWith, loadWith({"version=tru"}), expected("parse_db_core", "JSON error: "));
  writeZip(dbPath(), {{"other.json", "{}"}});
  EXPECT_EQ(loadMetadataError(), expected("parse_db_core", "open(\"metadata.json\"): File not found"));
  fs::remove(fs::path(dbPath()));
  EXPECT_PRED2(startsWith, loadMetadataError(), expected("parse_db_core", "open(" + inQuotes(dbPath())));
}

TEST_F(DbTest, FileListGrammar) {
  db.modules = {{"m", true}};
  auto list = [&](const std::string& json) { return listsFrom({{"modules/m/filelist.json", json}}); };
  for (const char* json :
       {"[]", R"([["", "#0", 1]])", R"([["p", "", 1]])", R"([["p", "#0", -1]])", R"({"p": 1})", R"([["p", "#0"]])",
        R"([["p", "#0", 1, 2]])", R"([["p", "#0", "1"]])", R"([["p", "#0", 1e300]])", R"(["p", "#0", 1])",
        // a fourth element is not the next entry
        R"([["lost", "#0", 1, ["kept", "#0", 2]]])", R"([["p", "#0", 1], 5])"})
    EXPECT_EQ(list(json), expected("parse_db_files", "invalid format")) << json;
  // Paths are appended to the base folder and hashes name object files: one
  // that could leave its folder breaks the database's structure.
  for (const char* json :
       {R"([["../../../.bashrc", "#0", 1]])", R"([["/etc/passwd", "#0", 1]])", R"([["C:x", "#0", 1]])",
        R"([["C:", "#0", 1]])", R"([["a//b", "#0", 1]])", R"([["a\\..\\b", "#0", 1]])", R"([["./a", "#0", 1]])",
        R"([["a/", "#0", 1]])", R"([["a/..", "#0", 1]])", R"([["ok", "#0", 1], ["a/\u0001", "#0", 1]])",
        R"([["p", "h", 1]])", R"([["p", "#g", 1]])", R"([["p", "../../x", 1]])",
        R"([["p", "ABCDEF0000000000000000000000000000000000000000000000000000000000", 1]])"})
    EXPECT_EQ(list(json), expected("parse_db_files", "invalid database structure")) << json;

  // Streamed lists take no comments; syntax errors carry yajl's short text.
  EXPECT_PRED2(startsWith, list(R"([["p", "#0", 1] /* c */])"), expected("parse_db_files", "lexical error: "));
  EXPECT_EQ(list(R"([["p", "#0", 99999999999999999999]])"),
            expected("parse_db_files", "parse error: integer overflow\n"));

  ASSERT_EQ(list(R"([["p", "#0", 12.9], ["q", "#8", 9223372036854775807]])"), "");
  EXPECT_TRUE(db.files.at("p").size == 12 && db.files.at("p").module == "m" &&
              db.files.at("q").size == 9223372036854775807u);

  // Far larger than one read chunk, so tokens straddle chunk boundaries.
  std::string big = R"([["dir/f0", "#0", 0])";
  for (int i = 1; i < 20000; ++i)
    big += ",[\"dir/f" + std::to_string(i) + "\", \"" + std::string(64, 'a') + "\", " + std::to_string(i) + "]";
  ASSERT_EQ(list(big + "]"), "");
  EXPECT_TRUE(db.files.size() == 20000 && db.files.at("dir/f19999").size == 19999);
}

TEST_F(DbTest, FileListMergeOrder) {
  db.arch = "x64";
  db.lang = "de";
  db.modules = {{"m", true}, {"n", true}, {"empty", true}, {"off", false}};
  db.files["a"].local_hash = "stale";
  const std::string skipped = R"([["z", "#9", 0]])";
  ASSERT_EQ(listsFrom({{"modules/m/common.json", R"([["a", "#1", 1], ["b", "#2", 2], ["c", "#3", 3]])"},
                       {"modules/m/arch_x64.json", R"([["b", "#5", 20], ["a", "#4", 10]])"},
                       {"modules/m/lang_de.json", R"([["b", "#6", 200]])"},
                       {"modules/n/filelist.json", R"([["n1", "#7", 4]])"},
                       {"modules/m/arch_x86.json", skipped},
                       {"modules/m/filelist.json", skipped},
                       {"modules/off/filelist.json", skipped}}),
            "");
  std::string table;
  for (const char* path : {"a", "b", "c", "n1"})
    table += db.files.at(path).hash + ":" + std::to_string(db.files.at(path).size) + " ";
  EXPECT_EQ(table, id('4') + ":10 " + id('6') + ":200 " + id('3') + ":3 " + id('7') + ":4 ");
  EXPECT_TRUE(db.files.size() == 4 && db.files.at("a").local_hash.empty());  // entries replaced whole
}

TEST_F(DbTest, JsonTreesNumbersAndGeneratorErrors) {
  JsonTree tree = parseJsonText(R"(/* c */ {"a": "first", // more
      "a": "second", "n": 42, "s": "42abc", "e": "", "l": "x1", "neg": -1, "r": 12.9,
      "big": "99999999999999999999", "under": -9223372036854775809, "t": true})");
  EXPECT_STREQ(findKey(tree.get(), "a", yajl_t_string)->u.string, "first");
  auto value = [&](const char* key) { return findKey(tree.get(), key, yajl_t_any); };
  uint64_t out = 7;
  for (auto [key, want] : std::map<std::string, uint64_t>{{"n", 42}, {"s", 42}, {"neg", UINT64_MAX}})
    EXPECT_TRUE(getUnsigned(value(key.c_str()), out) && out == want) << key;
  for (const char* key : {"e", "l", "r", "big", "under", "t", "missing"})
    EXPECT_FALSE(getUnsigned(value(key), out)) << key;

  const std::string error = errorOf([] { parseJsonText("{\"a\": tru}"); });
  EXPECT_PRED2(startsWith, error, "JSON error: ");
  EXPECT_NE(error.find("tru}"), std::string::npos) << "verbose text quotes the input: " << error;
  EXPECT_PRED2(startsWith, errorOf([] { parseJsonText(""); }), "JSON error: ");
  EXPECT_THROW(generateJson([](yajl_gen g) { jsonMapClose(g); }), std::runtime_error);
}

std::string nested(size_t levels) { return std::string(levels, '[') + std::string(levels, ']'); }

TEST_F(DbTest, JsonNestingNulAndRunawayTokensRefusedBeforeATreeIsBuilt) {
  EXPECT_EQ(errorOf([] { parseJsonText(nested(1000000)); }),
            "JSON error: nested deeper than 1000 levels (at offset 1000)");
  EXPECT_EQ(errorOf([] { parseJsonText(nested(1000)); }), "");
  // Brackets inside strings and comments are no nesting.
  const std::string quiet = "{\"s\": \"\\\"" + std::string(2000, '[') + "\"} /* " + std::string(2000, '{') + " */ // " +
                            std::string(2000, '[') + "\n";
  EXPECT_EQ(errorOf([&] { parseJsonText(quiet); }), "");
  EXPECT_EQ(errorOf([] { parseJsonText(std::string("{\"a\":1}\0garbage", 15)); }), "JSON error: NUL byte at offset 7");

  // Streamed documents: nesting and a runaway token stop before yajl buffers them.
  auto list = [&](const std::string& json) {
    MemoryReader source(json.data(), json.size());
    return errorOf([&] { readFileList(db, "m", source); });
  };
  EXPECT_EQ(list(nested(1000000)), "parse error: nested deeper than 1000 levels");
  for (const std::string& head : {std::string("[[\""), "[[\"a\", \"" + id('a') + "\", "})
    EXPECT_EQ(list(head + std::string(3 << 20, '1')), "lexical error: a string or number longer than 1048576 bytes");

  // A handler's exception reaches the caller as it was, not as "invalid format".
  struct Throwing : JsonEventParser {
    Throwing() {
      start.startArray = []() -> bool { throw std::length_error("from a handler"); };
      current = &start;
    }
    JsonHandlerSet start;
  } throwing;
  MemoryReader source("[1]", 3);
  EXPECT_THROW(runEventParser(throwing, source), std::length_error);
}

// Small state files are read whole: what they may inflate to is bounded (a
// gzip bomb: the process test below). A tree member of the database: its real
// size is bounded too.
TEST_F(DbTest, OversizedDocumentsAreRefused) {
  UpdaterSettings s(dir.file(L"settings"), log);
  const std::string fits = R"({"update_period": 3, "last_update": 4})";
  dir.write(L"settings", fits + std::string(kMaxJsonDocument - fits.size(), ' '));
  loadSettings(s);
  EXPECT_TRUE(log.lines().empty() && s.update_period == 3);
  dir.write(L"settings", fits + std::string(kMaxJsonDocument - fits.size() + 1, ' '));
  loadSettings(s);
  EXPECT_TRUE(log.contains("ERROR  : Can't load autoupdate settings: JSON error: document larger than 1048576 bytes"));

  writeZip(dbPath(), {{"metadata.json", metadataJson() + std::string(kMaxJsonDocument, ' ')}});
  EXPECT_EQ(loadMetadataError(), expected("parse_db_core", "JSON error: document larger than 1048576 bytes"));
}

TEST_F(DbTest, InstallStateAppliedOverDatabaseAndSaved) {
  const std::wstring cfg = dir.file(L"autoupdate.cfg");
  auto loadState = [&] { return errorOf([&] { loadInstallState(kInvalidStructure, db, cfg); }); };
  dir.write(L"Config/lang.cfg", "FR\n");
  dir.write(L"autoupdate.cfg", "{} // nothing installed beyond main");
  loadWith({"lang=", "arch="});
  loadState();
  EXPECT_EQ(state(db), "x86_64|fr|main ");

  gzFile gz = gzopen(toUtf8(cfg).c_str(), "wb");  // compressed reads like plain
  gzputs(gz, R"({"arch": 64, "lang": "de", "modules": ["a", "unknown"]})");
  gzclose(gz);
  loadWith({R"(arch="arm64")"});
  loadState();
  EXPECT_EQ(state(db), "arm64|de|a main unknown ");

  const std::string head = "parse_config(" + inQuotes(cfg) + "): ";
  dir.write(L"autoupdate.cfg", R"({"modules": ["a", 1]})");
  EXPECT_EQ(loadState(), head + "invalid database structure");
  dir.write(L"autoupdate.cfg", "{");
  EXPECT_PRED2(startsWith, loadState(), head + "JSON error: ");

  // Missing: an open error for the state alone, tolerated by the core loader
  // (which then does not consult lang.cfg either).
  fs::remove(fs::path(cfg));
  EXPECT_THROW(loadInstallState(kInvalidStructure, db, cfg), OpenFileError);
  loadWith({"lang=", "arch="});
  db = Database();
  loadDatabaseCore(kInvalidStructure, db, dbPath(), cfg);
  EXPECT_EQ(state(db), "x86_64||main ");

  // A save that fails leaves the previous state file byte for byte (a full
  // disk: tests/app/state_files_test.cpp).
  saveInstallState(cfg, db);
  const std::string saved = "{\n \"arch\": \"x86_64\",\n \"lang\": \"\",\n \"modules\": [\n  \"main\"\n ]\n}\n";
  EXPECT_EQ(dir.read(L"autoupdate.cfg"), saved);
  addModule(db, "b");
  const std::wstring nowhere = dir.file(L"missing/autoupdate.cfg");  // the new file cannot be made
  EXPECT_PRED2(startsWith, errorOf([&] { saveInstallState(nowhere, db); }), "create(" + inQuotes(nowhere) + "): (");
  EXPECT_EQ(dir.read(L"autoupdate.cfg"), saved);
}

TEST_F(DbTest, ModuleChoice) {
  db.main = "main";
  db.modules = {{"main", true}, {"a", false}, {"b", true}, {"c", false}, {"d", true}, {"free", true}};
  db.exclusive_modules = {{"a", "b", "ghost"}, {"a", "c"}, {"d", "main"}};
  auto on = [&](const char* name) { return db.modules.at(name); };
  addModule(db, "a");
  removeModule(db, "free");
  EXPECT_THROW(removeModule(db, "main"), std::runtime_error);
  EXPECT_THROW(addModule(db, "ghost"), std::runtime_error);
  EXPECT_THROW(removeModule(db, "ghost"), std::runtime_error);
  EXPECT_TRUE(on("a") && on("b") && !on("free"));  // no exclusivity on request

  EXPECT_FALSE(selectModule(db, "ghost", log));
  EXPECT_TRUE(selectModule(db, "free", log) && on("free"));  // in no group: nothing else changes
  ASSERT_TRUE(selectModule(db, "a", log));                   // already selected: the others still go
  EXPECT_TRUE(on("a") && !on("b") && !on("c") && on("free"));
  EXPECT_EQ(modulesToInstall({"c", "a", "new", "b"}, db), (std::vector<std::string>{"c", "new", "b"}));
  auto lines = log.lines();  // c was off already: only b is reported
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].ends_with("Removed module b in favor of a\n")) << lines[0];
  selectModule(db, "d", log);
  EXPECT_FALSE(on("main"));  // a group may hold the main module
}

TEST_F(DbTest, LanguageAndTagFiles) {
  const std::wstring tag = dir.file(L"Config/autoupdate.tag");
  for (auto [content, expected] :
       Members{{"EN\n", "en"}, {"de-DE", "de"}, {"", ""}, {" en", ""}, {"zz", "zz"}, {std::string(70, 'x'), id('x')}}) {
    dir.write(L"Config/lang.cfg", content);
    readLanguageFile(db, dir.file(L"Config/lang.cfg"));
    EXPECT_EQ(db.lang, expected) << content;
  }
  readLanguageFile(db, dir.file(L"Config/none.cfg"));
  EXPECT_EQ(db.lang, "");

  EXPECT_EQ(readSourceTag(dir.path() + L"/"), "");
  dir.write(L"Config/retail.cfg", "retail 1");
  fs::create_directory(fs::path(tag));
  EXPECT_EQ(readSourceTag(dir.path()), "retail1");  // a folder is not the tag file
  fs::remove(fs::path(tag));
  dir.write(L"Config/autoupdate.tag", " dvd_2013-x!&\n" + std::string(60, 'z'));
  EXPECT_EQ(readSourceTag(dir.path() + L"/"), "dvd_2013-x" + std::string(50, 'z'));
}

TEST_F(DbTest, SettingsLoadedAndSaved) {
  const std::wstring path = UpdaterSettings::pathIn(dir.path());
  UpdaterSettings s(path, log);
  auto load = [&](const std::string& json) {
    dir.write(L"Config/autoupdate.settings", json);
    log.clear();
    loadSettings(s);
    return log.lines().size();
  };
  s.update_to = "old";
  for (const char* json : {R"({"update_period": "5", "last_update": 3})", R"({"update_period": 2.5, "last_update": 3})",
                           R"({"update_period": 4, "update_to": "x"})"})
    EXPECT_EQ(load(json), 1u) << json;  // a string counts as missing
  EXPECT_TRUE(log.contains("ERROR  : Can't load autoupdate settings: invalid database structure\n"));
  EXPECT_TRUE(s.update_period == 4 && s.last_update == 0 && s.update_to == "old");  // read up to the failure

  // An unsigned value above 2^63-1 is written as a negative number and read
  // back, 2^63 itself too (which the JSON library alone calls out of range).
  s.last_update = uint64_t{1} << 63;
  s.update_to = "beta";
  s.debug_keep_updater = s.debug_dont_repair = true;
  saveSettings(s);
  EXPECT_PRED2(test::contains, dir.read(L"Config/autoupdate.settings"), "\"last_update\": -9223372036854775808,");
  UpdaterSettings back(path, log);
  loadSettings(back);
  EXPECT_TRUE(back.last_update == uint64_t{1} << 63 && back.update_period == 4 && back.update_to == "beta");
  EXPECT_TRUE(back.debug_keep_updater && back.debug_dont_repair && !back.debug_no_hash_check);

  fs::remove(fs::path(path));
  log.clear();
  loadSettings(s);
  UpdaterSettings nowhere(dir.file(L"missing/autoupdate.settings"), log);
  saveSettings(nowhere);
  EXPECT_EQ(log.lines().size(), 2u);
  EXPECT_TRUE(log.contains("ERROR  : Can't load autoupdate settings: open(" + inQuotes(path)));
  EXPECT_TRUE(log.contains("ERROR  : Can't save autoupdate settings: create(" + inQuotes(nowhere.path)));
}

// The loaders in a real process whose address space is limited: a 400-byte
// database whose members claim 4 GiB each, and 4 MiB gzip bombs that inflate
// to 4 GiB, end with the loader's error, never with std::bad_alloc.
TEST_F(DbTest, HostileFilesEndWithTheLoadersErrorUnderAMemoryLimit) {
  NX_POSIX_ONLY("a shell's memory limit (ulimit -v)");
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves more address space than the limit allows";
#endif
  const std::string list = withIds(R"([["a", "#a", 1]])");
  std::vector<test::HandmadeMember> members = {test::deflatedMember("metadata.json", metadataJson()),
                                               test::deflatedMember("modules/main/common.json", list),
                                               test::deflatedMember("modules/main/lang_.json", list)};
  for (auto& m : members) m.declaredSize = 0xFFFFFFFEu;
  ASSERT_LE(test::handmadeZip(members).size(), 700u);
  dir.write(L"autoupdate.db", test::handmadeZip(members));
  const std::string bomb = test::gzipOf(test::zeroMember("", 4097));  // 4 GiB + 1 MiB of zeros
  dir.write(L"Config/autoupdate.settings", bomb);
  dir.write(L"autoupdate.cfg", bomb);
  const std::string tooLarge = "JSON error: document larger than 1048576 bytes\n";
  for (auto [kind, file, out] :
       {std::tuple<const char*, const wchar_t*, std::string>{
            "database", L"autoupdate.db",
            "metadata: " + expected("parse_db_core", "unzReadCurrentFile failed\n") +
                "file lists: " + expected("parse_db_files", "unzReadCurrentFile failed\n")},
        {"settings", L"Config/autoupdate.settings", "00000.000 ERROR  : Can't load autoupdate settings: " + tooLarge},
        {"cfg", L"autoupdate.cfg", "cfg: parse_config(" + inQuotes(dir.file(L"autoupdate.cfg")) + "): " + tooLarge}}) {
    SCOPED_TRACE(kind);
    test::ProgramResult r = test::runProgram("/bin/sh", {"-c", "ulimit -v 262144 && exec \"$0\" \"$1\" \"$2\" 2>&1",
                                                         NX_BUILD_DIR "/state_loader", kind, toUtf8(dir.file(file))});
    EXPECT_EQ(r.status, 1) << "killed or crashed: " << r.out;
    EXPECT_EQ(r.out, out);
  }
}

}  // namespace
}  // namespace nx
