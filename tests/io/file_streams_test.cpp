#include <gtest/gtest.h>

#include <filesystem>

#include "base/system_error_text.h"
#include "io/file_reader.h"
#include "io/file_writer.h"
#include "io/gunzip_writer.h"
#include "io/sha256_writer.h"
#include "io/zip_archive.h"
#include "io_test_util.h"
#include "support/full_device.h"
#include "support/open_handles.h"
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
  if (sys::exists(L"/proc/self/mem")) {                 // a regular file that fails to read at offset 0
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
  std::string digest;
  EXPECT_EQ(sha.finish(digest), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_TRUE(text.empty() && file.written == 0);
  MemoryReader source("ab", 2);
  char buffer[4];
  EXPECT_TRUE(source.read(buffer, 0) == 0 && source.read(buffer, 4) == 2 && source.read(buffer, 4) == 0);
}

}  // namespace
}  // namespace nx
