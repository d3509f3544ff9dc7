// Hostile and damaged input for the database layer: deep nesting, NUL bytes,
// sizes that archives only claim, gzip bombs, and the loaders as a real
// process under a memory limit.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>

#include "app/text.h"
#include "db/database.h"
#include "db/install_state.h"
#include "db/json.h"
#include "db/settings.h"
#include "io/handmade_zip.h"
#include "io/zip_archive.h"
#include "support/memory_log.h"
#include "support/temp_folder.h"

namespace nx {
namespace {

std::string errorOf(const std::function<void()>& call) try {
  call();
  return "";
} catch (const std::exception& e) {
  return e.what();
}

std::string nested(size_t levels) { return std::string(levels, '[') + std::string(levels, ']'); }

const std::string kMetadata = R"({"timestamp": "t", "version": "1", "update_url": "u", "tag": "s", "setup": [],
  "launch": "run", "apply": "a", "modules": ["main"], "main": "main"})";
const std::string kList = R"([["a", ")" + std::string(64, 'a') + R"(", 1]])";

// 4 GiB + 1 MiB of zeros as 4 MiB of gzip.
std::string gzipBomb() { return test::gzipOf(test::zeroMember("", 4097)); }

TEST(JsonLimitsTest, NestingAndNulRefusedBeforeATreeIsBuilt) {
  EXPECT_EQ(errorOf([] { parseJsonText(nested(1000000)); }),
            "JSON error: nested deeper than 1000 levels (at offset 1000)");
  EXPECT_EQ(errorOf([] { parseJsonText(nested(1000)); }), "");
  // Brackets inside strings and comments are no nesting.
  const std::string quiet = "{\"s\": \"\\\"" + std::string(2000, '[') + "\"} /* " + std::string(2000, '{') +
                            " */ // " + std::string(2000, '[') + "\n";
  EXPECT_EQ(errorOf([&] { parseJsonText(quiet); }), "");
  EXPECT_EQ(errorOf([] { parseJsonText(std::string("{\"a\":1}\0garbage", 15)); }), "JSON error: NUL byte at offset 7");

  // Streamed documents: nesting and a runaway token stop before yajl buffers them.
  Database db;
  auto list = [&](const std::string& json) {
    MemoryReader source(json.data(), json.size());
    return errorOf([&] { readFileList(db, "m", source); });
  };
  EXPECT_EQ(list(nested(1000000)), "parse error: nested deeper than 1000 levels");
  EXPECT_EQ(list("[[\"" + std::string(3 << 20, 'x')), "lexical error: a string or number longer than 1048576 bytes");
  EXPECT_EQ(list("[[\"a\", \"" + std::string(64, 'a') + "\", " + std::string(3 << 20, '1')),
            "lexical error: a string or number longer than 1048576 bytes");
  EXPECT_EQ(list(kList), "");

  // A handler's exception reaches the caller as it was, not as "invalid format".
  struct Throwing : JsonEventParser {
    Throwing() {
      start.startArray = [] () -> bool { throw std::length_error("from a handler"); };
      current = &start;
    }
    JsonHandlerSet start;
  } throwing;
  MemoryReader source("[1]", 3);
  EXPECT_THROW(runEventParser(throwing, source), std::length_error);
}

TEST(JsonLimitsTest, LargestUnsignedReadsBack) {
  test::TempFolder dir;
  test::MemoryLog log;
  UpdaterSettings s(dir.file(L"settings"), log);
  s.last_update = uint64_t{1} << 63;
  saveSettings(s);
  EXPECT_NE(dir.read(L"settings").find("\"last_update\": -9223372036854775808"), std::string::npos);
  UpdaterSettings back(s.path, log);
  loadSettings(back);
  EXPECT_TRUE(log.lines().empty()) << log.lines()[0];
  EXPECT_EQ(back.last_update, uint64_t{1} << 63);
  uint64_t out = 0;
  EXPECT_FALSE(getUnsigned(findKey(parseJsonText("{\"v\": -9223372036854775809}").get(), "v", yajl_t_any), out));
}

// Small state files are read whole: what they may inflate to is bounded, and
// a bomb stops there without being inflated further.
TEST(StateFileLimitsTest, BombsAndOversizedDocuments) {
  test::TempFolder dir;
  test::MemoryLog log;
  const std::wstring path = dir.file(L"settings");
  UpdaterSettings s(path, log);
  const std::string fits = R"({"update_period": 3, "last_update": 4})";
  dir.write(L"settings", fits + std::string(kMaxJsonDocument - fits.size(), ' '));
  loadSettings(s);
  EXPECT_TRUE(log.lines().empty() && s.update_period == 3);
  const std::string tooLarge = "ERROR  : Can't load autoupdate settings: JSON error: document larger than 1048576 bytes";
  dir.write(L"settings", fits + std::string(kMaxJsonDocument - fits.size() + 1, ' '));
  loadSettings(s);
  EXPECT_TRUE(log.contains(tooLarge));
  log.clear();
  dir.write(L"settings", gzipBomb());
  loadSettings(s);
  EXPECT_TRUE(log.contains(tooLarge)) << log.lines().size();
  log.clear();
  dir.write(L"settings", std::string(1000000, '['));  // a million levels within the size limit
  loadSettings(s);
  EXPECT_TRUE(log.contains("Can't load autoupdate settings: JSON error: nested deeper than 1000 levels (at offset 1000)"));

  Database db;
  dir.write(L"autoupdate.cfg", gzipBomb());
  EXPECT_EQ(errorOf([&] { loadInstallState(kInvalidStructure, db, dir.file(L"autoupdate.cfg")); }),
            "parse_config(\"" + toUtf8(dir.file(L"autoupdate.cfg")) + "\"): JSON error: document larger than 1048576 bytes");

  // A tree member of the database: its real size is bounded, its claimed size is a hint.
  const std::wstring dbPath = dir.file(L"autoupdate.db");
  const std::string head = "parse_db_core(\"" + toUtf8(dbPath) + "\"): ";
  dir.write(L"autoupdate.db", test::handmadeZip({test::deflatedMember("metadata.json", kMetadata +
                                                                       std::string(kMaxJsonDocument, ' '))}));
  EXPECT_EQ(errorOf([&] { loadMetadata(kInvalidStructure, db, dbPath); }),
            head + "JSON error: document larger than 1048576 bytes");
  test::HandmadeMember liar = test::deflatedMember("metadata.json", kMetadata);
  liar.declaredSize = 0xFFFFFFFEu;
  dir.write(L"autoupdate.db", test::handmadeZip({liar}));
  EXPECT_EQ(errorOf([&] { loadMetadata(kInvalidStructure, db, dbPath); }), head + "unzReadCurrentFile failed");
}

// The loaders in a real process whose address space is limited: a 400-byte
// database whose members claim 4 GiB each, and 4 MiB gzip bombs that inflate
// to 4 GiB, end with the loader's error, never with std::bad_alloc.
TEST(MemoryLimitTest, HostileFilesEndWithTheLoadersError) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves more address space than the limit allows";
#endif
  test::TempFolder dir;
  std::vector<test::HandmadeMember> members = {test::deflatedMember("metadata.json", kMetadata),
                                               test::deflatedMember("modules/main/common.json", kList),
                                               test::deflatedMember("modules/main/lang_.json", kList)};
  for (auto& m : members) m.declaredSize = 0xFFFFFFFEu;
  const std::string hostile = test::handmadeZip(members);
  ASSERT_LE(hostile.size(), 600u);
  dir.write(L"hostile.db", hostile);
  dir.write(L"bomb.settings", gzipBomb());
  dir.write(L"bomb.cfg", gzipBomb());

  auto run = [&](const char* kind, const std::wstring& file, std::string* out) {
    std::string command = "ulimit -v 262144 && exec '" NX_BUILD_DIR "/state_loader' " + std::string(kind) + " '" +
                          toUtf8(file) + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out->append(buffer, n);
    return pclose(pipe);
  };
  const std::string db = "\"" + toUtf8(dir.file(L"hostile.db")) + "\"";
  std::string out;
  int status = run("database", dir.file(L"hostile.db"), &out);
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status) << ": " << out;
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(out, "metadata: parse_db_core(" + db + "): unzReadCurrentFile failed\nfile lists: parse_db_files(" + db +
                     "): unzReadCurrentFile failed\n");

  out.clear();
  status = run("settings", dir.file(L"bomb.settings"), &out);
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status) << ": " << out;
  EXPECT_EQ(out, "00000.000 ERROR  : Can't load autoupdate settings: JSON error: document larger than 1048576 bytes\n");
  out.clear();
  status = run("cfg", dir.file(L"bomb.cfg"), &out);
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status) << ": " << out;
  EXPECT_EQ(out, "cfg: parse_config(\"" + toUtf8(dir.file(L"bomb.cfg")) +
                     "\"): JSON error: document larger than 1048576 bytes\n");
}

}  // namespace
}  // namespace nx
