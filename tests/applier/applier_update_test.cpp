// The applier program run as a real process on installations made by the
// real publish program: updates, repairs, module installs, uninstalls, and
// runs killed or failing at every step.
#include <set>

#include "applier/applier_test_util.h"
#include "db/database.h"
#include "db/install_state.h"
#include "net/file_cache.h"
#include "sys/files.h"

namespace nx::test {
namespace {

class ApplierTest : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return toUtf8(dir.path()) + "/" + name; }
  void SetUp() override { fs::create_directories(write); }

  Outcome apply(const std::string& id, std::vector<std::string> extra = {}, std::vector<std::string> env = {}) {
    std::vector<std::string> argv = {NX_BUILD_DIR "/applier", base, write, staging, id};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return runProgram(argv, env);
  }
  Outcome uninstall(std::vector<std::string> modules, std::vector<std::string> env = {}) {
    std::vector<std::string> argv = {NX_BUILD_DIR "/applier", base, write, path("temp"), "uninstall"};
    argv.insert(argv.end(), modules.begin(), modules.end());
    return runProgram(argv, env);
  }
  // What `publish image` makes of the version: the exact installation.
  Snapshot expected(const std::string& version, const std::vector<std::string>& modules = {"maps"}) {
    std::string target = path("expected-" + std::to_string(++images));
    rel.image(version, target, modules);
    return snapshot(target);
  }
  bool journalLeft() const { return fs::exists(write + "/applier.journal"); }

  Releases& rel = Releases::get();
  TempFolder dir;
  std::string base = path("base"), write = path("write"), staging = rel.objects;
  int images = 0;
};

TEST_F(ApplierTest, UpdateReplacesAddsAndRemovesFilesAndWritesAValidCache) {
  rel.image("1.0", base, {"maps"});
  writeAll(write + "/Logs/autoupdate.log", "earlier line\n");
  Outcome run = apply(rel.v2Id);
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(snapshot(base), expected("2.0"));  // data/notes.txt gone, quests and desert added, applier still executable
  EXPECT_EQ(sha256(readAll(base + "/autoupdate.db")), rel.v2Id);
  EXPECT_FALSE(journalLeft());
  std::string log = readAll(write + "/Logs/autoupdate.log");
  EXPECT_EQ(log.rfind("earlier line\n", 0), 0u) << "the log is appended to";
  EXPECT_NE(log.find("Version 2.0 is installed"), std::string::npos);

  // The cache vouches for every file of the new version with its real size and time.
  Database db;
  loadMetadata(kInvalidStructure, db, fromUtf8(base + "/autoupdate.db"));
  loadInstallState(kInvalidStructure, db, fromUtf8(base + "/autoupdate.cfg"));
  loadFileLists(db, fromUtf8(base + "/autoupdate.db"));
  ASSERT_TRUE(readFileCache(fromUtf8(write + "/autoupdate.cache"), db));
  ASSERT_EQ(db.files.size(), 9u);
  for (const auto& [p, record] : db.files) {
    sys::FileInfo info;
    ASSERT_TRUE(sys::fileInfo(fromUtf8(base + "/" + p), &info)) << p;
    EXPECT_EQ(record.local_hash, record.hash) << p;
    EXPECT_EQ(record.local_size, info.size) << p;
    EXPECT_EQ(record.local_time, info.writeTime) << p;
  }

  // Outcome again: nothing to do, nothing rewritten.
  auto before = fs::last_write_time(base + "/data/items.txt");
  run = apply(rel.v2Id);
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(fs::last_write_time(base + "/data/items.txt"), before);
  EXPECT_NE(readAll(write + "/Logs/autoupdate.log").find("already holds version 2.0"), std::string::npos);
}

