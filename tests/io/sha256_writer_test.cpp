#include "io/sha256_writer.h"

#include <gtest/gtest.h>

#include <vector>

#include "io/file_reader.h"
#include "io/sha256_compress.h"
#include "io_test_util.h"
#include "support/platform.h"
#include "support/temp_folder.h"

namespace nx {
namespace {

// Digest of data fed whole (piece 0) or in pieces of the given size.
std::string digestOf(const std::string& data, size_t piece = 0) {
  Sha256Writer w;
  piece = piece ? piece : data.size() + 1;
  for (size_t i = 0; i < data.size(); i += piece) w.write(data.data() + i, std::min(piece, data.size() - i));
  std::string digest;
  return w.finish(digest);
}

TEST(Sha256WriterTest, StandardVectorsAndBlockBoundaries) {
  NX_POSIX_ONLY("the standard tools (gzip, sha256sum, openssl, unzip) through /bin/sh as judges");
  std::vector<std::pair<std::string, std::string>> cases = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}};
  // Sizes around the padding boundaries, checked against sha256sum.
  test::TempFolder dir;
  for (size_t size : {55, 56, 63, 64, 65, 119, 120, 127, 128, 300007}) {
    test::writeAll(dir.file(L"data.bin"), test::randomBytes(size));
    cases.emplace_back(test::randomBytes(size), test::toolDigestOf(dir.file(L"data.bin")));
  }
  // On the portable path, then on the SHA extensions where the CPU has them.
  for (bool portable : {true, false}) {
    sha256::forcePortable(portable);
    for (const auto& [data, expected] : cases) {
      EXPECT_EQ(digestOf(data), expected) << data.size() << (portable ? " portable" : "");
      EXPECT_EQ(digestOf(data, data.size() > 1000 ? 37 : 1), expected) << data.size() << " in pieces";
    }
  }
}

// Bytes pass through to the next writer. Beyond 512 MiB the bit count no
// longer fits 32 bits; digests must still be the standard ones. A sparse file
// keeps this cheap on disk.
TEST(Sha256WriterTest, ForwardsAndHashesPast512MiB) {
  NX_POSIX_ONLY("the standard tools (gzip, sha256sum, openssl, unzip) through /bin/sh as judges");
  test::TempFolder dir;
  std::wstring path = dir.file(L"sparse.bin");
  {
    std::ofstream f(toUtf8(path), std::ios::binary);
    f << "head";
    f.seekp((600ll << 20) - 3) << "end";
  }
  std::string passed;
  StringWriter sink(passed);
  Sha256Writer(sink).write("abc", 3);
  EXPECT_EQ(passed, "abc");

  Sha256Writer w;
  uint64_t size = 0;
  ASSERT_TRUE(readFileToWriter(path, w, neverCancelled, &size));
  EXPECT_EQ(size, 600ull << 20);
  std::string digest;
  EXPECT_EQ(w.finish(digest), test::toolDigestOf(path, "openssl dgst -sha256 -r"));
}

}  // namespace
}  // namespace nx
