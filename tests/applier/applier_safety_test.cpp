// What the applier refuses, and how: hostile databases, planted links,
// missing and corrupt objects, a held lock, bad arguments, a damaged
// journal. In every case the installation stays exactly as it was.
#include <sys/stat.h>

#include <chrono>
#include <optional>

#include "applier/applier_test_util.h"
#include "io/handmade_zip.h"
#include "support/lock_holder.h"

namespace nx::test {
namespace {

class ApplierSafetyTest : public ApplierTest {
 protected:
  void SetUp() override {
    staging = path("staging");
    fs::copy(rel.objects, staging, fs::copy_options::recursive);
    fresh("1.0");
    before = snapshot(base);
  }
  // Stores bytes as an object of the staging folder; returns its id.
  std::string store(const std::string& bytes) {
    std::string id = sha256(bytes);
    writeAll(object(id), bytes);
    return id;
  }
  // A database of version 9.0 whose main module has this file list.
  std::string database(const std::string& fileList) {
    return store(handmadeZip({deflatedMember("metadata.json", R"({"format": 1, "timestamp": "t", "version": "9.0",
        "update_url": "", "tag": "s", "setup": [], "launch": [], "apply": ["bin/applier"], "modules": ["veltra"],
        "main": "veltra"})"),
                              deflatedMember("modules/veltra/common.json", fileList)}));
  }
  void expectUnchanged(const ProgramResult& run, int code, const std::string& text) {
    EXPECT_EQ(run.status, code) << run.err;
    EXPECT_PRED2(contains, run.err, text);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << "one line: " << run.err;
    EXPECT_EQ(snapshot(base), before);
    EXPECT_FALSE(fs::exists(base + "/applier.journal"));
    EXPECT_PRED2(contains, readAll(write + "/Logs/autoupdate.log"),
                 "Applier failed (exit code " + std::to_string(code));
  }