TEST_F(ApplierTest, InstallWordsAddModulesAndUnknownOnesAreOnlyLogged) {
  rel.image("1.0", base);
  Outcome run = apply(rel.v2Id, {"install", "maps", "nosuchmodule"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(snapshot(base), expected("2.0", {"maps"}));
  EXPECT_NE(readAll(write + "/Logs/autoupdate.log").find("Unknown module to install: nosuchmodule"), std::string::npos);
  // "install" with no module is what a stage hands on unchanged.
  EXPECT_EQ(apply(rel.v2Id, {"install"}).code, 0);
}

TEST_F(ApplierTest, RepairRewritesDamagedFilesAndTrustsOnlyAMatchingCache) {
  rel.image("2.0", base, {"maps"});
  ASSERT_EQ(apply(rel.v2Id).code, 0);  // writes the cache
  Snapshot good = snapshot(base);
  writeAll(base + "/data/items.txt", "tampered");                  // other size
  std::string levels = readAll(base + "/data/levels.txt");
  writeAll(base + "/data/levels.txt", std::string(levels.size(), 'x'));  // same size, new time
  fs::remove(base + "/maps/island.txt");
  fs::permissions(base + "/veltra.sh", fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                  fs::perm_options::remove);
  Outcome run = apply(rel.v2Id);
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(snapshot(base), good);

  // A cache that vouches for a file (same size and time) is believed: that
  // is what saves hashing 20,000 files.
  fs::path items = base + "/data/items.txt";
  auto time = fs::last_write_time(items);
  std::string content = readAll(items.string());
  writeAll(items.string(), std::string(content.size(), '?'));
  fs::last_write_time(items, time);
  ASSERT_EQ(apply(rel.v2Id).code, 0);
  EXPECT_EQ(readAll(items.string()), std::string(content.size(), '?'));
  fs::remove(write + "/autoupdate.cache");  // without it the file is hashed and mended
  ASSERT_EQ(apply(rel.v2Id).code, 0);
  EXPECT_EQ(readAll(items.string()), content);
}

TEST_F(ApplierTest, ContentOfInstalledFilesIsCopiedWhenTheStoreLacksItsObject) {
  // The updater never downloads content an installed file holds, so the
  // store of a v1 -> v2 update of the sample has the database and only the
  // objects of changed files. Here: only the database.
  rel.image("1.0", base, {"maps"});
  staging = path("store");
  fs::create_directories(staging + "/" + rel.v1Id.substr(0, 2));
  fs::copy_file(rel.object(rel.v1Id), staging + "/" + rel.v1Id.substr(0, 2) + "/" + rel.v1Id);
  fs::remove(base + "/data/items.txt");
  Outcome run = apply(rel.v1Id);  // a repair whose only missing content is nowhere
  EXPECT_EQ(run.code, 13) << run.err;
  EXPECT_NE(run.err.find("missing"), std::string::npos) << run.err;
  writeAll(base + "/data/items.txt", readAll(NX_SOURCE_DIR "/examples/product-v1/data/items.txt"));
  // bin/autoupdate holds the same content as bin/applier here: copied from
  // there, executable again.
  fs::remove(base + "/bin/autoupdate");
  run = apply(rel.v1Id);
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(snapshot(base), expected("1.0"));
}

TEST_F(ApplierTest, UninstallRemovesAModuleThenTheWholeProduct) {
  rel.image("2.0", base, {"maps"});
  ASSERT_EQ(apply(rel.v2Id).code, 0);
  Outcome run = uninstall({"maps"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(snapshot(base), expected("2.0", {}));  // the maps folder is gone too
  std::string report = readAll(write + "/Logs/uninstall.log");
  EXPECT_NE(report.find("removed maps/desert.txt\nremoved maps/island.txt\n"), std::string::npos) << report;

  EXPECT_EQ(uninstall({"nosuchmodule"}).code, 10);
  EXPECT_EQ(uninstall({"veltra"}).code, 10);  // the main module goes only with the whole product
  run = uninstall({});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(snapshot(base).empty()) << "every file, its folders and the state files are gone";
  EXPECT_FALSE(fs::exists(write + "/autoupdate.cache"));
  EXPECT_NE(readAll(write + "/Logs/uninstall.log").find("Uninstall complete: 10 files removed"), std::string::npos);
}

// Kills the update after each of its steps in turn (the journal, every
// staged file, every rename, every clean-up step). The next start settles
// the journal first, whatever it is asked to do: asked for a database that
// is not there, it settles and then fails, so what recovery alone left can
// be checked: the old version when the kill came before the replacements
// began, else the new one; never a mix. Run again, it ends with the update.
TEST_F(ApplierTest, AKilledUpdateIsSettledByTheNextRun) {
  Snapshot v1 = expected("1.0"), v2 = expected("2.0");
  int last = 0;
  for (int step = 1; step < 100; ++step) {
    fs::remove_all(base);
    fs::remove_all(write);
    fs::create_directories(write);
    rel.image("1.0", base, {"maps"});
    Outcome killed = apply(rel.v2Id, {}, {"NX_APPLIER_TEST_HOOK=crash:" + std::to_string(step)});
    if (killed.code == 0) break;  // past the last step
    ASSERT_EQ(killed.code, 86) << "step " << step << ": " << killed.err;
    last = step;
    std::string journal = readAll(write + "/applier.journal");
    bool replacing = journal.empty() || journal.find("\nend\ncommit\n") != std::string::npos;
    Outcome settled = apply(std::string(64, '0'));
    ASSERT_EQ(settled.code, 13) << "step " << step << ": " << settled.err;
    EXPECT_EQ(snapshot(base), replacing ? v2 : v1) << "settled after a kill at step " << step;
    EXPECT_FALSE(journalLeft());

    Outcome again = apply(rel.v2Id);
    ASSERT_EQ(again.code, 0) << "step " << step << ": " << again.err;
    EXPECT_EQ(snapshot(base), v2) << "after a kill at step " << step;
    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(write)) left.insert(entry.path().filename().string());
    EXPECT_EQ(left, (std::set<std::string>{"Logs", "autoupdate.cache", "autoupdate.lock"})) << "step " << step;
  }
  EXPECT_GT(last, 20) << "every stage of the change was interrupted once";
}

// A failure at any step of the change puts the old installation back (or,
// once the new one is complete, only leaves its clean-up for later).
// Here the update also installs a module, so folders are made and go again.
TEST_F(ApplierTest, AFailedStepRestoresThePreviousInstallation) {
  Snapshot v1 = expected("1.0", {}), v2 = expected("2.0");
  for (int step = 1; step < 100; ++step) {
    fs::remove_all(base);
    fs::remove_all(write);
    fs::create_directories(write);
    rel.image("1.0", base);
    Outcome run = apply(rel.v2Id, {"install", "maps"}, {"NX_APPLIER_TEST_HOOK=fail:" + std::to_string(step)});
    if (run.code == 15) {
      EXPECT_NE(run.err.find("test hook"), std::string::npos) << run.err;
      EXPECT_EQ(snapshot(base), v1) << "step " << step;
      EXPECT_FALSE(journalLeft()) << "step " << step;
      continue;
    }
    ASSERT_EQ(run.code, 0) << "step " << step << ": " << run.err;
    if (readAll(write + "/Logs/autoupdate.log").find("test hook") == std::string::npos) break;  // past the last step
    ASSERT_EQ(apply(rel.v2Id, {"install", "maps"}).code, 0);  // finishes a clean-up the failure cut short
    EXPECT_EQ(snapshot(base), v2) << "step " << step;
    EXPECT_FALSE(journalLeft());
  }
}

TEST_F(ApplierTest, AKilledUninstallAndAKilledRecoveryAreSettledToo) {
  for (int step : {2, 5, 9}) {
    fs::remove_all(base);
    fs::remove_all(write);
    fs::create_directories(write);
    rel.image("2.0", base, {"maps"});
    EXPECT_EQ(uninstall({"maps"}, {"NX_APPLIER_TEST_HOOK=crash:" + std::to_string(step)}).code, 86);
    ASSERT_EQ(uninstall({"maps"}).code, 0);
    EXPECT_EQ(snapshot(base), expected("2.0", {}));
  }
  // A failed uninstall removes nothing and says so in its report.
  base = path("base4");
  rel.image("2.0", base, {"maps"});
  Snapshot all = snapshot(base);
  Outcome failed = uninstall({"maps"}, {"NX_APPLIER_TEST_HOOK=fail:4"});
  EXPECT_EQ(failed.code, 15) << failed.err;
  EXPECT_EQ(snapshot(base), all);
  EXPECT_NE(readAll(write + "/Logs/uninstall.log").find("Uninstall failed: test hook"), std::string::npos);

  // Killed while replacing, with a new file damaged meanwhile: undone.
  base = path("base3");
  rel.image("1.0", base, {"maps"});
  ASSERT_EQ(apply(rel.v2Id, {}, {"NX_APPLIER_TEST_HOOK=crash:10"}).code, 86);
  ASSERT_NE(readAll(write + "/applier.journal").find("\ncommit\n"), std::string::npos);
  ASSERT_TRUE(fs::exists(base + "/veltra.sh.nxapply-new"));
  writeAll(base + "/veltra.sh.nxapply-new", "damaged");
  EXPECT_EQ(apply(std::string(64, '0')).code, 13);
  EXPECT_EQ(snapshot(base), expected("1.0"));
  EXPECT_NE(readAll(write + "/Logs/autoupdate.log").find("The interrupted change is undone"), std::string::npos);

  // An update killed while it replaces files, then its recovery killed too.
  base = path("base2");
  rel.image("1.0", base, {"maps"});
  ASSERT_EQ(apply(rel.v2Id, {}, {"NX_APPLIER_TEST_HOOK=crash:20"}).code, 86);
  ASSERT_TRUE(journalLeft());
  EXPECT_EQ(apply(rel.v2Id, {}, {"NX_APPLIER_TEST_HOOK=crash:2"}).code, 86);
  ASSERT_EQ(apply(rel.v2Id).code, 0);
  EXPECT_EQ(snapshot(base), expected("2.0"));
}

}  // namespace
}  // namespace nx::test
