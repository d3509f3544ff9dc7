#include "io/zip_archive.h"

#include <gtest/gtest.h>
#include <minizip/unzip.h>

#include <memory>

#include "handmade_zip.h"
#include "io_test_util.h"
#include "support/platform.h"
#include "support/temp_folder.h"

namespace nx {
namespace {

// Reads a member the way every caller does: reserve size(), then 64 KiB
// chunks until a short read.
std::string readMember(UnzipFile& archive, const std::string& name) {
  UnzipReader reader(archive, name);
  std::string out, buffer(kChunkSize, '\0');
  out.reserve(reader.size());
  for (size_t got = kChunkSize; got == kChunkSize;) out.append(buffer, 0, got = reader.read(buffer.data(), kChunkSize));
  EXPECT_EQ(out.size(), reader.size());
  return out;
}

class ZipTest : public ::testing::Test {
 protected:
  test::TempFolder dir;
  std::wstring path = dir.file(L"archive.zip");
  std::string big = test::randomBytes(3 * kChunkSize, 8);  // an exact multiple of the chunk
  std::string small = "{\"version\": 1}";
};

TEST_F(ZipTest, DamagedMissingAndNoArchive) {
  NX_POSIX_ONLY("the standard tools (gzip, sha256sum, openssl, unzip) through /bin/sh as judges");
  // A stored member made by the zip tool hides damage from the decompressor: only the CRC tells.
  std::string content = big.substr(0, 1000);
  test::writeAll(dir.file(L"Stored.json"), content);
  test::runCommand("cd " + test::quoted(dir.path()) + " && zip -q -0 archive.zip Stored.json");
  std::string bytes = test::readAll(path);
  size_t at = bytes.find(content.substr(0, 40));
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(readMember(*std::make_unique<UnzipFile>(path), "stored.json"), content);  // intact, it reads fine
  bytes[at + 500] ^= 0x20;
  test::writeAll(path, bytes);
  UnzipFile archive(path);
  EXPECT_EQ(test::caught([&] { readMember(archive, "stored.json"); }),
            "unzReadCurrentFile failed #" + std::to_string(static_cast<uint32_t>(UNZ_CRCERROR)));
  // Missing members are "File not found" (callers skip them); a file that is
  // no archive says so.
  EXPECT_EQ(test::caught<OpenFileError>([&] { UnzipReader missing(archive, "modules/Nope/filelist.json"); }),
            "open(\"modules/Nope/filelist.json\"): File not found #4294967295");
  test::writeAll(path, big);
  EXPECT_EQ(test::caught<OpenFileError>([&] { UnzipFile archive(path); }),
            "open(\"" + toUtf8(path) + "\"): not a zip archive #4294967295");
}

// Sizes an archive claims are hints: a member whose data ends early is a read
// error at its end. The system's library cannot take sizes from a zip64
// extra field, so a member of 4 GiB or more is refused before any read, with
// an error that is not "File not found" (callers skip missing members).
TEST_F(ZipTest, ClaimedSizesAndMembersOver4GiB) {
  NX_POSIX_ONLY("the standard tools (gzip, sha256sum, openssl, unzip) through /bin/sh as judges");
  test::HandmadeMember liar = test::deflatedMember("liar.json", small);
  liar.declaredSize = 0xFFFFFFFEu;
  test::HandmadeMember huge = test::zeroMember("huge.bin", 4097);  // 4 GiB + 1 MiB of zeros
  ASSERT_TRUE(huge.zip64 && huge.deflated.size() < (32u << 20));
  test::writeAll(path, test::handmadeZip({liar, huge, test::deflatedMember("fine.json", big)}));
  UnzipFile archive(path);
  EXPECT_EQ(readMember(archive, "fine.json"), big);
  {
    UnzipReader reader(archive, "liar.json");
    EXPECT_EQ(reader.size(), 0xFFFFFFFEu);
    char buffer[100];
    EXPECT_EQ(test::caught([&] { reader.read(buffer, sizeof buffer); }),
              "unzReadCurrentFile failed #" + std::to_string(static_cast<uint32_t>(UNZ_BADZIPFILE)));
  }
  try {
    UnzipReader reader(archive, "huge.bin");
    ADD_FAILURE() << "opened";
  } catch (const IOError& e) {
    EXPECT_FALSE(dynamic_cast<const OpenFileError*>(&e)) << "reported as missing";
    EXPECT_EQ(test::described(e),
              "open(\"huge.bin\"): zip64 sizes (a member of 4 GiB or more) are not supported #4294967295");
  }
  EXPECT_EQ(readMember(archive, "fine.json"), big);  // the archive is idle again
  // Only the packed size in the zip64 field: refused all the same.
  test::HandmadeMember packed64 = test::deflatedMember("p.json", small);
  packed64.zip64 = true;
  std::string bytes = test::handmadeZip({packed64});
  bytes.replace(bytes.find("PK\x01\x02") + 24, 4, std::string("\x0e\0\0\0", 4));  // the real size, 14 bytes
  test::writeAll(dir.file(L"p.zip"), bytes);
  EXPECT_PRED2(test::contains,
               test::caught([&] { UnzipReader(*std::make_unique<UnzipFile>(dir.file(L"p.zip")), "p.json"); }),
               "zip64 sizes");
}

}  // namespace
}  // namespace nx
