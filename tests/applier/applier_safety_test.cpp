// What the applier refuses, and how: hostile databases, planted links,
// missing and corrupt objects, a held lock, bad arguments, a damaged
// journal. In every case the installation stays exactly as it was.
#include <chrono>

#include "applier/applier_test_util.h"
#include "applier/command_line.h"
#include "applier/applier_error.h"
#include "io/zip_archive.h"

namespace nx::test {
namespace {

class ApplierSafetyTest : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return toUtf8(dir.path()) + "/" + name; }
  void SetUp() override {
    fs::create_directories(write);
    fs::copy(rel.objects, staging, fs::copy_options::recursive);
    rel.image("1.0", base, {"maps"});
    before = snapshot(base);
  }
  Outcome apply(const std::string& id, std::vector<std::string> env = {}) {
    return runProgram({NX_BUILD_DIR "/applier", base, write, staging, id}, env);
  }
  // Stores bytes as an object of the staging folder; returns its id.
  std::string store(const std::string& bytes) {
    std::string id = sha256(bytes);
    writeAll(staging + "/" + id.substr(0, 2) + "/" + id, bytes);
    return id;
  }
  // A database of version 9.0 whose main module lists the given file list.
  std::string handMadeDatabase(const std::string& fileList) {
    std::string file = path("hand.db");
    {
      ZipFile zip(fromUtf8(file));
      for (auto [name, text] : {std::pair<const char*, std::string>{"metadata.json",
                                    R"({"format": 1, "timestamp": "t", "version": "9.0", "update_url": "", "tag": "s",
                                        "setup": [], "launch": [], "apply": ["bin/applier"], "modules": ["veltra"],
                                        "main": "veltra"})"},
                                {"modules/veltra/common.json", fileList}}) {
        ZipWriter member(zip, name);
        member.write(text.data(), text.size());
        member.close();
      }
      zip.close();
    }
    return store(readAll(file));
  }
  void expectUnchanged(const Outcome& run, int code, const std::string& text) {
    EXPECT_EQ(run.code, code) << run.err;
    EXPECT_NE(run.err.find(text), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << "one line: " << run.err;
    EXPECT_EQ(snapshot(base), before);
    EXPECT_FALSE(fs::exists(write + "/applier.journal"));
    EXPECT_NE(readAll(write + "/Logs/autoupdate.log").find("Applier failed (exit code " + std::to_string(code)),
              std::string::npos);
  }

  Releases& rel = Releases::get();
  TempFolder dir;
  std::string base = path("base"), write = path("write"), staging = path("staging");
  Snapshot before;
};

TEST_F(ApplierSafetyTest, HostileDatabasePathsAreRefused) {
  std::string content = "pwned";
  std::string id = store(content);
  for (std::string hostile : {"../evil.txt", "/tmp/evil.txt", "data/../../evil.txt", "C:/evil.txt", "data\\..\\..\\evil.txt"}) {
    std::string escaped;
    for (char c : hostile) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    std::string db = handMadeDatabase(R"([["veltra.sh", ")" + id + R"(", 5], [")" + escaped + R"(", ")" + id + R"(", 5]])");
    SCOPED_TRACE(hostile);
    // The database reader refuses such a path already; the applier's own
    // check stands behind it.
    expectUnchanged(apply(db), 12, "invalid database structure");
  }
  EXPECT_FALSE(fs::exists(path("evil.txt")));
  EXPECT_FALSE(fs::exists("/tmp/evil.txt"));
  // Names that are inside but not the database's to write.
  expectUnchanged(apply(handMadeDatabase(R"([["autoupdate.cfg", ")" + id + R"(", 5]])")), 12, "installation state");
  expectUnchanged(apply(handMadeDatabase(R"([["a/b", ")" + id + R"(", 5], ["a\\b", ")" + id + R"(", 5]])")), 12, "twice");
  expectUnchanged(apply(handMadeDatabase(R"([["a", ")" + id + R"(", 5], ["a/b", ")" + id + R"(", 5]])")), 12,
                  "both as a file and as a folder");
}

TEST_F(ApplierSafetyTest, PlantedLinksAreNeverWrittenOrDeletedThrough) {
  std::string outside = path("outside");
  fs::create_directories(outside);
  writeAll(outside + "/island.txt", "outside data");
  writeAll(outside + "/items.txt", "outside file");
  Snapshot outsideBefore = snapshot(outside);
  struct Plant {
    std::string at, target;
  };
  // A folder on the way to new files, a file that changes, a file that
  // goes, a state file that is read.
  for (const Plant& plant : {Plant{"maps", outside}, Plant{"data/items.txt", outside + "/items.txt"},
                             Plant{"data/notes.txt", outside + "/items.txt"},
                             Plant{"Config/lang.cfg", outside + "/items.txt"}}) {
    SCOPED_TRACE(plant.at);
    fs::remove_all(base + "/" + plant.at);
    fs::create_symlink(plant.target, base + "/" + plant.at);
    before = snapshot(base);
    expectUnchanged(apply(rel.v2Id), 14, "symbolic link");
    EXPECT_EQ(snapshot(outside), outsideBefore);
    fs::remove(base + "/" + plant.at);
    fs::remove_all(base);
    rel.image("1.0", base, {"maps"});
  }
}

