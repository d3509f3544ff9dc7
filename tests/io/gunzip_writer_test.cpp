#include "io/gunzip_writer.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "io/file_reader.h"
#include "io/sha256_writer.h"
#include "io_test_util.h"
#include "support/temp_folder.h"

namespace nx {
namespace {

// Collects the output and remembers the largest block handed over.
struct Collect : Writer {
  std::string bytes;
  size_t largest = 0;
  void write(const void* data, size_t size) override {
    bytes.append(static_cast<const char*>(data), size);
    largest = std::max(largest, size);
  }
};

void feed(GunzipWriter& w, const std::string& data, size_t piece) {
  for (size_t i = 0; i < data.size(); i += piece) w.write(data.data() + i, std::min(piece, data.size() - i));
}

// Real gzip data, made by the gzip tool.
class GunzipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    original = test::sampleText(300000);
    test::writeWholeFile(dir.file(L"plain.txt"), original);
    test::runCommand("gzip -6 -c " + test::quoted(dir.file(L"plain.txt")) + " > " + test::quoted(dir.file(L"plain.gz")));
    gz = test::readWholeFile(dir.file(L"plain.gz"));
    ASSERT_GT(gz.size(), 20u);
    ASSERT_LT(gz.size(), original.size());
  }
  test::TempFolder dir;
  std::string original, gz;
};

TEST_F(GunzipTest, DecodesGzipToolOutputInAnyPieces) {
  for (size_t piece : {size_t{2}, size_t{13}, size_t{4096}, size_t{65536}, gz.size()}) {
    Collect out;
    GunzipWriter w(out);
    feed(w, gz, piece);
    EXPECT_EQ(out.bytes, original) << piece;
    EXPECT_LE(out.largest, 65536u);
    EXPECT_EQ(w.mode, 1);
  }
}

TEST_F(GunzipTest, ChainFromFileToDigest) {
  Sha256Writer hash;
  GunzipWriter gunzip(hash);
  ASSERT_TRUE(readFileToWriter(dir.file(L"plain.gz"), gunzip, neverCancelled));
  std::string digest;
  EXPECT_EQ(hash.finish(digest), test::sha256sumOf(dir.file(L"plain.txt")));
}

TEST_F(GunzipTest, PassThroughDecidedOnFirstWrite) {
  {
    Collect out;  // a first write of 0 or 1 byte settles pass-through
    GunzipWriter w(out);
    w.write("", 0);
    w.write(gz.data(), gz.size());
    EXPECT_EQ(out.bytes, gz);
    EXPECT_EQ(w.mode, 2);
  }
  {
    Collect out;
    GunzipWriter w(out);
    feed(w, gz, 1);
    EXPECT_EQ(out.bytes, gz);
  }
  {
    Collect out;
    GunzipWriter w(out);
    std::string plain = "{\"json\": true}\x1f\x8b";
    w.write(plain.data(), plain.size());
    w.write(gz.data(), gz.size());
    EXPECT_EQ(out.bytes, plain + gz);
  }
}

TEST_F(GunzipTest, TrailingBytesVanishAndTruncationIsQuiet) {
  {
    Collect out;
    GunzipWriter w(out);
    std::string withTail = gz + gz + "trailing garbage";
    feed(w, withTail, 65536);
    w.write("more", 4);
    EXPECT_EQ(out.bytes, original);  // only the first member
  }
  {
    Collect out;
    GunzipWriter w(out);
    std::string cut = gz.substr(0, gz.size() / 2);
    EXPECT_NO_THROW(feed(w, cut, 65536));
    EXPECT_LT(out.bytes.size(), original.size());
    EXPECT_EQ(out.bytes, original.substr(0, out.bytes.size()));
  }
}

TEST_F(GunzipTest, CorruptDataRaisesGzipError) {
  std::string body = gz;
  for (size_t i = 100; i < 120; ++i) body[i] = static_cast<char>(~body[i]);
  std::string badHeader = gz;
  badHeader[2] = 7;  // not deflate
  std::string badCheck = gz;
  badCheck[gz.size() - 6] ^= 1;  // CRC-32 in the trailer
  for (const std::string* data : {&body, &badHeader, &badCheck}) {
    Collect out;
    GunzipWriter w(out);
    test::Caught e = test::caught<GzipError>([&] { feed(w, *data, 65536); });
    EXPECT_EQ(e.message.rfind("inflate: (4294967293) ", 0), 0u) << e.message;
    EXPECT_EQ(e.code, IOError::kNoCode);
  }
}

TEST(GzipErrorTest, MessageForms) {
  EXPECT_STREQ(GzipError("inflate", Z_DATA_ERROR, "invalid block type").what(),
               "inflate: (4294967293) invalid block type");
  EXPECT_STREQ(GzipError("inflateInit2", Z_MEM_ERROR, nullptr).what(), "inflateInit2: (4294967292) insufficient memory");
  EXPECT_STREQ(GzipError("inflate", -42, nullptr).what(), "inflate: (4294967254) unknown error");
}

}  // namespace
}  // namespace nx
