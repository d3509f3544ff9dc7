#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <vector>

#include "app/system_error_text.h"
#include "io/file_reader.h"
#include "io/file_writer.h"
#include "io_test_util.h"
#include "support/temp_folder.h"
#include "sys/errors.h"
#include "sys/files.h"

namespace nx {
namespace {

using test::caught;
using test::readWholeFile;
using test::writeWholeFile;

// Records every block it receives.
struct RecordingWriter : Writer {
  std::vector<size_t> sizes;
  std::string bytes;
  void write(const void* data, size_t size) override {
    sizes.push_back(size);
    bytes.append(static_cast<const char*>(data), size);
  }
};

std::string systemForm(const std::string& op, const std::wstring& path, uint32_t number) {
  return op + "(\"" + toUtf8(path) + "\"): (" + std::to_string(number) + ") " + systemErrorText(number);
}

size_t openDescriptors() {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

TEST(IOErrorTest, MessageForms) {
  IOError numbered(L"create", L"C:\\x\\y.txt", 2u);
  EXPECT_EQ(numbered.what(), systemForm("create", L"C:\\x\\y.txt", 2));
  EXPECT_EQ(numbered.code, 2u);

  sys::setLastError(sys::diskFull);  // code 0: the text of the last error, code stays 0
  IOError fromLast(L"write", L"a", 0u);
  EXPECT_EQ(fromLast.what(), systemForm("write", L"a", sys::diskFull));
  EXPECT_EQ(fromLast.code, 0u);

  IOError detail(L"open", L"modules/x/filelist.json", L"File not found");
  EXPECT_STREQ(detail.what(), "open(\"modules/x/filelist.json\"): File not found");
  EXPECT_EQ(detail.code, 0xFFFFFFFFu);

  OpenFileError open(L"\u00e9t\u00e9.db", 123456789u);
  EXPECT_STREQ(open.what(), "open(\"\xc3\xa9t\xc3\xa9.db\"): (123456789) ? Error");
  EXPECT_EQ(open.code, 123456789u);
}

TEST(FileWriterTest, KeepsOnlyClosedFilesAndTruncatesOnCreate) {
  test::TempFolder dir;
  std::wstring path = dir.file(L"out.bin");
  writeWholeFile(path, "old content");
  {
    FileWriter w(path);
    EXPECT_EQ(readWholeFile(path), "");  // truncated at once
    w.write("hello", 5);
    w.write(" world", 6);
    EXPECT_EQ(w.written, 11u);
    EXPECT_FALSE(w.failed);
  }
  EXPECT_FALSE(sys::exists(path));  // every write succeeded, but never closed
  {
    FileWriter w(path);
    w.write("kept", 4);
    w.close();
    w.close();
    w.write("ignored", 7);
    EXPECT_EQ(w.written, 4u);
  }
  EXPECT_EQ(readWholeFile(path), "kept");

  std::wstring missing = dir.file(L"missing/out.bin");
  test::Caught e = caught([&] { FileWriter w(missing); });
  EXPECT_EQ(e.message, systemForm("create", missing, sys::fileNotFound));
  EXPECT_EQ(e.code, 0u);
}

TEST(FileWriterTest, FullDiskSetsFailedAndLeavesDeviceAlone) {
  // A private node of the full device, so a deletion could not touch /dev.
  test::TempFolder dir;
  std::wstring path = dir.file(L"full");
  bool ownNode = ::mknod(toUtf8(path).c_str(), S_IFCHR | 0600, makedev(1, 7)) == 0;
  if (!ownNode) path = L"/dev/full";
  {
    FileWriter w(path);
    std::string block(1000, 'x');
    EXPECT_EQ(caught([&] { w.write(block.data(), block.size()); }).message, systemForm("write", path, sys::diskFull));
    EXPECT_TRUE(w.failed);
    EXPECT_EQ(w.written, 0u);
    if (!ownNode) w.close();
  }
  if (ownNode) {
    EXPECT_TRUE(sys::exists(path)) << "an unclosed writer removed a device node";
  }
}

TEST(ReadFileToWriterTest, ChunksAndEndOfFile) {
  test::TempFolder dir;
  std::wstring path = dir.file(L"in.bin");
  struct Case {
    size_t size;
    std::vector<size_t> blocks;
    int asks;
  };
  // An exact multiple of the chunk needs one more read, which returns 0.
  for (const Case& c : {Case{0, {}, 1}, Case{100, {100}, 1}, Case{65536, {65536}, 2},
                        Case{131072, {65536, 65536}, 3}, Case{131073, {65536, 65536, 1}, 3}}) {
    std::string content = test::randomBytes(c.size);
    writeWholeFile(path, content);
    RecordingWriter out;
    int asks = 0;
    uint64_t size = 99, time = 0;
    EXPECT_TRUE(readFileToWriter(path, out, [&] { return ++asks, false; }, &size, &time));
    EXPECT_EQ(out.sizes, c.blocks) << c.size;
    EXPECT_EQ(out.bytes, content);
    EXPECT_EQ(size, c.size);
    EXPECT_EQ(asks, c.asks) << c.size;
    sys::FileInfo info;
    ASSERT_TRUE(sys::fileInfo(path, &info));
    EXPECT_EQ(time, info.writeTime);
  }

  // FileReader hands out the same chunks.
  FileReader reader(path);
  std::string got(200000, '\0');
  EXPECT_EQ(reader.read(got.data(), kChunkSize), kChunkSize);
  EXPECT_EQ(reader.read(got.data(), 200000), 131073 - kChunkSize);
  EXPECT_EQ(reader.read(got.data(), 10), 0u);
}

TEST(ReadFileToWriterTest, CancelStopsAndStillReports) {
  test::TempFolder dir;
  std::wstring path = dir.file(L"in.bin");
  writeWholeFile(path, test::randomBytes(200000));
  RecordingWriter out;
  uint64_t size = 99, time = 0;
  EXPECT_FALSE(readFileToWriter(path, out, [] { return true; }, &size, &time));
  EXPECT_TRUE(out.sizes.empty());
  EXPECT_EQ(size, 0u);
  EXPECT_NE(time, 0u);

  int asks = 0;
  EXPECT_FALSE(readFileToWriter(path, out, [&] { return ++asks > 1; }, &size));
  EXPECT_EQ(size, 65536u);
}

TEST(ReadFileToWriterTest, FailuresCloseTheFile) {
  test::TempFolder dir;
  std::wstring path = dir.file(L"in.bin"), missing = dir.file(L"nope.bin");
  writeWholeFile(path, "some bytes");
  struct Broken : std::exception {};
  struct Throwing : Writer {
    void write(const void*, size_t) override { throw Broken(); }
  } throwing;

  size_t before = openDescriptors();
  EXPECT_THROW(readFileToWriter(path, throwing, neverCancelled), Broken);
  test::Caught e = caught<OpenFileError>([&] { readFileToWriter(missing, nullWriter, neverCancelled); });
  EXPECT_EQ(e.message, systemForm("open", missing, sys::fileNotFound));
  EXPECT_EQ(e.code, sys::fileNotFound);
  EXPECT_THROW(FileReader{missing}, OpenFileError);
  EXPECT_THROW(FileReader{dir.path()}, OpenFileError);  // a folder is not a file
  EXPECT_THROW(readFileToWriter(path, nullWriter, std::function<bool()>()), std::bad_function_call);
  EXPECT_EQ(openDescriptors(), before);
}

}  // namespace
}  // namespace nx
