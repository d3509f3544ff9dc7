#include "sys/files.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/temp_folder.h"
#include "sys/clock.h"
#include "sys/errors.h"
#include "sys/process.h"

namespace nx::sys {
namespace {

TEST(SysFiles, FoldersAreCreatedWithParentsAndListed) {
  test::TempFolder t;
  EXPECT_TRUE(createFolders(t.file(L"a\\b/c/")));  // either separator
  EXPECT_TRUE(createFolders(t.file(L"a/b/c")));    // already there
  EXPECT_FALSE(createFolder(t.file(L"a")));
  EXPECT_EQ(lastError(), alreadyExists);
  t.write(L"a/f", "x");
  EXPECT_FALSE(createFolders(t.file(L"a/f/g")));  // a file in the way
  std::vector<FolderEntry> entries;
  ASSERT_TRUE(listFolder(t.file(L"a"), &entries));
  std::vector<std::wstring> names;  // folders marked with a trailing '/'
  for (const auto& e : entries) names.push_back(e.name + (e.isFolder ? L"/" : L""));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"b/", L"f"}));
  EXPECT_FALSE(listFolder(t.file(L"none"), &entries));
  EXPECT_EQ(lastError(), fileNotFound);
}

TEST(SysFiles, MoveNeverOverwritesReplaceDoesAndInfoGivesSizeAndTime) {
  test::TempFolder t;
  uint64_t before = fileTimeNow();
  t.write(L"a", "A");
  t.write(L"b", "B");
  EXPECT_FALSE(moveFile(t.file(L"a"), t.file(L"b")));
  EXPECT_EQ(lastError(), alreadyExists);
  EXPECT_EQ(t.read(L"a") + t.read(L"b"), "AB");
  EXPECT_TRUE(moveFile(t.file(L"a"), t.file(L"c")));
  EXPECT_TRUE(replaceFile(t.file(L"c"), t.file(L"b")));
  EXPECT_EQ(t.read(L"b"), "A");
  FileInfo info;
  EXPECT_FALSE(fileInfo(t.file(L"c"), &info) || info.exists);
  EXPECT_EQ(lastError(), fileNotFound);
  ASSERT_TRUE(fileInfo(t.file(L"b"), &info));
  EXPECT_TRUE(info.exists && !info.isFolder && info.size == 1u);
  // Within a second of the clock (file systems keep coarser times).
  EXPECT_GE(info.writeTime + 10000000, before);
  EXPECT_LE(info.writeTime, fileTimeNow() + 10000000);
}

TEST(SysProcess, StartsProgramsWaitingOrDetached) {
  test::TempFolder t;
  uint32_t code = 0;
  EXPECT_TRUE(startProcess({L"/bin/sh", L"-c", L"exit 3"}, true, &code) && code == 3u);
  EXPECT_FALSE(startProcess({t.file(L"no-such-program")}, true, &code));
  EXPECT_EQ(lastError(), fileNotFound);
  // Detached: the child writes only once the file "go", made after the call
  // returned, is there; a call that waited would leave nothing.
  const wchar_t* script = L"for i in $(seq 500); do [ -e \"$0\" ] && echo done > \"$1\" && exit; sleep 0.01; done";
  ASSERT_TRUE(startProcess({L"/bin/sh", L"-c", script, t.file(L"go"), t.file(L"out")}, false));
  t.write(L"go", "");
  for (int i = 0; i < 1000 && t.read(L"out") != "done\n"; ++i) sleepMs(10);
  EXPECT_EQ(t.read(L"out"), "done\n");
}

}  // namespace
}  // namespace nx::sys
