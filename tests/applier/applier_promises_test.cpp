// What the applier promises beyond a plain update, checked on what it leaves
// behind (exit code, files, journal): content trusted only by its digest,
// every file on the disk before a rename makes it count, and a journal that
// outlives any unfinished work.
#include <map>
#include <set>
#include <sstream>

#include "applier/applier_test_util.h"

namespace nx::test {
namespace {

class ApplierPromises : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return toUtf8(dir.path()) + "/" + name; }
  void SetUp() override { install("base"); }
  void install(const std::string& name) {
    base = path(name);
    fs::remove_all(base), fs::remove_all(write), fs::create_directories(write);
    rel.image("1.0", base);
  }
  ProgramResult apply(const std::string& id, const std::string& hook = "", Environment env = {}) {
    if (!hook.empty()) env.push_back({"NX_APPLIER_TEST_HOOK", hook});
    return runProgram(NX_BUILD_DIR "/applier", {base, write, staging, id}, env);
  }
  Snapshot image(const std::string& version) {
    const std::string target = path("image-" + version);
    if (!fs::exists(target)) rel.image(version, target);
    return snapshot(target);
  }
  std::string object(const std::string& id) const { return staging + "/" + id.substr(0, 2) + "/" + id; }
  bool journalLeft() const { return fs::exists(base + "/applier.journal"); }

  Releases& rel = Releases::get();
  TempFolder dir;
  std::string base, write = path("write"), staging = rel.objects;
};

TEST_F(ApplierPromises, ContentThatHashesWrongChangesNothing) {
  staging = path("store");
  fs::copy(rel.objects, staging, fs::copy_options::recursive);
  const Snapshot v1 = snapshot(base);

  const auto plant = [&](const std::string& id, const std::string& content) {
    writeAll(path("fake"), content);
    writeAll(object(id), runCommand("gzip -c " + quoted(path("fake"))));
  };
  // The new database is refused as a damaged object before it is ever parsed.
  const std::string db = readAll(object(rel.v2Id));
  plant(rel.v2Id, "not a database");
  ProgramResult run = apply(rel.v2Id);
  EXPECT_EQ(run.status, 13) << run.err;
  EXPECT_EQ(snapshot(base), v1);
  writeAll(object(rel.v2Id), db);

  // A new file's object that unpacks to other bytes of the listed length.
  const std::string items = readAll(NX_SOURCE_DIR "/examples/product-v2/data/items.txt");
  plant(sha256(items), std::string(items.size(), 'x'));
  run = apply(rel.v2Id);
  EXPECT_EQ(run.status, 13) << run.err;
  EXPECT_EQ(snapshot(base), v1);
}

// Killed once it began replacing files, the change is finished by the next
// run, in a base folder whose name holds a "%"; with a new file damaged
// meanwhile (its size kept) it is undone instead, even when that undo is
// killed too.
TEST_F(ApplierPromises, RecoveryFindsItsFolderAndChecksDigests) {
  for (bool damage : {false, true}) {
    SCOPED_TRACE(damage ? "damaged" : "intact");
    install(damage ? "base" : "base%41");
    ASSERT_EQ(apply(rel.v2Id, "crash:10").status, 86);
    ASSERT_PRED2(contains, readAll(base + "/applier.journal"), "\ncommit\n");
    int staged = 0;
    for (const auto& entry : fs::recursive_directory_iterator(base))
      if (damage && entry.path().string().ends_with(".nxapply-new") && !staged++)
        writeAll(entry.path(), std::string(fs::file_size(entry.path()), '?'));
    // The undo killed part way is taken up again; what it restored stays.
    if (damage) {
      ASSERT_EQ(apply(std::string(64, '0'), "crash:4").status, 86);
    }
    EXPECT_EQ(apply(std::string(64, '0')).status, 13);  // settles, then finds no such database
    EXPECT_EQ(snapshot(base), image(damage ? "1.0" : "2.0"));
    EXPECT_FALSE(journalLeft());
  }
}

TEST_F(ApplierPromises, AFailedCleanUpKeepsTheJournalForTheNextRun) {
  for (int step = 10; step < 100; ++step) {
    install("base");
    ProgramResult run = apply(rel.v2Id, "fail:" + std::to_string(step));
    ASSERT_TRUE(run.status == 0 || run.status == 15) << run.err;
    if (run.status != 0 || !contains(readAll(write + "/Logs/autoupdate.log"), "Clean-up after the update")) continue;
    EXPECT_TRUE(journalLeft());
    ASSERT_EQ(apply(rel.v2Id).status, 0);
    EXPECT_FALSE(journalLeft());
    EXPECT_EQ(snapshot(base), image("2.0"));
    return;
  }
  FAIL() << "no clean-up step failed";
}

// The journal, each new file and the new file cache are flushed (or the
// whole file system synced) after they were made and before the rename that
// makes them count; the commit mark is flushed before the first replacement.
TEST_F(ApplierPromises, EveryFileIsOnTheDiskBeforeItsRename) {
  const std::string tracer = NX_BUILD_DIR "/libsync_trace.so", trace = path("trace");
  if (!fs::exists(tracer)) GTEST_SKIP() << "no sync tracer on this system";
  ProgramResult run = apply(
      rel.v2Id, "", {{"LD_PRELOAD", tracer}, {"NX_SYNC_TRACE", trace}, {"ASAN_OPTIONS", "verify_asan_link_order=0"}});
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
