#include "io/sha256_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "io/file_reader.h"
#include "io/sha256_compress.h"
#include "io_test_util.h"
#include "support/temp_folder.h"

namespace nx {
namespace {

std::string digestOf(const std::string& data, size_t piece = 0) {
  Sha256Writer w;
  if (piece == 0) {
    w.write(data.data(), data.size());
  } else {
    for (size_t i = 0; i < data.size(); i += piece) w.write(data.data() + i, std::min(piece, data.size() - i));
  }
  std::string digest;
  return w.finish(digest);
}

// Runs every case on the portable path and, where the CPU has them, on the
// SHA extensions.
class Sha256Test : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (!GetParam() && !sha256::cpuHasShaExtensions()) GTEST_SKIP() << "no SHA extensions on this CPU";
    sha256::forcePortable(GetParam());
  }
  void TearDown() override { sha256::forcePortable(false); }
};

TEST_P(Sha256Test, StandardVectors) {
  EXPECT_EQ(digestOf(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(digestOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(digestOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(digestOf("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu"),
            "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
  std::string million(1000000, 'a');
  EXPECT_EQ(digestOf(million), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  EXPECT_EQ(digestOf(million, 1000), digestOf(million));
}

TEST_P(Sha256Test, PaddingBoundariesMatchSha256sum) {
  test::TempFolder dir;
  std::wstring path = dir.file(L"data.bin");
  for (size_t size : {55, 56, 63, 64, 65, 119, 120, 127, 128}) {
    std::string data = test::randomBytes(size, static_cast<uint32_t>(size));
    test::writeWholeFile(path, data);
    std::string expected = test::sha256sumOf(path);
    ASSERT_EQ(expected.size(), 64u);
    EXPECT_EQ(digestOf(data), expected) << size;
    EXPECT_EQ(digestOf(data, 1), expected) << size << " byte by byte";
  }
  // Odd pieces that straddle block boundaries in every way.
  std::string data = test::randomBytes(300007);
  test::writeWholeFile(path, data);
  EXPECT_EQ(digestOf(data, 37), test::sha256sumOf(path));
  EXPECT_EQ(digestOf(data, 65536), test::sha256sumOf(path));
}

INSTANTIATE_TEST_SUITE_P(Paths, Sha256Test, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Portable" : "ShaExtensions"; });

TEST(Sha256WriterTest, ForwardsBytesAndFormatsHex) {
  std::string passed;
  StringWriter sink(passed);
  Sha256Writer w(sink);
  w.write("ab", 2);
  w.write("c", 1);
  EXPECT_EQ(passed, "abc");
  const unsigned char bytes[] = {0x00, 0xAB, 0xFF};
  EXPECT_EQ(hexLower(bytes, 3), "00abff");
}

// Beyond 512 MiB the bit count no longer fits 32 bits; digests must still be
// the standard ones. A sparse file keeps this cheap on disk.
TEST(Sha256WriterTest, LargeSparseFileMatchesStandardTool) {
  test::TempFolder dir;
  std::wstring path = dir.file(L"sparse.bin");
  std::string native = toUtf8(path);
  test::writeWholeFile(path, "head");
  ASSERT_EQ(::truncate(native.c_str(), 600ll << 20), 0);
  {
    FILE* f = std::fopen(native.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fseek(f, (600l << 20) - 3, SEEK_SET);
    std::fwrite("end", 1, 3, f);
    std::fclose(f);
  }
  Sha256Writer w;
  uint64_t size = 0;
  ASSERT_TRUE(readFileToWriter(path, w, neverCancelled, &size));
  EXPECT_EQ(size, 600ull << 20);
  std::string digest;
  EXPECT_EQ(w.finish(digest), test::opensslDigestOf(path));
}

}  // namespace
}  // namespace nx
