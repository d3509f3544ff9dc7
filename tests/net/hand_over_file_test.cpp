// The hand-over file written by one updater and read by the next, on disk.
#include <gtest/gtest.h>

#include "base/text.h"
#include "check_test_util.h"
#include "db/json.h"
#include "io/io_error.h"
#include "net/update_reply.h"
#include "support/planted_files.h"

namespace nx::test {
namespace {

class HandOverTest : public CheckTest {
 protected:
  std::wstring path = folder.file(L"_update_info");
  // The message readHandOverFile fails with, or "" when it reads the file.
  std::string readFailure() {
    try {
      updater->readHandOverFile(path);
    } catch (const std::runtime_error& e) {
      return e.what();
    }
    return "";
  }
};

TEST_F(HandOverTest, WrittenFileReadsBackAsTheMirrorsAndTheSelectedVersion) {
  updater->downloadUrls = {"http://m2/objects", "http://m1/objects"};
  updater->selectedVersion = VersionEntry{"2.0", "2026-02-01", objectId('c'), 0x8000000000000005ull, "linux:5.0"};
  updater->writeHandOverFile(path);

  const std::string text = folder.read(L"_update_info");
  EXPECT_LT(text.find("\"download_url\""), text.find("\"versions\""));
  EXPECT_EQ(text.find("requirements"), std::string::npos);

  auto next = std::make_unique<Autoupdater>(log, settings);
  next->readHandOverFile(path);
  EXPECT_EQ(next->downloadUrls, updater->downloadUrls);
  ASSERT_EQ(next->versions.size(), 1u);
  const VersionEntry& v = next->versions[0];
  EXPECT_EQ(v.version + " " + v.timestamp + " " + v.database_id + " " + v.requirements,
            "2.0 2026-02-01 " + objectId('c') + " ");
  EXPECT_EQ(v.database_size, 0x8000000000000005ull);

  // A gzip-compressed file reads the same.
  folder.write(L"_update_info", gzipBytes(text));
  next->versions.clear();
  next->readHandOverFile(path);
  EXPECT_EQ(next->versions.at(0).database_id, objectId('c'));
}

// Its content is read as an update reply, whose hostile forms the check tests try.
TEST_F(HandOverTest, HostileFilesAreRefused) {
  folder.write(L"_update_info", replyText({{"t", "2", "", "../../../../home/user/.bashrc"}}));
  EXPECT_EQ(readFailure(), "invalid database structure");
  folder.write(L"_update_info", gzipBytes(replyText({}) + std::string(kMaxReplyBytes, ' ')));
  EXPECT_EQ(readFailure(), "read(\"" + toUtf8(path) + "\"): larger than 16 MiB");

  std::filesystem::remove(path);
  EXPECT_THROW(updater->readHandOverFile(path), OpenFileError);
  if (!makeFifo(path)) return;                                   // none on Windows
  EXPECT_THROW(updater->readHandOverFile(path), OpenFileError);  // not a hang
  EXPECT_TRUE(updater->versions.empty());
}

}  // namespace
}  // namespace nx::test
