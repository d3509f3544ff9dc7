// The applier program run as a real process on installations made by the
// real publish program: updates, repairs, module installs, uninstalls, runs
// killed or failing at every step, recovery that checks digests, and every
// file on the disk before a rename makes it count.
#include <map>
#include <set>
#include <sstream>

#include "applier/applier_test_util.h"

namespace nx::test {
namespace {

TEST_F(ApplierTest, RepairRewritesDamagedFilesAndTrustsOnlyAMatchingCache) {
  fresh("2.0");
  ASSERT_EQ(apply(rel.v2Id).status, 0);                        // writes the cache
  EXPECT_PRED2(contains, log(), "already holds version 2.0");  // programs included: nothing rewritten
  Snapshot good = snapshot(base);
  const std::string items = base + "/data/items.txt", content = readAll(items);
  writeAll(items, "tampered");  // other size
  writeAll(base + "/data/levels.txt",
           std::string(readAll(base + "/data/levels.txt").size(), 'x'));  // same size, new time
  fs::remove(base + "/maps/island.txt");
  fs::permissions(base + "/veltra.sh", fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                  fs::perm_options::remove);
  ProgramResult run = apply(rel.v2Id);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(snapshot(base), good);

  // A cache that vouches for a file (same size and time) is believed: that
  // is what saves hashing 20,000 files. (mingw's std::filesystem sets a
  // file's time to the second only, so the time cannot be put back there.)
  auto time = fs::last_write_time(items);
  writeAll(items, std::string(content.size(), '?'));
  fs::last_write_time(items, time);
  ASSERT_EQ(apply(rel.v2Id).status, 0);
  if (!onWindows) {
    EXPECT_EQ(readAll(items), std::string(content.size(), '?'));
  }
  fs::remove(write + "/autoupdate.cache");  // without it the file is hashed and mended
  ASSERT_EQ(apply(rel.v2Id).status, 0);
  EXPECT_EQ(readAll(items), content);
}

TEST_F(ApplierTest, ContentOfInstalledFilesIsCopiedWhenTheStoreLacksItsObject) {
  // The updater never downloads content an installed file holds, so the
  // store of an update may hold the database and only the objects of changed
  // files. Here: only the database.
  rel.image("1.0", base, {"maps"});
  const std::string db = readAll(object(rel.v1Id));
  staging = path("store");
  writeAll(object(rel.v1Id), db);
  // bin/autoupdate holds the same content as bin/applier: copied from there, executable again.
  fs::remove(base + "/bin/autoupdate");
  ProgramResult run = apply(rel.v1Id);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(snapshot(base), expected("1.0"));
}

TEST_F(ApplierTest, UninstallRemovesAModule) {
  fresh("2.0");
  ASSERT_EQ(apply(rel.v2Id).status, 0);
  ProgramResult run = uninstall({"maps"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(snapshot(base), expected("2.0", {}));  // the maps folder is gone too
  EXPECT_PRED2(contains, log("uninstall.log"), "removed maps/desert.txt\nremoved maps/island.txt\n");

  EXPECT_EQ(uninstall({"nosuchmodule"}).status, 10);
  EXPECT_EQ(uninstall({"veltra"}).status, 10);  // the main module goes only with the whole product (end to end)
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
    SCOPED_TRACE("killed at step " + std::to_string(step));
    fresh("1.0");
    ProgramResult killed = apply(rel.v2Id, {}, "crash:" + std::to_string(step));
    if (killed.status == 0) break;  // past the last step
    ASSERT_EQ(killed.status, 86) << killed.err;
    last = step;
    std::string journal = readAll(base + "/applier.journal");
    bool replacing = journal.empty() || journal.find("\nend\ncommit\n") != std::string::npos;
    ProgramResult settled = apply(std::string(64, '0'));
    ASSERT_EQ(settled.status, 13) << settled.err;
    EXPECT_EQ(snapshot(base), replacing ? v2 : v1);
    EXPECT_FALSE(journalLeft());

    ProgramResult again = apply(rel.v2Id);
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(snapshot(base), v2);
    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(write)) left.insert(entry.path().filename().string());
    EXPECT_EQ(left, (std::set<std::string>{"Logs", "autoupdate.cache", "autoupdate.lock"}));
  }
  EXPECT_GT(last, 20) << "every stage of the change was interrupted once";
}

// A failure at any step of the change puts the old installation back (or,
// once the new one is complete, only leaves its clean-up, and its journal,
// for later).
// Here the update also installs a module, so folders are made and go again.
TEST_F(ApplierTest, AFailedStepRestoresThePreviousInstallation) {
  Snapshot v1 = expected("1.0", {}), v2 = expected("2.0");
  for (int step = 1; step < 100; ++step) {
    SCOPED_TRACE("failed at step " + std::to_string(step));
    fresh("1.0", {});
    ProgramResult run = apply(rel.v2Id, {"install", "maps"}, "fail:" + std::to_string(step));
    if (run.status == 15) {
      EXPECT_PRED2(contains, run.err, "test hook");
      EXPECT_EQ(snapshot(base), v1);
      EXPECT_FALSE(journalLeft());
      continue;
    }
    ASSERT_EQ(run.status, 0) << run.err;
    if (!contains(log(), "test hook")) break;  // past the last step
    // A clean-up cut short before the journal's own removal leaves the journal for the next run.
    EXPECT_TRUE(journalLeft() || !contains(log(), "Clean-up after the update") || contains(log(), "update: journal:"));
    ASSERT_EQ(apply(rel.v2Id, {"install", "maps"}).status, 0);  // finishes a clean-up the failure cut short
    EXPECT_EQ(snapshot(base), v2);
    EXPECT_FALSE(journalLeft());
  }
}

// Killed once it began replacing files, the change is finished by the next
// run, in a base folder whose name holds a "%"; with a new file damaged
// meanwhile (its size kept) it is undone instead, even when that undo is
// killed too.
TEST_F(ApplierTest, RecoveryFindsItsFolderAndChecksDigests) {
  for (bool damage : {false, true}) {
    SCOPED_TRACE(damage ? "damaged" : "intact");
    base = path(damage ? "base" : "base%41");
    fresh("1.0", {});
    ASSERT_EQ(apply(rel.v2Id, {}, "crash:10").status, 86);
    ASSERT_PRED2(contains, readAll(base + "/applier.journal"), "\ncommit\n");
    int staged = 0;
    for (const auto& entry : fs::recursive_directory_iterator(base))
      if (damage && entry.path().string().ends_with(".nxapply-new") && !staged++)
        writeAll(entry.path(), std::string(fs::file_size(entry.path()), '?'));
    // The undo killed part way is taken up again; what it restored stays.
    if (damage) {
      ASSERT_EQ(apply(std::string(64, '0'), {}, "crash:4").status, 86);
    }
    EXPECT_EQ(apply(std::string(64, '0')).status, 13);  // settles, then finds no such database
    EXPECT_EQ(snapshot(base), expected(damage ? "1.0" : "2.0", {}));
    EXPECT_FALSE(journalLeft());
  }
}

// The journal, each new file and the new file cache are flushed (or the
// whole file system synced) after they were made and before the rename that
// makes them count; the commit mark is flushed before the first replacement.
TEST_F(ApplierTest, EveryFileIsOnTheDiskBeforeItsRename) {
  fresh("1.0");
  const std::string tracer = NX_BUILD_DIR "/libsync_trace.so", trace = path("trace");
  if (!fs::exists(tracer)) GTEST_SKIP() << "no sync tracer on this system";
  ProgramResult run =
      apply(rel.v2Id, {}, "",
            {{"LD_PRELOAD", tracer}, {"NX_SYNC_TRACE", trace}, {"ASAN_OPTIONS", "verify_asan_link_order=0"}});
  ASSERT_EQ(run.status, 0) << run.err;
  std::map<std::string, bool> made;  // name -> flushed since it was made
  std::set<std::string> renamed;
  bool markFlushed = false;
  std::istringstream lines(readAll(trace));
  for (std::string what, from, to; lines >> what;) {
    if (what == "syncfs") {
      for (auto& entry : made) entry.second = true;
      continue;
    }
    lines >> from;
    if (what == "create") made[from] = false;
    if (what == "fsync" && made.count(from)) made[from] = true;
    if (what == "fsync" && from == "applier.journal") markFlushed = true;
    if (what != "rename" || !(lines >> to) || !made.count(from)) continue;
    EXPECT_TRUE(made[from]) << from << " became " << to << " before it was flushed";
    EXPECT_TRUE(markFlushed || !from.ends_with(".nxapply-new")) << to << " replaced before the commit mark was flushed";
    made.erase(from);
    renamed.insert(to);
  }
  for (const char* name : {"applier.journal", "items.txt", "applier.cache"}) EXPECT_TRUE(renamed.count(name)) << name;
}

}  // namespace
}  // namespace nx::test
