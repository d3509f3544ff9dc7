// The download of a published version from a loopback mirror into the
// staging folder's object store, and the failures of single objects.
#include <gtest/gtest.h>

#include "net/check_test_util.h"
#include "net/download_fixture.h"
#include "net/object_store.h"

namespace nx::test {
namespace {

namespace fs = std::filesystem;

// ---- whole versions from a published repository ----

TEST_F(DownloadTest, UpgradeFetchesOnlyNewContentOverOneConnectionAndASecondRunNothing) {
  NX_POSIX_ONLY("sha256sum and gzip as the judges");
  // The contents 2.0 changes or adds (of the installed modules).
  std::set<std::string> expected;
  uint64_t content = 0;
  for (const char* file : {"veltra.sh", "data/items.txt", "data/quests.txt", "maps/desert.txt"}) {
    expected.insert(contentDigest(fromUtf8(NX_SOURCE_DIR "/examples/product-v2/" + std::string(file))));
    content += fs::file_size(NX_SOURCE_DIR "/examples/product-v2/" + std::string(file));
  }
  // Left-overs of an earlier update go; what is not an object stays.
  const std::wstring stale = joinPath(staging(), "bb/" + std::string(64, 'b'));
  const std::wstring notes = joinPath(staging(), std::string("bb/notes.txt"));
  writeText(stale, "an object of an older update");
  writeText(notes, "kept");

  auto first = newRun();
  const VersionEntry wanted = first->updater->versions.at(first->indexOf("2.0"));
  expected.insert(wanted.database_id);
  verifyAndDownload(*first, "2.0");
  EXPECT_EQ(stored(), expected);
  const std::vector<std::string> asked = fetched();
  EXPECT_EQ(std::set<std::string>(asked.begin(), asked.end()), expected);
  EXPECT_EQ(asked.size(), expected.size());
  EXPECT_EQ(asked.front(), wanted.database_id);
  EXPECT_EQ(server.connections(), 1u);  // the one handle keeps its connection
  EXPECT_FALSE(fs::exists(fs::path(stale)));
  EXPECT_TRUE(fs::exists(fs::path(notes)));
  // The bar counted content added (after gunzip) against content to add; the
  // database already in the store was neither.
  EXPECT_EQ(first->updater->totalBytes.load(), content);
  EXPECT_EQ(first->updater->doneBytes.load(), content);
  // The updater program did not change: it comes from the installation.
  EXPECT_EQ(first->updater->selfUpdateStage, SelfUpdateStage::None);
  EXPECT_EQ(first->updater->applyList.at(1).source, joinPath(base(), std::string("bin/autoupdate")));
  first.reset();

  auto second = newRun();
  verifyAndDownload(*second, "2.0");
  EXPECT_EQ(fetched().size(), expected.size());
  EXPECT_EQ(stored(), expected);
}

// ---- single objects against mirrors that misbehave ----

class ObjectTest : public CheckTest {
 protected:
  ObjectTest() {
    updater->stagingFolder = store();
    fs::create_directory(fs::path(store()));
  }
  std::wstring store() const { return folder.file(L"store"); }
  std::string objectUrlPath(const std::string& id) const { return "/" + id.substr(0, 2) + "/" + id; }
};

TEST_F(ObjectTest, EachBrokenMirrorIsLoggedAndTheOneThatWorksStaysFirst) {
  const std::string a = randomBytes(40000, 0, 1), gz = gzipped(a), id = sha256(a);
  const std::string at = objectUrlPath(id);
  server.serveShort("/short" + at, gz.substr(0, gz.size() / 2), gz.size());
  server.serve("/bad" + at, gzipped(randomBytes(40000, 0, 2)));
  server.serveEndless("/endless" + at);
  server.serve("/bomb" + at, gzipped(std::string(size_t{40} << 20, '\0')));  // 40 MiB of zeros, 40 KiB sent
  server.serve("/good" + at, gz);
  std::deque<std::string> urls;
  for (const char* m : {"/404", "/short", "/bad", "/endless", "/bomb", "/good"}) urls.push_back(server.url(m));
  const std::deque<std::string> before = urls;

  ASSERT_FALSE(updater->isObjectCached(store(), id));
  updater->fetchObject(urls, store(), id, a.size());
  // The order in which they were tried shows in the mirror list below.
  for (const std::string& failure :
       {"Can't download object " + server.url("/404" + at) + ": HTTP status 404",
        "Incomplete file received: " + std::to_string(gz.size() / 2) + " of " + std::to_string(gz.size()) + " bytes",
        server.url("/bad" + at) + ": hash mismatch",
        server.url("/endless" + at) + ": received more than the 40000 bytes the version announces",
        server.url("/bomb" + at) + ": content inflates to more than the 40000 bytes"})
    EXPECT_TRUE(log.contains(failure)) << failure << ::testing::PrintToString(log.lines());
  for (size_t k = 0; k < before.size(); ++k)
    EXPECT_EQ(log.contains("Switching download URL to " + before[k] + "\n"), k > 0) << before[k];
  EXPECT_EQ(urls, (std::deque<std::string>{before[5], before[0], before[1], before[2], before[3], before[4]}));
  EXPECT_EQ(fileText(objectPath(store(), id)), gz);  // stored as received: no part of a failed one is left
  EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(joinPath(store(), id.substr(0, 2)))), {}), 1);

  // No mirror has it, or there is no mirror at all.
  const std::string idC = sha256("nowhere");
  ASSERT_FALSE(updater->isObjectCached(store(), idC));
  std::deque<std::string> none;
  for (std::deque<std::string>* list : {&urls, &none}) {
    Autoupdater::Fail f = failureOf([&] { updater->fetchObject(*list, store(), idC, 7); });
    EXPECT_EQ(f.code, ErrorCode::ServerError);
    EXPECT_STREQ(f.what(), "Update servers can't handle your request. Please, try again later.");
    EXPECT_FALSE(fs::exists(fs::path(objectPath(store(), idC))));
  }
}

