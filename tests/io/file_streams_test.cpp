// The writers and readers of files and streams: files, gunzip, SHA-256.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "base/system_error_text.h"
#include "io/file_reader.h"
#include "io/file_writer.h"
#include "io/gunzip_writer.h"
#include "io/sha256_compress.h"
#include "io/sha256_writer.h"
#include "io/zip_archive.h"
#include "io_test_util.h"
#include "support/full_device.h"
#include "support/open_handles.h"
#include "support/platform.h"
#include "support/temp_folder.h"
#include "sys/errors.h"
#include "sys/files.h"

namespace nx {
namespace {

std::string systemForm(const std::string& op, const std::wstring& path, uint32_t number) {
  return op + "(\"" + toUtf8(path) + "\"): (" + std::to_string(number) + ") " + systemErrorText(number);
}

TEST(FileWriterTest, KeepsOnlyClosedFilesAndTruncatesOnCreate) {
  test::TempFolder dir;
  std::wstring path = dir.file(L"out.bin"), missing = dir.file(L"missing/out.bin");
  test::writeAll(path, "old content");
  {
    FileWriter w(path);
    EXPECT_EQ(test::readAll(path), "");  // truncated at once
    w.write("hello", 5), w.write(" world", 6);
    EXPECT_TRUE(w.written == 11 && !w.failed);
  }
  EXPECT_FALSE(sys::exists(path));  // every write succeeded, but never closed
  {
    FileWriter w(path);
    w.write("kept", 4), w.close(), w.close();
    w.write("ignored", 7);
    EXPECT_EQ(w.written, 4u);
  }
  EXPECT_EQ(test::readAll(path), "kept");
  EXPECT_EQ(test::caught([&] { FileWriter w(missing); }), systemForm("create", missing, sys::fileNotFound) + " #0");
  // A non-ASCII path and a code the system has no text for.
  EXPECT_EQ(test::described(OpenFileError(L"\u00e9t\u00e9.db", 123456789u)),
            "open(\"\xc3\xa9t\xc3\xa9.db\"): (123456789) ? Error #123456789");

  // A full disk.
  const test::FullDevice full = test::fullDevice(dir.file(L"full"));
  if (full.path.empty()) return;  // no always-full device on this system
  {
    FileWriter w(full.path);
    EXPECT_EQ(test::caught([&] { w.write(std::string(1000, 'x').data(), 1000); }),
              systemForm("write", full.path, sys::diskFull) + " #0");
    EXPECT_TRUE(w.failed && w.written == 0);
    if (!full.ownNode) w.close();
  }
  EXPECT_TRUE(!full.ownNode || sys::exists(full.path)) << "an unclosed writer removed a device node";
}

TEST(ReadFileToWriterTest, ChunksCancelAndFailures) {
  test::TempFolder dir;
  std::wstring path = dir.file(L"in.bin"), missing = dir.file(L"nope.bin");
  // An exact multiple of the chunk needs one more read, which returns 0.
  for (auto [size, expectedAsks] : {std::pair<size_t, uint64_t>{0, 1}, {65536, 2}, {131073, 3}}) {
    std::string content = test::randomBytes(size), got;
    test::writeAll(path, content);
    StringWriter out(got);
    uint64_t reported = 99, time = 0, asks = 0;
    sys::FileInfo info;
    EXPECT_TRUE(readFileToWriter(
        path, out, [&] { return ++asks, false; }, &reported, &time));
    EXPECT_TRUE(got == content && reported == size && asks == expectedAsks) << size << " asked " << asks;
    EXPECT_TRUE(sys::fileInfo(path, &info) && time == info.writeTime);
  }
  // Cancelled at once: nothing written, size 0, time still reported; later: whole chunks.
  std::string got;
  StringWriter out(got);
  uint64_t size = 99, time = 0, asks = 0;
  EXPECT_FALSE(readFileToWriter(
      path, out, [] { return true; }, &size, &time));
  EXPECT_TRUE(got.empty() && size == 0 && time != 0);
  EXPECT_FALSE(readFileToWriter(
      path, out, [&] { return ++asks > 1; }, &size));
  EXPECT_EQ(size, 65536u);

  // Failures close the file.
  auto before = test::openHandleCount();
  struct Broken : std::exception {};
  struct Throwing : Writer {
    void write(const void*, size_t) override { throw Broken(); }
  } throwing;
  EXPECT_THROW(readFileToWriter(path, throwing, neverCancelled), Broken);
  EXPECT_EQ(test::caught<OpenFileError>([&] { readFileToWriter(missing, nullWriter, neverCancelled); }),
            systemForm("open", missing, sys::fileNotFound) + " #" + std::to_string(sys::fileNotFound));
  EXPECT_THROW(FileReader{dir.path()}, OpenFileError);  // a folder is not a file
  if (!test::onWindows && sys::exists(L"/proc/self/mem")) {                 // a regular file that fails to read at offset 0
    EXPECT_PRED2(test::contains, test::caught([] { readFileToWriter(L"/proc/self/mem", nullWriter, neverCancelled); }),
                 "read(\"/proc/self/mem\"): (5) ");
  }
  EXPECT_EQ(test::openHandleCount(), before);
}

// An empty write, null pointer included, is no write at all, for every writer
// (the sanitizer build aborts on a null pointer handed to memcpy).
TEST(WritersTest, EveryWriterTakesAnEmptyWrite) {
  test::TempFolder dir;
  std::string text;
  StringWriter string(text);
  Sha256Writer sha(string);
  GunzipWriter gunzip(sha);
  SplitWriter split(gunzip, nullWriter);
  FileWriter file(dir.file(L"empty.bin"));
  ZipFile archive(dir.file(L"empty.zip"));
  ZipWriter member(archive, "m");
  for (Writer* w : std::initializer_list<Writer*>{&split, &gunzip, &sha, &string, &file, &member, &nullWriter})
    w->write(nullptr, 0);
  EXPECT_TRUE(text.empty() && file.written == 0);
}

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

// Beyond 512 MiB the bit count no
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
  Sha256Writer w;
  uint64_t size = 0;
  ASSERT_TRUE(readFileToWriter(path, w, neverCancelled, &size));
  EXPECT_EQ(size, 600ull << 20);
  std::string digest;
  EXPECT_EQ(w.finish(digest), test::toolDigestOf(path, "openssl dgst -sha256 -r"));
}

}  // namespace
}  // namespace nx
