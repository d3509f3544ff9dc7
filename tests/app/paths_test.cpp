#include "app/paths.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace nx {
namespace {

TEST(Paths, JoinInsertsOneNativeSeparatorOnlyWhereNeeded) {
  EXPECT_EQ(joinPath(L"/x", L"y"), L"/x/y");
  EXPECT_EQ(joinPath(L"/x/", L"y"), L"/x/y");
  EXPECT_EQ(joinPath(L"/x", L"/y"), L"/x/y");
  EXPECT_EQ(joinPath(L"C:\\x\\", L"y"), L"C:\\x\\y");
  EXPECT_EQ(joinPath(L"C:\\x", L"\\y"), L"C:\\x\\y");
  EXPECT_EQ(joinPath(L"/x/", L"/y"), L"/x//y");  // no folding
  EXPECT_EQ(joinPath(L"", L"y"), L"y");
  EXPECT_EQ(joinPath(L"/x", L""), L"/x/");
  EXPECT_EQ(joinPath(L"", L""), L"");
  EXPECT_EQ(joinPath(L"/x", std::string("\xC3\xA9")), L"/x/\u00E9");
  EXPECT_EQ(joinPath(L"/x", std::string("\xFF")), L"/x/#utf8_error");
}

TEST(Paths, ParentFolderKeepsItsSeparatorAndSkipsATrailingOne) {
  EXPECT_EQ(parentFolder(L"/a/b.exe"), L"/a/");
  EXPECT_EQ(parentFolder(L"/a/"), L"/");
  EXPECT_EQ(parentFolder(L"/"), L"");
  EXPECT_EQ(parentFolder(L"C:\\a\\b.exe"), L"C:\\a\\");
  EXPECT_EQ(parentFolder(L"C:\\a\\"), L"C:\\");
  EXPECT_EQ(parentFolder(L"C:\\"), L"");
  EXPECT_EQ(parentFolder(L"a/"), L"");
  EXPECT_EQ(parentFolder(L"name"), L"");
  EXPECT_EQ(parentFolder(L""), L"");
}

TEST(Paths, FileNamePartTakesWhatFollowsEitherSeparator) {
  EXPECT_EQ(fileNamePart(L"/a/b.txt"), L"b.txt");
  EXPECT_EQ(fileNamePart(L"a/b\\c"), L"c");
  EXPECT_EQ(fileNamePart(L"plain"), L"plain");
  EXPECT_EQ(fileNamePart(L"/a/"), L"");
  EXPECT_EQ(fileNamePart(std::string("x\\y/z.db")), "z.db");
  EXPECT_EQ(fileNamePart(std::string("z")), "z");
}

TEST(Paths, ProgramAndCurrentFolder) {
  namespace fs = std::filesystem;
  EXPECT_EQ(fileNamePart(executablePath()), L"app_tests");
  std::wstring folder = executableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), L'/');
  EXPECT_TRUE(fs::equivalent(fs::path(folder), fs::path(NX_BUILD_DIR)));
  EXPECT_EQ(currentFolder(), fs::current_path().wstring());
}

}  // namespace
}  // namespace nx