TEST_F(ApplierSafetyTest, MissingOrCorruptObjectsChangeNothing) {
  std::string items = sha256(readAll(NX_SOURCE_DIR "/examples/product-v2/data/items.txt"));
  std::string object = staging + "/" + items.substr(0, 2) + "/" + items;
  std::string good = readAll(object);
  fs::remove(object);
  expectUnchanged(apply(rel.v2Id), 13, "missing");
  writeAll(object, good.substr(0, good.size() / 2));  // cut short
  expectUnchanged(apply(rel.v2Id), 13, "corrupt");
  writeAll(object, "not gzip but plain, and wrong");
  expectUnchanged(apply(rel.v2Id), 13, "corrupt");
  fs::remove(object);
  ASSERT_EQ(::mkfifo(object.c_str(), 0644), 0);  // would block a reader that opens it
  expectUnchanged(apply(rel.v2Id), 13, "missing");
  fs::remove(object);
  writeAll(object, good);

  std::string db = staging + "/" + rel.v2Id.substr(0, 2) + "/" + rel.v2Id;
  std::string dbBytes = readAll(db);
  writeAll(db, dbBytes + "x");
  expectUnchanged(apply(rel.v2Id), 13, "corrupt");
  fs::remove(db);
  expectUnchanged(apply(rel.v2Id), 13, "missing");
  expectUnchanged(apply(store("plain text, no zip")), 12, "new database cannot be read");
  writeAll(db, dbBytes);
  EXPECT_EQ(apply(rel.v2Id).code, 0);
}

TEST_F(ApplierSafetyTest, AHeldLockMakesItWaitThenFail) {
  auto holdLock = [&](const char* ms) {
    int out[2];
    EXPECT_EQ(::pipe(out), 0);
    pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(out[1], 1);
      ::execl(NX_BUILD_DIR "/applier_lock_holder", "applier_lock_holder", (write + "/autoupdate.lock").c_str(), ms,
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(out[1]);
    char line[8] = {};
    EXPECT_EQ(::read(out[0], line, 7), 7);  // "locked\n": the holder has it
    ::close(out[0]);
    return pid;
  };
  pid_t holder = holdLock("30000");
  auto start = std::chrono::steady_clock::now();
  expectUnchanged(apply(rel.v2Id, {"NX_APPLIER_TEST_LOCK_SECONDS=3"}), 11, "another updater holds the lock");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1900)) << "a second between attempts";
  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);

  holder = holdLock("1500");  // an updater on its way out
  Outcome run = apply(rel.v2Id, {"NX_APPLIER_TEST_LOCK_SECONDS=5"});
  EXPECT_EQ(run.code, 0) << run.err;
  ::waitpid(holder, nullptr, 0);
}

TEST_F(ApplierSafetyTest, BadArgumentsAndADamagedJournal) {
  const std::string app = NX_BUILD_DIR "/applier";
  for (const std::vector<std::string>& argv : std::vector<std::vector<std::string>>{
           {app, base, write, staging},
           {app, base, write, staging, "ABC"},
           {app, base, write, staging, std::string(64, 'A')},
           {app, base, write, staging, rel.v2Id, "maps"},
           {app, base, path("nowrite"), staging, rel.v2Id},
           {app, path("nobase"), write, staging, rel.v2Id}}) {
    Outcome run = runProgram(argv);
    EXPECT_EQ(run.code, 10) << run.err;
    EXPECT_EQ(run.err.rfind("applier: ", 0), 0u) << run.err;
  }
  // The parser alone: what the stages hand on is accepted as it is.
  applier::Request r = applier::parseArguments({L"b", L"w", L"s", fromUtf8(rel.v2Id), L"install", L"a", L"b"});
  EXPECT_EQ(r.modules, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(applier::parseArguments({L"b", L"w", L"t", L"uninstall"}).kind, applier::Request::Kind::uninstall);

  writeAll(write + "/applier.journal", "VELTRA applier journal 1\nbase " + base + "\nwrite zz 5 0 ../x\nend\ncommit\n");
  Outcome run = apply(rel.v2Id);
  EXPECT_EQ(run.code, 16) << run.err;
  EXPECT_NE(run.err.find("damaged"), std::string::npos) << run.err;
  EXPECT_EQ(snapshot(base), before);
}

}  // namespace
}  // namespace nx::test
