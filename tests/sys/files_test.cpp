#include "sys/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/temp_folder.h"
#include "sys/clock.h"
#include "sys/errors.h"
#include "sys/process.h"

namespace nx::sys {
namespace {

namespace fs = std::filesystem;

void put(const std::wstring& path, const std::string& content) {
  std::ofstream(fs::path(path), std::ios::binary) << content;
}
std::string get(const std::wstring& path) {
  std::ifstream in{fs::path(path), std::ios::binary};
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(SysFiles, FoldersAreCreatedWithParentsAndListed) {
  test::TempFolder t;
  EXPECT_TRUE(createFolders(t.file(L"a\\b/c/")));  // either separator
  EXPECT_TRUE(createFolders(t.file(L"a/b/c")));    // already there
  EXPECT_FALSE(createFolder(t.file(L"a")));
  EXPECT_EQ(lastError(), alreadyExists);
  put(t.file(L"a/f"), "x");
  EXPECT_FALSE(createFolders(t.file(L"a/f/g")));  // a file in the way
  std::vector<FolderEntry> entries;
  ASSERT_TRUE(listFolder(t.file(L"a"), &entries));
  std::sort(entries.begin(), entries.end(), [](auto& x, auto& y) { return x.name < y.name; });
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, L"b");
  EXPECT_TRUE(entries[0].isFolder);
  EXPECT_EQ(entries[1].name, L"f");
  EXPECT_FALSE(entries[1].isFolder);
  EXPECT_FALSE(listFolder(t.file(L"none"), &entries));
  EXPECT_EQ(lastError(), fileNotFound);
}

TEST(SysFiles, MoveNeverOverwritesReplaceDoes) {
  test::TempFolder t;
  put(t.file(L"a"), "A");
  put(t.file(L"b"), "B");
  EXPECT_FALSE(moveFile(t.file(L"a"), t.file(L"b")));
  EXPECT_EQ(lastError(), alreadyExists);
  EXPECT_EQ(get(t.file(L"a")), "A");
  EXPECT_EQ(get(t.file(L"b")), "B");
  EXPECT_TRUE(moveFile(t.file(L"a"), t.file(L"c")));
  EXPECT_TRUE(replaceFile(t.file(L"c"), t.file(L"b")));
  EXPECT_EQ(get(t.file(L"b")), "A");
  EXPECT_FALSE(exists(t.file(L"c")));
}

TEST(SysFiles, InfoGivesSizeAndFileTime) {
  test::TempFolder t;
  uint64_t before = fileTimeNow();
  put(t.file(L"f"), "12345");
  FileInfo info;
  ASSERT_TRUE(fileInfo(t.file(L"f"), &info));
  EXPECT_TRUE(info.exists);
  EXPECT_FALSE(info.isFolder);
  EXPECT_EQ(info.size, 5u);
  // Within a second of the clock (file systems keep coarser times).
  EXPECT_GE(info.writeTime + 10000000, before);
  EXPECT_LE(info.writeTime, fileTimeNow() + 10000000);
  Handle h = openRead(t.file(L"f"));
  uint64_t viaHandle = 0;
  ASSERT_TRUE(fileTime(h, &viaHandle));
  close(h);
  EXPECT_EQ(viaHandle, info.writeTime);
  EXPECT_FALSE(fileInfo(t.file(L"none"), &info));
  EXPECT_FALSE(info.exists);
  EXPECT_EQ(lastError(), fileNotFound);
}

TEST(SysFiles, AppendWritesAtTheEndThroughEveryHandle) {
  test::TempFolder t;
  put(t.file(L"log"), "0");
  Handle a = openAppend(t.file(L"log")), b = openAppend(t.file(L"log"));
  size_t n;
  ASSERT_TRUE(write(a, "a", 1, &n));
  ASSERT_TRUE(write(b, "b", 1, &n));
  ASSERT_TRUE(write(a, "c", 1, &n));
  close(a);
  close(b);
  EXPECT_EQ(get(t.file(L"log")), "0abc");
}

TEST(SysProcess, StartsProgramsWaitingOrDetached) {
  test::TempFolder t;
  uint32_t code = 0;
  ASSERT_TRUE(startProcess({L"/bin/sh", L"-c", L"exit 3"}, true, &code));
  EXPECT_EQ(code, 3u);
  EXPECT_FALSE(startProcess({t.file(L"no-such-program")}, true, &code));
  EXPECT_EQ(lastError(), fileNotFound);
  // Detached: returns at once; the child still runs to its end.
  ASSERT_TRUE(startProcess({L"/bin/sh", L"-c", L"sleep 0.2; echo done > \"$0\"", t.file(L"out")}, false));
  EXPECT_FALSE(exists(t.file(L"out")));
  for (int i = 0; i < 500 && get(t.file(L"out")) != "done\n"; ++i) sleepMs(10);
  EXPECT_EQ(get(t.file(L"out")), "done\n");
}

}  // namespace
}  // namespace nx::sys