TEST_F(ObjectTest, MirrorsOfAServerAreServersAndALocalMirrorIsReadOnlyFromRegularFiles) {
  // Each attempt must end: one that opened the FIFO would hang until the
  // test's time-out.
  NX_POSIX_ONLY("a FIFO");
  const std::string a = randomBytes(1000, 0, 4), id = sha256(a);
  const std::string local = toUtf8(folder.file(L"local")), plain = toUtf8(folder.file(L"plain"));
  fs::create_directories(local + "/" + id.substr(0, 2));
  fs::create_directories(plain + "/" + id.substr(0, 2));
  ASSERT_TRUE(makeFifo(fromUtf8(local + objectUrlPath(id))));
  writeText(fromUtf8(plain + objectUrlPath(id)), a);
  server.redirect("/r" + objectUrlPath(id), "file://" + plain + objectUrlPath(id));
  ASSERT_FALSE(updater->isObjectCached(store(), id));

  // A reply fetched over HTTP may name a local mirror; it is not reached.
  server.serve("/update/stable", R"({"download_url": "file://)" + local + R"("})");
  updater->queryUpdateServer(server.url("/update/stable"));
  EXPECT_EQ(updater->downloadUrls, std::deque<std::string>{"file://" + local});
  EXPECT_FALSE(updater->localRepository);

  for (const bool localRepository : {false, true}) {
    SCOPED_TRACE(localRepository);
    updater->localRepository = localRepository;
    std::deque<std::string> urls{"file://" + local, server.url("/r")};
    log.clear();
    Autoupdater::Fail f = failureOf([&] { updater->fetchObject(urls, store(), id, a.size()); });
    EXPECT_EQ(f.code, ErrorCode::ServerError);
    EXPECT_TRUE(log.contains(localRepository ? "Couldn't read a file:// file" : "Unsupported protocol"))
        << ::testing::PrintToString(log.lines());
    EXPECT_FALSE(fs::exists(fs::path(objectPath(store(), id))));
  }
  // A local repository still reads its regular files.
  std::deque<std::string> urls{"file://" + plain};
  updater->fetchObject(urls, store(), id, a.size());
  EXPECT_EQ(fileText(objectPath(store(), id)), a);
}

// A database of a hostile or broken server whose record names a file
// outside the store.
std::string hostileDatabase() {
  const std::string metadata = R"({"format": 1, "version": "3.0", "timestamp": "2027", "update_url": "x", "tag": "t",
      "setup": [], "launch": [], "apply": [], "modules": ["veltra"], "main": "veltra"})";
  return handmadeZip({deflatedMember("metadata.json", metadata),
                      deflatedMember("modules/veltra/filelist.json", R"([["veltra.sh", "../../../outside", 5]])")});
}