  Snapshot before;
};

TEST_F(ApplierSafetyTest, HostileDatabasePathsAreRefused) {
  const std::string id = store("pwned"), entry = R"(", ")" + id + R"(", 5])";
  // JSON texts of paths that leave the folder: refused, naming the path.
  for (std::string hostile :
       {"../evil.txt", "/tmp/evil.txt", "data/../../evil.txt", "C:/evil.txt", R"(data\\..\\..\\evil.txt)"}) {
    SCOPED_TRACE(hostile);
    expectUnchanged(apply(database(R"([["veltra.sh)" + entry + R"(, [")" + hostile + entry + "]")), 14,
                    "\"" + std::string(hostile.find('\\') == std::string::npos ? hostile : "data\\..\\..\\evil.txt") +
                        "\", which would leave the base folder");
  }
  EXPECT_FALSE(fs::exists(path("evil.txt")) || fs::exists("/tmp/evil.txt"));
  // Names that are inside but not the database's to write.
  for (std::string state : {"autoupdate.cfg", "Config/lang.cfg", "applier.journal"})
    expectUnchanged(apply(database(R"([[")" + state + entry + "]")), 12, "installation state");
  expectUnchanged(apply(database(R"([["a/b)" + entry + R"(, ["a\\b)" + entry + "]")), 12, "twice");
  expectUnchanged(apply(database(R"([["a)" + entry + R"(, ["a/b)" + entry + "]")), 12,
                  "both as a file and as a folder");
}

TEST_F(ApplierSafetyTest, PlantedLinksAreNeverWrittenOrDeletedThrough) {
  const std::string outside = path("outside");
  writeAll(outside + "/island.txt", "outside data");
  writeAll(outside + "/items.txt", "outside file");
  const Snapshot outsideBefore = snapshot(outside);
  // A folder on the way to new files, a file that changes, a file that
  // goes, a state file that is read.
  for (const auto& [at, target] :
       std::vector<std::pair<std::string, std::string>>{{"maps", outside},
                                                        {"data/items.txt", outside + "/items.txt"},
                                                        {"data/notes.txt", outside + "/items.txt"},
                                                        {"Config/lang.cfg", outside + "/items.txt"}}) {
    SCOPED_TRACE(at);
    fs::remove_all(base + "/" + at);
    fs::create_symlink(target, base + "/" + at);
    before = snapshot(base);
    expectUnchanged(apply(rel.v2Id), 14, "symbolic link");
    EXPECT_EQ(snapshot(outside), outsideBefore);
    fs::remove_all(base);
    rel.image("1.0", base, {"maps"});
  }
}

// Content is trusted only by its digest: a damaged object, even one that
// unpacks to the listed length, changes nothing.
TEST_F(ApplierSafetyTest, MissingOrCorruptObjectsChangeNothing) {
  const std::string items = readAll(NX_SOURCE_DIR "/examples/product-v2/data/items.txt");
  const std::string itemsObject = object(sha256(items)), good = readAll(itemsObject);
  const std::string db = object(rel.v2Id), dbBytes = readAll(db);
  const std::string damaged = "\"data/items.txt\"";
  const struct {
    std::string file, bytes;  // "": no such file; "|": a pipe, which would block a reader that opens it
    std::string text;
  } cases[] = {
      {itemsObject, "", damaged},
      {itemsObject, "|", damaged},
      {itemsObject, good.substr(0, good.size() / 2), damaged},
      {itemsObject, "not gzip but plain, and wrong", damaged},
      {itemsObject, gzipOf(deflatedMember("", std::string(items.size(), 'x'))), damaged},
      {db, dbBytes + "x", "is corrupt"},
      {db, gzipOf(deflatedMember("", "not a database")), "is corrupt"},  // refused before it is parsed
      {db, "", "is missing"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes.substr(0, 20));
    fs::remove(c.file);
    if (c.bytes == "|") {
      ASSERT_EQ(::mkfifo(c.file.c_str(), 0644), 0);
    } else if (!c.bytes.empty()) {
      writeAll(c.file, c.bytes);
    }
    expectUnchanged(apply(rel.v2Id), 13, c.text);
    fs::remove(c.file);
    writeAll(c.file, c.file == db ? dbBytes : good);
  }
  expectUnchanged(apply(store("plain text, no zip")), 12, "new database cannot be read");
  EXPECT_EQ(apply(rel.v2Id).status, 0);
}

TEST_F(ApplierSafetyTest, AHeldLockMakesItWaitThenFail) {
  std::optional<LockHolder> holder(std::in_place, write + "/autoupdate.lock");
  ASSERT_TRUE(holder->held());
  auto start = std::chrono::steady_clock::now();
  expectUnchanged(apply(rel.v2Id, {}, "", {{"NX_APPLIER_TEST_LOCK_SECONDS", "3"}}), 11,
                  "another updater holds the lock");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1900)) << "a second between attempts";

  holder.emplace(write + "/autoupdate.lock", "1.5");  // an updater on its way out
  ASSERT_TRUE(holder->held());
  ProgramResult run = apply(rel.v2Id, {}, "", {{"NX_APPLIER_TEST_LOCK_SECONDS", "5"}});
  EXPECT_EQ(run.status, 0) << run.err;
}

TEST_F(ApplierSafetyTest, BadArgumentsAndADamagedJournal) {
  for (const std::vector<std::string>& words :
       std::vector<std::vector<std::string>>{{base, write, staging},
                                             {base, write, staging, "ABC"},
                                             {base, write, staging, std::string(64, 'A')},
                                             {base, write, staging, rel.v2Id, "maps"},
                                             {base, path("nowrite"), staging, rel.v2Id},
                                             {path("nobase"), write, staging, rel.v2Id}}) {
    ProgramResult run = runProgram(NX_BUILD_DIR "/applier", words);
    EXPECT_EQ(run.status, 10) << run.err;
    EXPECT_EQ(run.err.rfind("applier: ", 0), 0u) << run.err;
  }

  writeAll(base + "/applier.journal", "VELTRA applier journal 1\nbase " + base + "\nwrite zz 5 0 ../x\nend\ncommit\n");
  before = snapshot(base);
  ProgramResult run = apply(rel.v2Id);
  EXPECT_EQ(run.status, 16) << run.err;
  EXPECT_PRED2(contains, run.err, "damaged");
  EXPECT_EQ(snapshot(base), before);
}

}  // namespace
}  // namespace nx::test
