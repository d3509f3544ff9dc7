// The file cache on real archives: what a load applies and what it refuses,
// and saving it again. (A save on a full disk is run by the operation tests.)
#include "net/file_cache.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/system_error_text.h"
#include "io/io_error.h"
#include "io/zip_archive.h"
#include "net/check_test_util.h"

namespace nx::test {
namespace {

namespace fs = std::filesystem;

std::string fields(const FileRecord& r) {
  return r.local_hash + " " + std::to_string(r.local_size) + " " + std::to_string(r.local_time);
}

class FileCacheTest : public CheckTest {
 protected:
  FileCacheTest() {
    u.writeFolder = dir.path();
    u.database.version = "2.0";
    u.database.files.clear();
    for (const char* path : {"a", "b", "c"})
      u.database.files[path] = FileRecord{path, std::string(64, 'a'), 1, "m", "", 0, 0};
  }
  std::wstring cachePath() const { return dir.file(L"autoupdate.cache"); }
  // Loads a cache of these entries (none: no file) and returns the detail of
  // the load warning; empty when there was none.
  std::string load(const std::string& info, const std::string& rows) {
    fs::remove(fs::path(cachePath()));
    if (!info.empty()) {
      ZipFile zip(cachePath());
      ZipWriter(zip, "cacheinfo.json").write(info.data(), info.size());
      if (!rows.empty()) ZipWriter(zip, "filecache.json").write(rows.data(), rows.size());
      zip.close();
    }
    log.clear();
    u.cacheDirty = false;
    u.loadFileCache();
    const std::string head = "WARNING: Can't load cache: parse_cache(\"" + toUtf8(cachePath()) + "\"): ";
    for (const std::string& line : log.lines())
      if (line.find(head) != std::string::npos) return line.substr(line.find(head) + head.size());
    EXPECT_TRUE(log.lines().empty());
    return "";
  }

  const TempFolder& dir = folder;
  Autoupdater& u = *updater;
};

TEST_F(FileCacheTest, LoadAppliesCompleteRowsUntilTheFirstBadOne) {
  EXPECT_EQ(load(R"({"version": "2.0", "other": [1]})", R"([["a", "h1", 10, 20], ["gone", "h", 1, 1],
      ["a", "h2", 11.9, 21], ["b", "h3", -1, 5], ["c", "h4", 1, 1]])"),
            "invalid format\n");
  EXPECT_EQ(fields(u.database.files.at("a")), "h2 11 21");  // the later row wins; a real number is truncated
  EXPECT_EQ(fields(u.database.files.at("b")), " 0 0");      // the bad row itself leaves nothing behind
  EXPECT_EQ(fields(u.database.files.at("c")), " 0 0");
  EXPECT_EQ(u.database.files.count("gone"), 0u);
  EXPECT_TRUE(u.cacheDirty);

  // The cache of another version is ignored silently.
  EXPECT_EQ(load(R"({"version": "1.0"})", R"([["c", "h1", 10, 20]])"), "");
  EXPECT_EQ(fields(u.database.files.at("c")), " 0 0");
  EXPECT_FALSE(u.cacheDirty);
}

TEST_F(FileCacheTest, BrokenCachesWarnAndMarkTheCacheDirty) {
  const std::string big = R"({"version": "2.0", "pad": ")" + std::string(20000, 'x') + "\"}";
  const std::string v2 = R"({"version": "2.0"})";
  const struct {
    std::string info, rows, detail;
  } cases[] = {
      {"", "", "open(\"" + toUtf8(cachePath()) + "\"): (2) " + logged(systemErrorText(2)) + "\n"},
      {R"({"version": 2})", "[]", "invalid database structure\n"},
      {big, "[]", "invalid database structure\n"},
      {v2, "", "open(\"filecache.json\"): File not found\n"},
      {v2, R"([["a", "h", 1, 2])", "parse error: premature EOF\\n\n"},  // one log line: the line feed escaped
      {v2, R"([["a", "h", 1, 2, 3]])", "invalid format\n"},
      {v2, R"({"a": 1})", "invalid format\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.detail);
    EXPECT_EQ(load(c.info, c.rows), c.detail);
    EXPECT_TRUE(u.cacheDirty);
  }
}

TEST_F(FileCacheTest, SavedCacheReadsBackAndCleanCacheIsNotWritten) {
  u.saveFileCacheIfDirty();
  EXPECT_FALSE(fs::exists(fs::path(cachePath())));

  u.database.files.at("a").local_hash = "h1";
  u.database.files.at("a").local_time = 1ull << 60;
  u.database.files.at("b").local_hash = "h2";
  u.database.files.at("b").local_size = 7;
  u.cacheDirty = true;
  u.saveFileCacheIfDirty();
  EXPECT_FALSE(u.cacheDirty);
  EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(dir.path())), {}), 1);  // no temporary file left

  Database copy = u.database;
  for (auto& [path, r] : copy.files) r.local_hash = "x";
  ASSERT_TRUE(readFileCache(cachePath(), copy));
  EXPECT_EQ(fields(copy.files.at("a")), "h1 0 1152921504606846976");
  EXPECT_EQ(fields(copy.files.at("b")), "h2 7 0");
  EXPECT_EQ(fields(copy.files.at("c")), "x 0 0");  // unknown records have no row

  // A failed save keeps the flag, so the destructor tries again.
  u.writeFolder = dir.file(L"missing");
  u.cacheDirty = true;
  EXPECT_THROW(u.saveFileCacheIfDirty(), IOError);
  EXPECT_TRUE(u.cacheDirty);
  u.cacheDirty = false;
}

}  // namespace
}  // namespace nx::test
