// The file cache on real archives: what a load applies and what it refuses,
// saving it again, and a save that runs out of disk.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "app/autoupdater.h"
#include "db/settings.h"
#include "io/io_error.h"
#include "io/zip_archive.h"
#include "net/file_cache.h"
#include "net/published_install.h"
#include "support/memory_log.h"
#include "support/temp_folder.h"

namespace nx {
namespace {

namespace fs = std::filesystem;
const std::string kHash(64, 'a');

void writeCache(const std::wstring& path, const std::string& info, const std::string& rows) {
  ZipFile zip(path);
  ZipWriter(zip, "cacheinfo.json").write(info.data(), info.size());
  if (!rows.empty()) ZipWriter(zip, "filecache.json").write(rows.data(), rows.size());
  zip.close();
}

std::string fields(const FileRecord& r) {
  return r.local_hash + " " + std::to_string(r.local_size) + " " + std::to_string(r.local_time);
}

class FileCacheTest : public ::testing::Test {
 protected:
  FileCacheTest() {
    updater.writeFolder = dir.path();
    updater.database.version = "2.0";
    for (const char* path : {"a", "b", "c"}) updater.database.files[path] = FileRecord{path, kHash, 1, "m", "", 0, 0};
  }
  std::wstring cachePath() const { return dir.file(L"autoupdate.cache"); }
  const FileRecord& record(const char* path) { return updater.database.files.at(path); }
  // The detail of the load warning; empty when there was none.
  std::string warning() {
    for (const std::string& line : log.lines()) {
      const std::string head = "WARNING: Can't load cache: parse_cache(\"" + toUtf8(cachePath()) + "\"): ";
      if (line.find(head) != std::string::npos) return line.substr(line.find(head) + head.size());
    }
    return "";
  }

  test::TempFolder dir;
  test::MemoryLog log;
  UpdaterSettings settings{dir.file(L"settings"), log};
  Autoupdater updater{log, settings};
};

TEST_F(FileCacheTest, LoadAppliesCompleteRowsUntilTheFirstBadOne) {
  writeCache(cachePath(), R"({"version": "2.0", "other": [1]})",
             R"([["a", "h1", 10, 20], ["gone", "h", 1, 1], ["a", "h2", 11.9, 21],
                 ["b", "h3", -1, 5], ["c", "h4", 1, 1]])");
  updater.loadFileCache();
  EXPECT_EQ(fields(record("a")), "h2 11 21");  // the later row wins; a real number is truncated
  EXPECT_EQ(fields(record("b")), " 0 0");      // the bad row itself leaves nothing behind
  EXPECT_EQ(fields(record("c")), " 0 0");
  EXPECT_EQ(updater.database.files.count("gone"), 0u);
  EXPECT_EQ(warning(), "invalid format\n");
  EXPECT_TRUE(updater.cacheDirty);
}

TEST_F(FileCacheTest, CacheOfAnotherVersionIsIgnoredSilently) {
  writeCache(cachePath(), R"({"version": "1.0"})", R"([["a", "h1", 10, 20]])");
  updater.loadFileCache();
  EXPECT_EQ(fields(record("a")), " 0 0");
  EXPECT_TRUE(log.lines().empty());
  EXPECT_FALSE(updater.cacheDirty);
}

TEST_F(FileCacheTest, BrokenCachesWarnAndMarkTheCacheDirty) {
  const std::string big = R"({"version": "2.0", "pad": ")" + std::string(20000, 'x') + "\"}";
  const struct {
    std::string info, rows, detail;
  } cases[] = {
      {"", "", "open(\"" + toUtf8(cachePath()) + "\"): (2) No such file or directory\n"},
      {R"({"version": 2})", "[]", "invalid database structure\n"},
      {big, "[]", "invalid database structure\n"},
      {R"({"version": "2.0"})", "", "open(\"filecache.json\"): File not found\n"},
      {R"({"version": "2.0"})", R"([["a", "h", 1, 2])", "parse error: premature EOF\n\n"},
      {R"({"version": "2.0"})", R"([["a", "h", 1, 2, 3]])", "invalid format\n"},
      {R"({"version": "2.0"})", R"({"a": 1})", "invalid format\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.detail);
    fs::remove(fs::path(cachePath()));
    if (!c.info.empty()) writeCache(cachePath(), c.info, c.rows);
    log.clear();
    updater.cacheDirty = false;
    updater.loadFileCache();
    EXPECT_EQ(warning(), c.detail);
    EXPECT_TRUE(updater.cacheDirty);
  }
  test::writeText(cachePath(), "not a zip");
  log.clear();
  updater.loadFileCache();
  EXPECT_EQ(warning(), "open(\"" + toUtf8(cachePath()) + "\"): not a zip archive\n");
}

TEST_F(FileCacheTest, SavedCacheReadsBackAndCleanCacheIsNotWritten) {
  updater.saveFileCacheIfDirty();
  EXPECT_FALSE(fs::exists(fs::path(cachePath())));

  updater.database.files.at("a").local_hash = "h1";
  updater.database.files.at("a").local_time = 1ull << 60;
  updater.database.files.at("b").local_hash = "h2";
  updater.database.files.at("b").local_size = 7;
  updater.cacheDirty = true;
  updater.saveFileCacheIfDirty();
  EXPECT_FALSE(updater.cacheDirty);
  EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(dir.path())), {}), 1);  // no temporary file left

  Database copy = updater.database;
  for (auto& [path, r] : copy.files) r.local_hash = "x";
  ASSERT_TRUE(readFileCache(cachePath(), copy));
  EXPECT_EQ(fields(copy.files.at("a")), "h1 0 1152921504606846976");
  EXPECT_EQ(fields(copy.files.at("b")), "h2 7 0");
  EXPECT_EQ(fields(copy.files.at("c")), "x 0 0");  // unknown records have no row

  // A failed save keeps the flag, so the destructor tries again.
  updater.writeFolder = dir.file(L"missing");
  updater.cacheDirty = true;
  EXPECT_THROW(updater.saveFileCacheIfDirty(), IOError);
  EXPECT_TRUE(updater.cacheDirty);
  updater.cacheDirty = false;
}

TEST_F(FileCacheTest, FullDiskWhileSavingLeavesTheOldCacheIntact) {
  updater.database.files.at("a").local_hash = "old";
  saveFileCache(cachePath(), updater.database);
  const std::string before = test::fileText(cachePath());
  for (int i = 0; i < 3000; ++i) {
    std::string path = "data/file" + std::to_string(i * 7919);
    updater.database.files[path] = FileRecord{path, kHash, 1, "m", std::to_string(i * 104729) + kHash, 99, 77};
  }
  const std::wstring message = dir.file(L"message");
  pid_t child = ::fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    // Files of this process may not grow past 8 KiB: what a full disk does to the writer.
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{8192, 8192};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    int code = 0;
    try {
      saveFileCache(cachePath(), updater.database);
    } catch (const IOError& e) {
      test::writeText(message, e.what());
      code = 3;
    }
    ::_exit(code);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
  EXPECT_EQ(test::fileText(message).rfind("write(\"" + toUtf8(cachePath()) + "\"): ", 0), 0u)
      << test::fileText(message);
  EXPECT_EQ(test::fileText(cachePath()), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(dir.path())), {}), 2);  // cache and message only

  Database reread = updater.database;
  ASSERT_TRUE(readFileCache(cachePath(), reread));
  EXPECT_EQ(reread.files.at("a").local_hash, "old");
}

}  // namespace
}  // namespace nx
