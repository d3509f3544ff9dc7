#include "sys/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "base/paths.h"
#include "base/text.h"
#include "support/temp_folder.h"
#include "sys/clock.h"
#include "sys/errors.h"
#include "sys/no_follow.h"
#include "sys/posix/native_path.h"

namespace nx::sys {
namespace {

std::string readAll(const std::wstring& path) {
  Handle h = openRead(path);
  if (h == invalidHandle) return "<cannot open>";
  std::string out;
  char buffer[256];
  size_t got = 0;
  while (read(h, buffer, sizeof buffer, &got) && got > 0) out.append(buffer, got);
  close(h);
  return out;
}

std::vector<std::wstring> listed(const std::wstring& folder) {
  std::vector<FolderEntry> entries;
  if (!listFolder(folder, &entries)) return {L"<cannot list>"};
  std::vector<std::wstring> names;  // folders marked with a trailing '/'
  for (const auto& e : entries) names.push_back(e.name + (e.isFolder ? L"/" : L""));
  std::sort(names.begin(), names.end());
  return names;
}

// Wide paths may use either separator.
TEST(SysFiles, FoldersFilesAndMovesWithEitherSeparator) {
  test::TempFolder t;
  EXPECT_TRUE(createFolders(t.file(L"a\\b/c/")) && createFolders(t.file(L"a/b/c")));  // then already there
  EXPECT_TRUE(!createFolder(t.file(L"a")) && lastError() == alreadyExists);
  Handle h = createWrite(t.file(L"a\\b\\f"));
  ASSERT_NE(h, invalidHandle);
  size_t written = 0;
  EXPECT_TRUE(write(h, "A", 1, &written) && written == 1);
  close(h);
  t.write(L"a/g", "B");
  EXPECT_FALSE(createFolders(t.file(L"a/g/h")));  // a file in the way
  EXPECT_EQ(listed(t.file(L"a\\b")), (std::vector<std::wstring>{L"c/", L"f"}));
  EXPECT_TRUE(listed(t.file(L"none")) == std::vector<std::wstring>{L"<cannot list>"} && lastError() == fileNotFound);

  EXPECT_TRUE(!moveFile(t.file(L"a\\b\\f"), t.file(L"a\\g")) && lastError() == alreadyExists);  // never overwrites
  EXPECT_EQ(t.read(L"a/b/f") + t.read(L"a/g"), "AB");
  EXPECT_TRUE(moveFile(t.file(L"a\\b\\f"), t.file(L"a\\b\\c\\h")) &&
              replaceFile(t.file(L"a\\b\\c\\h"), t.file(L"a\\g")));
  EXPECT_EQ(readAll(t.file(L"a\\g")), "A");
  FileInfo info;
  EXPECT_TRUE(!fileInfo(t.file(L"a/b/c/h"), &info) && !info.exists && lastError() == fileNotFound);
  ASSERT_TRUE(fileInfo(t.file(L"a\\g"), &info));
  EXPECT_TRUE(info.exists && !info.isFolder && info.size == 1u);
  EXPECT_TRUE(fileInfo(t.file(L"a\\b"), &info) && info.isFolder);

  EXPECT_TRUE(deleteFile(t.file(L"a\\g")) && removeFolder(t.file(L"a\\b\\c")));
  EXPECT_FALSE(exists(t.file(L"a/b/c")) || exists(t.file(L"a/g")));
}

// Any bytes convert to a wide name and back unchanged, the characters that
// give a path its meaning appear in the wide name exactly where they stood
// in the bytes, and a backslash byte never becomes the wide separator.
TEST(SysFiles, EveryByteStringRoundTripsThroughTheWideForm) {
  std::mt19937 random(7);
  const std::string alphabet =
      std::string("/.\\a\0", 5) + "\x80\xAE\xAF\xBF\xC0\xC1\xC3\xE0\xE2\xED\xEF\xF0\xF4\xF5\xFF";
  for (int i = 0; i < 20000; ++i) {
    std::string bytes(random() % 12, ' ');
    for (char& c : bytes) c = alphabet[random() % alphabet.size()];
    std::wstring wide = posix::widePath(bytes);
    ASSERT_EQ(posix::narrow(wide), bytes);
    ASSERT_EQ(nativePath(wide), bytes);
    ASSERT_EQ(fromNativePath(bytes), wide);
    for (wchar_t special : {L'/', L'.', L'\0'})
      ASSERT_EQ(std::count(wide.begin(), wide.end(), special), std::count(bytes.begin(), bytes.end(), char(special)));
    ASSERT_EQ(wide.find(L'\\'), std::wstring::npos);
  }
  // Wide text with no bytes of its own never becomes ASCII.
  EXPECT_EQ(posix::narrow(std::wstring{wchar_t(0xD800), wchar_t(0x110000), wchar_t(0xDC2F)}),
            "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");

  // Files named so list and reopen as themselves: each holds its own name's
  // bytes, so a listed name that opened another file (or a folder) shows.
  // Overlong forms of "/" and "..", stray Latin-1 bytes (one before ASCII
  // that a lenient decoder would swallow), an encoded surrogate, a cut-off
  // sequence, a backslash (a separator in wide paths), and valid UTF-8.
  test::TempFolder t;
  const std::string dir = nativePath(t.path()), nihon = "\u65E5\u672C\u20AC";
  const std::set<std::string> names = {
      "a\300\257b", "\300\256\300\256", "caf\351", "\351ab", "\355\240\200", "x\342\202", "a\\b", nihon, "plain"};
  std::filesystem::create_directory(dir + "/a");  // where "a\b" must not lead
  for (const std::string& name : names) std::ofstream(dir + "/" + name) << name;
  std::vector<FolderEntry> entries;
  ASSERT_TRUE(listFolder(t.path(), &entries));
  std::set<std::string> listed;
  for (const FolderEntry& e : entries) {
    const std::string bytes = nativePath(e.name);
    if (bytes == "a") continue;
    listed.insert(bytes);
    EXPECT_EQ(readAll(nx::joinPath(t.path(), e.name)), bytes);
    // Only valid UTF-8 converts; any other name is the error text.
    EXPECT_EQ(nx::toUtf8(e.name), bytes == nihon || bytes == "plain" ? bytes : "#utf8_error") << bytes;
  }
  EXPECT_EQ(listed, names);
  EXPECT_TRUE(posix::widePath(nihon) == L"\u65E5\u672C\u20AC" && nativePath(L"\u65E5\u672C\u20AC") == nihon);
}

// A name in a folder is one entry of that folder, never a way out of it.
TEST(SysFiles, NamesInAFolderAreSingleComponents) {
  test::TempFolder t;
  ASSERT_TRUE(createFolders(t.file(L"a/b")));
  Handle a = openFolder(t.file(L"a"));
  ASSERT_NE(a, invalidHandle);
  for (const wchar_t* name : {L"..", L".", L"", L"b/..", L"../a"}) EXPECT_EQ(openSubfolder(a, name), invalidHandle);
  Handle b = openSubfolder(a, L"b");
  EXPECT_NE(b, invalidHandle);
  close(b), close(a);
}

}  // namespace
}  // namespace nx::sys
