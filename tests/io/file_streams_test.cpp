#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <stdexcept>
#include <vector>

#include "app/system_error_text.h"
#include "io/file_reader.h"
#include "io/file_writer.h"
#include "io/io_error.h"
#include "io_test_util.h"
#include "support/temp_folder.h"
#include "sys/errors.h"
#include "sys/files.h"

namespace nx {
namespace {

using test::readWholeFile;
using test::TempFolder;
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

size_t openDescriptors() {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

TEST(IOErrorTest, MessageForms) {
  IOError numbered(L"create", L"C:\\x\\y.txt", 2u);
  EXPECT_STREQ(numbered.what(), ("create(\"C:\\x\\y.txt\"): (2) " + systemErrorText(2)).c_str());
  EXPECT_EQ(numbered.code, 2u);

  // Code 0 takes the text of the last error but keeps 0.
  sys::setLastError(sys::diskFull);
  IOError fromLast(L"write", L"a", 0u);
  EXPECT_EQ(std::string(fromLast.what()), "write(\"a\"): (" + std::to_string(sys::diskFull) + ") " +
                                              systemErrorText(sys::diskFull));
  EXPECT_EQ(fromLast.code, 0u);

  IOError detail(L"open", L"modules/x/filelist.json", L"File not found");
  EXPECT_STREQ(detail.what(), "open(\"modules/x/filelist.json\"): File not found");
  EXPECT_EQ(detail.code, 0xFFFFFFFFu);

  EXPECT_STREQ(IOError("zipWriteInFileInZip failed", 5).what(), "zipWriteInFileInZip failed");

  OpenFileError open(L"\u00e9t\u00e9.db", 123456789u);
  EXPECT_STREQ(open.what(), "open(\"\xc3\xa9t\xc3\xa9.db\"): (123456789) ? Error");
  EXPECT_EQ(open.code, 123456789u);
  EXPECT_STREQ(OpenFileError(L"m", L"File not found").what(), "open(\"m\"): File not found");
}

TEST(FileWriterTest, KeepsOnlyClosedFilesAndTruncatesOnCreate) {
  TempFolder dir;
  std::wstring path = dir.file(L"out.bin");
  writeWholeFile(path, "old content that is long");
  {
    FileWriter w(path);
    EXPECT_EQ(readWholeFile(path), "");  // truncated at once
    w.write("hello", 5);
    w.write(" world", 6);
    EXPECT_EQ(w.written, 11u);
    EXPECT_FALSE(w.failed);
  }
  // Every write succeeded, but the writer was never closed.
  EXPECT_FALSE(sys::exists(path));

  {
    FileWriter w(path);
    w.write("kept", 4);
    w.close();
    w.close();
    w.write("ignored", 7);
    EXPECT_EQ(w.written, 4u);
  }
  EXPECT_EQ(readWholeFile(path), "kept");

  // A failed rewrite leaves no file at all.
  try {
    FileWriter w(path);
    w.write("x", 1);
    throw std::runtime_error("pipeline broke");
  } catch (const std::runtime_error&) {
  }
  EXPECT_FALSE(sys::exists(path));
}

TEST(FileWriterTest, CreateFailureNamesPathAndError) {
  TempFolder dir;
  std::wstring path = dir.file(L"missing/out.bin");
  try {
    FileWriter w(path);
    FAIL() << "created a file in a missing folder";
  } catch (const IOError& e) {
    EXPECT_EQ(std::string(e.what()), "create(\"" + test::narrowPath(path) + "\"): (" +
                                         std::to_string(sys::fileNotFound) + ") " +
                                         systemErrorText(sys::fileNotFound));
    EXPECT_EQ(e.code, 0u);
  }
}

TEST(FileWriterTest, FullDiskSetsFailedAndLeavesDeviceAlone) {
  // A private node of the full device, so the deletion check cannot touch /dev.
  TempFolder dir;
  std::wstring path = dir.file(L"full");
  bool ownNode = ::mknod(test::narrowPath(path).c_str(), S_IFCHR | 0600, makedev(1, 7)) == 0;
  if (!ownNode) path = L"/dev/full";
  {
    FileWriter w(path);
    std::string block(1000, 'x');
    try {
      w.write(block.data(), block.size());
      FAIL() << "write to a full device succeeded";
    } catch (const IOError& e) {
      std::string expected = "write(\"" + test::narrowPath(path) + "\"): (" + std::to_string(sys::diskFull) + ") " +
                             systemErrorText(sys::diskFull);
      EXPECT_EQ(std::string(e.what()), expected);
    }
    EXPECT_TRUE(w.failed);
    EXPECT_EQ(w.written, 0u);
    if (!ownNode) w.close();
  }
  if (ownNode) {
    EXPECT_TRUE(sys::exists(path)) << "an unclosed writer removed a device node";
  }
}

TEST(ReadFileToWriterTest, ChunksAndEndOfFile) {
  TempFolder dir;
  struct Case {
    size_t size;
    std::vector<size_t> blocks;
    int asks;
  };
  // An exact multiple of the chunk needs one more read, which returns 0.
  const Case cases[] = {{0, {}, 1}, {100, {100}, 1}, {65536, {65536}, 2}, {131072, {65536, 65536}, 3},
                        {131073, {65536, 65536, 1}, 3}};
  for (const Case& c : cases) {
    std::wstring path = dir.file(L"in.bin");
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
}

TEST(ReadFileToWriterTest, CancelStopsAndStillReports) {
  TempFolder dir;
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
  TempFolder dir;
  std::wstring path = dir.file(L"in.bin");
  writeWholeFile(path, "some bytes");
  struct Broken : std::exception {};
  struct Throwing : Writer {
    void write(const void*, size_t) override { throw Broken(); }
  } throwing;

  size_t before = openDescriptors();
  EXPECT_THROW(readFileToWriter(path, throwing, neverCancelled), Broken);
  EXPECT_EQ(openDescriptors(), before);

  std::wstring missing = dir.file(L"nope.bin");
  try {
    readFileToWriter(missing, nullWriter, neverCancelled);
    FAIL();
  } catch (const OpenFileError& e) {
    EXPECT_EQ(e.code, sys::fileNotFound);
    EXPECT_EQ(std::string(e.what()).rfind("open(\"" + test::narrowPath(missing) + "\"): (", 0), 0u);
  }
  EXPECT_THROW(FileReader{missing}, OpenFileError);
  EXPECT_THROW(FileReader{dir.path()}, OpenFileError);  // a folder is not a file
  EXPECT_THROW(readFileToWriter(path, nullWriter, std::function<bool()>()), std::bad_function_call);
  EXPECT_EQ(openDescriptors(), before);
}

TEST(FileReaderTest, ReadsInChunksToTheEnd) {
  TempFolder dir;
  std::wstring path = dir.file(L"in.bin");
  std::string content = test::randomBytes(70000);
  writeWholeFile(path, content);
  FileReader reader(path);
  std::string got(kChunkSize, '\0');
  EXPECT_EQ(reader.read(got.data(), kChunkSize), kChunkSize);
  got.resize(kChunkSize + 10000);
  EXPECT_EQ(reader.read(got.data() + kChunkSize, 10000), 70000 - kChunkSize);
  got.resize(70000);
  EXPECT_EQ(got, content);
  EXPECT_EQ(reader.read(got.data(), 10), 0u);
}

TEST(WritersTest, SplitAndStringForwardUnchanged) {
  std::string a, b;
  StringWriter first(a), second(b);
  SplitWriter split(first, second);
  split.write("ab\0c", 4);
  split.write("", 0);
  EXPECT_EQ(a, std::string("ab\0c", 4));
  EXPECT_EQ(b, a);
}

}  // namespace
}  // namespace nx