TEST_F(ObjectTest, AHostileDatabaseRecordNeverNamesAFile) {
  // The database arrives; its records are refused before anything else is
  // fetched or the store is pruned.
  const std::string database = hostileDatabase(), databaseId = sha256(database);
  server.serve("/m" + objectUrlPath(databaseId), database);
  const std::wstring stray = joinPath(store(), "cc/" + std::string(64, 'c'));
  writeText(stray, "kept: pruning never ran");
  updater->downloadUrls = {server.url("/m")};
  updater->versions = {VersionEntry{"3.0", "2027", databaseId, database.size(), ""}};
  Autoupdater::Fail f = failureOf([&] { updater->selectVersion(store(), 0); });
  EXPECT_EQ(f.code, ErrorCode::ServerError);
  // The database reader refuses the record already.
  EXPECT_EQ(std::string(f.what()),
            "parse_db_files(\"" + toUtf8(objectPath(store(), databaseId)) + "\"): invalid database structure");
  EXPECT_EQ(server.requests().size(), 1u);
  EXPECT_TRUE(fs::exists(fs::path(stray)));
  EXPECT_EQ(fileText(objectPath(store(), databaseId)), database);
  EXPECT_FALSE(fs::exists(fs::path(folder.file(L"outside"))));
  EXPECT_FALSE(fs::exists(fs::path(folder.path()).parent_path() / "outside"));
}

// Which applier file comes from a new object and which from the installation
// is checked on whole versions above.
TEST_F(ObjectTest, ApplierFilesNeverComeFromOutsideTheInstallation) {
  // A new updater program that the settings say to keep stays the installed one.
  updater->baseFolder = folder.file(L"base");
  updater->debug_keep_updater = true;
  Database db;
  const std::string program(64, '2');
  db.files["bin/autoupdate"] = FileRecord{"bin/autoupdate", program, 20, "m", "", 0, 0};
  db.files["../../bin/sh"] = FileRecord{"../../bin/sh", program, 20, "m", "", 0, 0};
  db.apply = {"bin/autoupdate"};
  const ObjectSet objects = {{program, 20}};
  ObjectSet own;
  updater->prepareApplyFiles(db, objects, own);
  EXPECT_EQ(updater->applyList.at(0).source, joinPath(updater->baseFolder, std::string("bin/autoupdate")));
  EXPECT_TRUE(own.empty());

  for (const std::string& entry : {std::string("bin/missing"), std::string("../../bin/sh"), std::string("/bin/sh")}) {
    db.apply = {entry};
    Autoupdater::Fail f = failureOf([&] { updater->prepareApplyFiles(db, objects, own); });
    EXPECT_EQ(f.code, ErrorCode::ServerError);
    EXPECT_EQ(f.what(), entry == "bin/missing" ? "no db entry for applier file bin/missing"
                                               : std::string("invalid database structure"));
  }
}

}  // namespace
}  // namespace nx::test
