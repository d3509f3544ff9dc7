#include "io/gunzip_writer.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "io_test_util.h"
#include "support/platform.h"
#include "support/temp_folder.h"

namespace nx {
namespace {

// Collects the output and checks that no block handed over exceeds 64 KiB.
struct Collect : Writer {
  std::string bytes;
  void write(const void* data, size_t size) override {
    EXPECT_LE(size, 65536u);
    bytes.append(static_cast<const char*>(data), size);
  }
};

// Output of a GunzipWriter given these writes, each split into pieces.
std::string gunzip(std::initializer_list<std::string> writes, size_t piece = 65536) {
  Collect out;
  GunzipWriter w(out);
  for (const std::string& data : writes) {
    if (data.empty()) w.write("", 0);
    for (size_t i = 0; i < data.size(); i += piece) w.write(data.data() + i, std::min(piece, data.size() - i));
  }
  return out.bytes;
}

// Real gzip data, made by the gzip tool.
class GunzipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    NX_POSIX_ONLY("the standard tools (gzip, sha256sum, openssl, unzip) through /bin/sh as judges");
    test::writeAll(dir.file(L"plain.txt"), original);
    gz = test::runCommand("gzip -6 -c " + test::quoted(dir.file(L"plain.txt")));
    ASSERT_TRUE(gz.size() > 20 && gz.size() < original.size());
  }
  test::TempFolder dir;
  std::string original = test::randomBytes(300000, 8), gz;
};

TEST_F(GunzipTest, DecodesPassesThroughDropsTrailingBytes) {
  for (size_t piece : {size_t{2}, size_t{13}, size_t{65536}, gz.size()})
    EXPECT_EQ(gunzip({gz}, piece), original) << piece;
  EXPECT_EQ(gunzip({"", gz}), gz);  // a first write of 0 or 1 byte settles pass-through
  EXPECT_EQ(gunzip({gz}, 1), gz);
  std::string plain = "{\"json\": true}\x1f\x8b";
  EXPECT_EQ(gunzip({plain, gz}), plain + gz);
  // Only both magic bytes make gzip: plain data may start with the first.
  const std::string oneMagic = "\x1f" + original.substr(0, 1000), otherSecond = "\x1f\x8c" + original.substr(0, 10);
  EXPECT_EQ(gunzip({oneMagic}), oneMagic);
  EXPECT_EQ(gunzip({otherSecond, gz}), otherSecond + gz);
  EXPECT_EQ(gunzip({gz + gz + "trailing garbage", "more"}), original);  // only the first member
  const std::string cut = gunzip({gz.substr(0, gz.size() / 2)});        // a truncated stream is quietly shorter
  EXPECT_TRUE(cut.size() < original.size() && cut == original.substr(0, cut.size()));
}

TEST_F(GunzipTest, CorruptDataRaisesGzipError) {
  std::string body = gz, badHeader = gz, badCheck = gz;
  for (size_t i = 100; i < 120; ++i) body[i] = static_cast<char>(~body[i]);
  badHeader[2] = 7;              // not deflate
  badCheck[gz.size() - 6] ^= 1;  // CRC-32 in the trailer
  for (const std::string* data : {&body, &badHeader, &badCheck}) {
    std::string e = test::caught<GzipError>([&] { gunzip({*data}); });
    EXPECT_TRUE(e.starts_with("inflate: (4294967293) ") && e.ends_with(" #4294967295")) << e;
  }
  for (auto [error, text] :
       {std::pair{GzipError("inflate", -42, nullptr), "inflate: (4294967254) unknown error"},
        {GzipError("inflateInit2", Z_MEM_ERROR, nullptr), "inflateInit2: (4294967292) insufficient memory"}})
    EXPECT_STREQ(error.what(), text);
}

}  // namespace
}  // namespace nx
