// Refreshing installed files and checking the object store, on real
// installations made with the publish program and on generated trees.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <thread>

#include "io/io_test_util.h"
#include "net/download_fixture.h"
#include "net/installed_file.h"
#include "net/object_store.h"

namespace nx::test {
namespace {

namespace fs = std::filesystem;

// path -> "local_hash size time" of every record.
std::map<std::string, std::string> localFields(const Database& db) {
  std::map<std::string, std::string> out;
  for (const auto& [path, r] : db.files)
    out[path] = r.local_hash + " " + std::to_string(r.local_size) + " " + std::to_string(r.local_time);
  return out;
}

// The installation of 1.0 (no release 2.0 is needed).
class InstalledFilesTest : public DownloadTest {
 protected:
  void publishSecond() override {}
  // A run of the updater up to refreshed local fields, as the update operation does it.
  std::unique_ptr<DownloadRun> refreshed() {
    auto run = newRun();
    run->updater->loadFileLists(write());
    run->updater->refreshInstalledFiles();
    return run;
  }
};

TEST_F(InstalledFilesTest, HashesOnceThenTrustsSizeAndTime) {
  NX_POSIX_ONLY("sha256sum and gzip as the judges");
  auto first = refreshed();
  Autoupdater& u = *first->updater;
  EXPECT_EQ(u.database.files.size(), 9u);
  for (const auto& [path, r] : u.database.files)  // an installation as published
    EXPECT_EQ(r.local_hash + std::to_string(r.local_size), r.hash + std::to_string(r.size)) << path;
  const auto hashed = localFields(u.database);
  first.reset();  // saves the cache

  // Same size, new content: with the old time restored the file counts as
  // unchanged; with a new time it is hashed again.
  const std::wstring items = joinPath(base(), std::string("data/items.txt"));
  const auto time = fs::last_write_time(fs::path(items));
  std::string text = fileText(items);
  text[0] ^= 1;
  writeText(items, text);
  fs::last_write_time(fs::path(items), time);
  EXPECT_EQ(localFields(refreshed()->updater->database).at("data/items.txt"), hashed.at("data/items.txt"));

  fs::last_write_time(fs::path(items), time + std::chrono::seconds(5));
  auto third = refreshed();
  const FileRecord& r = third->updater->database.files.at("data/items.txt");
  EXPECT_EQ(r.local_hash, contentDigest(items));
  EXPECT_NE(r.local_hash, r.hash);
}

// A generated installation: many small files, some large ones, and records
// that must never be read.
class RefreshPoolTest : public CheckTest {
 protected:
  RefreshPoolTest() {
    u.writeFolder = folder.path();
    u.baseFolder = folder.file(L"base");
    u.database.modules = {{"m", true}, {"off", false}};
    for (int i = 0; i < 400; ++i) {
      std::string path = "d" + std::to_string(i % 7) + "/f" + std::to_string(i);
      writeText(joinPath(u.baseFolder, path), std::string(i % 5 == 0 ? 200000 + i : i * 37, char('a' + i % 26)));
      u.database.files[path] = FileRecord{path, std::string(64, '0'), 0, "m", "", 0, 0};
    }
    writeText(folder.file(L"outside"), "secret");
    fs::create_directory(fs::path(folder.file(L"base/folder")));
    makeFifo(folder.file(L"base/fifo"));  // none on Windows: then a missing file
    for (std::string path : {"../outside", "folder", "fifo"})
      u.database.files[path] = FileRecord{path, std::string(64, '0'), 0, "m", "stale", 1, 1};
    u.database.files["d0/f0"].module = "off";
    u.database.files["d0/f0"].local_hash = "kept";
  }
  Autoupdater& u = *updater;
};

TEST_F(RefreshPoolTest, ParallelRefreshGivesTheSequentialRecordsAndACancelKeepsOnlyFinishedOnes) {
  NX_POSIX_ONLY("sha256sum and gzip as the judges");
  auto forget = [&] {
    for (auto& [path, r] : u.database.files)
      if (path != "d0/f0") r.local_hash.clear(), r.local_size = r.local_time = 0;
  };
  setHashThreadCount(1);
  u.refreshInstalledFiles();
  const auto sequential = localFields(u.database);
  forget();
  setHashThreadCount(4);
  u.refreshInstalledFiles();
  EXPECT_EQ(localFields(u.database), sequential);
  EXPECT_EQ(sequential.at("d0/f0"), "kept 0 0");  // not a selected module
  EXPECT_EQ(sequential.at("d1/f1"), contentDigest(folder.file(L"base/d1/f1")) + " 37 " +
                                        std::to_string(u.database.files.at("d1/f1").local_time));
  for (const char* path : {"../outside", "folder", "fifo"}) EXPECT_EQ(sequential.at(path), " 0 0") << path;
  EXPECT_EQ(u.progress.load(), 1.0f);
  EXPECT_EQ(log.lines().size(), 2u);  // "Actualizing local cache..." twice, nothing else

  // A cancel that came before the stage started stands.
  forget();
  u.cancelFlag = 1;
  EXPECT_EQ(failureOf([&] { u.refreshInstalledFiles(); }).code, ErrorCode::UserCancelled);
  EXPECT_EQ(failureOf([&] { u.loadFileLists(folder.path()); }).code, ErrorCode::UserCancelled);
  EXPECT_EQ(localFields(u.database).at("d1/f1"), " 0 0");

  // Cancel once only a file far larger than the rest is left, being hashed:
  // every finished record is whole, the cancelled one empty.
  u.cancelFlag = 0;
  fs::resize_file(fs::path(folder.file(L"base/d1/f1")), 8ull << 30);  // sparse: reads as zeros, costs no disk
  const float count = static_cast<float>(u.database.files.size()), almost = (count - 1.5f) / count;
  setHashThreadCount(2);
  std::thread canceller([&] {
    while (u.progress.load() < almost) std::this_thread::yield();
    u.cancelFlag = 1;
  });
  EXPECT_EQ(failureOf([&] { u.refreshInstalledFiles(); }).code, ErrorCode::UserCancelled);
  canceller.join();
  setHashThreadCount(0);
  for (const auto& [path, fields] : localFields(u.database))
    EXPECT_TRUE(fields == " 0 0" || (path != "d1/f1" && fields == sequential.at(path))) << path << ": " << fields;
  EXPECT_TRUE(u.cacheDirty);  // what was finished is kept and must be saved
  u.cacheDirty = false;
}

class ObjectStoreTest : public CheckTest {
 protected:
  // Stores content (gzipped when packed) under an id: its digest unless given.
  std::string store(const std::string& content, bool packed = false, const std::string& id = "") {
    writeText(dir.file(L"content"), packed ? gzipped(content) : content);
    const std::string name = id.empty() ? sha256(content) : id;
    fs::create_directories(fs::path(objectFolder(dir.path(), name)));
    fs::rename(fs::path(dir.file(L"content")), fs::path(objectPath(dir.path(), name)));
    return name;
  }
  bool present(const std::string& id) { return fs::exists(fs::path(objectPath(dir.path(), id))); }
  const TempFolder& dir = folder;
  Autoupdater& u = *updater;
};

TEST_F(ObjectStoreTest, ValidObjectsStayAndBadOnesAreDeleted) {
  const std::string plain = store("plain content"), packed = store(std::string(100000, 'z'), true);
  EXPECT_TRUE(u.isObjectCached(dir.path(), plain));
  EXPECT_TRUE(u.isObjectCached(dir.path(), packed));

  const std::string wrong = store("other content", true, std::string(63, 'd') + "3");
  EXPECT_FALSE(u.isObjectCached(dir.path(), wrong));
  EXPECT_FALSE(present(wrong));
  EXPECT_TRUE(log.lines().empty());  // a digest mismatch is no error

  const std::string corrupt =
      store(std::string("\x1f\x8b\x08\0\0\0\0\0\0\x03", 10) + "garbage", false, std::string(63, 'c') + "1");
  EXPECT_FALSE(u.isObjectCached(dir.path(), corrupt));
  EXPECT_FALSE(present(corrupt));
  EXPECT_TRUE(log.contains("ERROR  : Can't read cache file \"" + toUtf8(objectPath(dir.path(), corrupt))));

  if (!onWindows) {  // no FIFOs there
    const std::string fifo = std::string(63, 'f') + "2";
    fs::create_directories(fs::path(objectFolder(dir.path(), fifo)));
    makeFifo(objectPath(dir.path(), fifo));
    EXPECT_FALSE(u.isObjectCached(dir.path(), fifo));
    EXPECT_FALSE(present(fifo));
  }

  EXPECT_FALSE(u.isObjectCached(dir.path(), std::string(64, '9')));
  EXPECT_TRUE(fs::is_directory(fs::path(dir.file(L"99"))));

  u.cancelFlag = 1;
  EXPECT_EQ(failureOf([&] { u.isObjectCached(dir.path(), packed); }).code, ErrorCode::UserCancelled);
  EXPECT_TRUE(present(packed));
  u.cancelFlag = 0;
}

TEST_F(ObjectStoreTest, DiskFailuresAndBadIdsFail) {
  EXPECT_EQ(failureOf([&] { u.isObjectCached(dir.file(L"none"), std::string(64, 'a')); }).code,
            ErrorCode::DiskAccessError);
  EXPECT_TRUE(log.contains("Can't create cache dir \"" + toUtf8(objectFolder(dir.file(L"none"), std::string(64, 'a'))) +
                           "\": ("));

  const std::string id = std::string(64, 'b');
  fs::create_directories(fs::path(objectPath(dir.path(), id)) / "inside");
  EXPECT_EQ(failureOf([&] { u.isObjectCached(dir.path(), id); }).code, ErrorCode::DiskAccessError);
  EXPECT_TRUE(log.contains("Failed to delete cache file \"" + toUtf8(objectPath(dir.path(), id))));

  for (const std::string& bad : {std::string(64, 'A'), std::string("../../x"), std::string(63, 'a')})
    EXPECT_EQ(failureOf([&] { u.isObjectCached(dir.path(), bad); }).code, ErrorCode::DatabaseError) << bad;
  EXPECT_FALSE(fs::exists(fs::path(dir.file(L"AA"))));
}

}  // namespace
}  // namespace nx::test
