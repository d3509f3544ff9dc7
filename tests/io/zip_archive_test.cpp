#include "io/zip_archive.h"

#include <gtest/gtest.h>
#include <minizip/unzip.h>
#include <minizip/zip.h>

#include "app/system_error_text.h"
#include "io_test_util.h"
#include "support/temp_folder.h"
#include "sys/errors.h"

namespace nx {
namespace {

using test::caught;

// Reads a member the way every caller does: reserve size(), then 64 KiB
// chunks until a short read.
std::string readMember(UnzipFile& archive, const std::string& name) {
  UnzipReader reader(archive, name);
  std::string out;
  out.reserve(reader.size());
  char buffer[kChunkSize];
  for (size_t got = kChunkSize; got == kChunkSize;) out.append(buffer, got = reader.read(buffer, kChunkSize));
  EXPECT_EQ(out.size(), reader.size());
  return out;
}

void writeMember(ZipFile& archive, const char* name, const std::string& data) {
  ZipWriter w(archive, name);
  for (size_t i = 0; i < data.size(); i += kChunkSize) w.write(data.data() + i, std::min(kChunkSize, data.size() - i));
  w.close();
}

class ZipTest : public ::testing::Test {
 protected:
  void writeTwoMembers() {
    ZipFile archive(path);
    writeMember(archive, "modules/Core/filelist.json", big);
    writeMember(archive, "metadata.json", small);
  }
  test::TempFolder dir;
  std::wstring path = dir.file(L"archive.zip");
  std::string big = test::sampleText(3 * kChunkSize);  // an exact multiple of the chunk
  std::string small = "{\"version\": 1}";
};

TEST_F(ZipTest, RoundTripAndStandardTools) {
  writeTwoMembers();
  {
    UnzipFile archive(path);
    EXPECT_EQ(readMember(archive, "metadata.json"), small);
    EXPECT_EQ(readMember(archive, "modules/Core/filelist.json"), big);
    EXPECT_EQ(readMember(archive, "MODULES/core/FileList.JSON"), big);  // case does not matter
  }
  // The unzip tool reads it, checks every CRC and sees level-9 deflate.
  std::string q = test::quoted(path);
  EXPECT_NE(test::runCommand("unzip -t " + q).find("No errors detected"), std::string::npos);
  EXPECT_EQ(test::runCommand("unzip -p " + q + " metadata.json"), small);
  EXPECT_EQ(test::runCommand("unzip -v " + q + " | grep -c Defl:X"), "2\n");

  // No dates are stored: the same content gives the same bytes.
  std::string first = test::readWholeFile(path);
  writeTwoMembers();
  EXPECT_EQ(test::readWholeFile(path), first);

  // And the other way round: an archive of the zip tool.
  test::writeWholeFile(dir.file(L"Cache.JSON"), big);
  test::runCommand("cd " + test::quoted(dir.path()) + " && zip -q -9 tool.zip Cache.JSON");
  UnzipFile tool(dir.file(L"tool.zip"));
  EXPECT_EQ(readMember(tool, "cache.json"), big);
}

TEST_F(ZipTest, OneWriterAtATime) {
  {
    ZipFile archive(path);
    {
      ZipWriter first(archive, "a.json");
      first.write("aaa", 3);
      test::Caught e = caught([&] { ZipWriter second(archive, "b.json"); });
      EXPECT_EQ(e.message, "only one ZipWriter can use ZipFile at a time");
      EXPECT_EQ(e.code, IOError::kNoCode);
      first.write("bbb", 3);
    }  // destroyed without close(): the member is still completed
    ZipWriter closed(archive, "b.json");
    closed.write("b", 1);
    closed.close();
    EXPECT_THROW(closed.write("x", 1), IOError);
    ZipWriter third(archive, "c.json");
    closed.close();  // must not end the member of another writer
    third.write("ccc", 3);
  }
  UnzipFile archive(path);
  EXPECT_EQ(readMember(archive, "a.json"), "aaabbb");
  EXPECT_EQ(readMember(archive, "b.json"), "b");
  EXPECT_EQ(readMember(archive, "c.json"), "ccc");

  // An exception unwinding past a writer still leaves a well-formed archive.
  try {
    ZipFile archive(path);
    ZipWriter w(archive, "filecache.json");
    w.write("partial", 7);
    throw std::runtime_error("generator failed");
  } catch (const std::runtime_error&) {
  }
  UnzipFile partial(path);
  EXPECT_EQ(readMember(partial, "filecache.json"), "partial");
}

TEST_F(ZipTest, OneReaderAtATimeAndMissingMembers) {
  writeTwoMembers();
  UnzipFile archive(path);
  {
    UnzipReader first(archive, "modules/Core/filelist.json");
    test::Caught e = caught([&] { UnzipReader second(archive, "metadata.json"); });
    EXPECT_EQ(e.message, "only one UnzipReader can use UnzipFile at a time");
    EXPECT_EQ(e.code, IOError::kNoCode);
    // A missing member is reported as such even while the archive is busy.
    EXPECT_THROW(UnzipReader(archive, "none.json"), OpenFileError);
    // The refused reader did not disturb the first one.
    EXPECT_EQ(first.size(), big.size());
    std::string got(big.size() + 1, '\0');
    EXPECT_EQ(first.read(got.data(), got.size()), big.size());
    EXPECT_EQ(got.substr(0, big.size()), big);
  }
  test::Caught e = caught<OpenFileError>([&] { UnzipReader missing(archive, "modules/Nope/filelist.json"); });
  EXPECT_EQ(e.message, "open(\"modules/Nope/filelist.json\"): File not found");
  EXPECT_EQ(e.code, IOError::kNoCode);
  EXPECT_EQ(readMember(archive, "metadata.json"), small);  // idle again
}

TEST_F(ZipTest, ArchivesThatCannotBeOpened) {
  std::wstring missing = dir.file(L"none.zip");
  test::Caught e = caught<OpenFileError>([&] { UnzipFile archive(missing); });
  EXPECT_EQ(e.message, "open(\"" + toUtf8(missing) + "\"): (" + std::to_string(sys::fileNotFound) + ") " +
                           systemErrorText(sys::fileNotFound));
  EXPECT_EQ(e.code, sys::fileNotFound);
  EXPECT_THROW(ZipFile(dir.file(L"no/such/folder.zip")), OpenFileError);

  test::writeWholeFile(path, test::sampleText(5000));
  EXPECT_EQ(caught<OpenFileError>([&] { UnzipFile archive(path); }).message,
            "open(\"" + toUtf8(path) + "\"): not a zip archive");
}

TEST_F(ZipTest, DamagedMemberIsAReadError) {
  // A stored member hides damage from the decompressor: only the CRC tells.
  std::string content = test::sampleText(1000);
  zipFile z = zipOpen64(toUtf8(path).c_str(), APPEND_STATUS_CREATE);
  zip_fileinfo info{};
  ASSERT_EQ(zipOpenNewFileInZip64(z, "stored.json", &info, nullptr, 0, nullptr, 0, nullptr, 0, 0, 0), ZIP_OK);
  zipWriteInFileInZip(z, content.data(), static_cast<unsigned>(content.size()));
  zipCloseFileInZip(z);
  zipClose(z, nullptr);
  std::string bytes = test::readWholeFile(path);
  size_t at = bytes.find(content.substr(0, 40));
  ASSERT_NE(at, std::string::npos);
  bytes[at + 500] ^= 0x20;
  test::writeWholeFile(path, bytes);

  UnzipFile archive(path);
  test::Caught e = caught([&] { readMember(archive, "stored.json"); });
  EXPECT_EQ(e.message, "unzReadCurrentFile failed");
  EXPECT_EQ(e.code, static_cast<uint32_t>(UNZ_CRCERROR));
}

}  // namespace
}  // namespace nx
