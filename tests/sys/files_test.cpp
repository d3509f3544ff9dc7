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
#include "sys/posix/native_path.h"
#include "sys/process.h"

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

// Wide paths may use either separator, as the design's own origin does.
TEST(SysFiles, FoldersFilesAndMovesWithEitherSeparator) {
  test::TempFolder t;
  const uint64_t before = fileTimeNow();
  EXPECT_TRUE(createFolders(t.file(L"a\\b/c/")));
  EXPECT_TRUE(createFolders(t.file(L"a/b/c")));  // already there
  EXPECT_FALSE(createFolder(t.file(L"a")));
  EXPECT_EQ(lastError(), alreadyExists);
  Handle h = createWrite(t.file(L"a\\b\\f"));
  ASSERT_NE(h, invalidHandle);
  size_t written = 0;
  EXPECT_TRUE(write(h, "A", 1, &written) && written == 1);
  close(h);
  t.write(L"a/g", "B");
  EXPECT_FALSE(createFolders(t.file(L"a/g/h")));  // a file in the way
  EXPECT_EQ(listed(t.file(L"a\\b")), (std::vector<std::wstring>{L"c/", L"f"}));
  EXPECT_EQ(listed(t.file(L"none")), std::vector<std::wstring>{L"<cannot list>"});
  EXPECT_EQ(lastError(), fileNotFound);

  EXPECT_FALSE(moveFile(t.file(L"a\\b\\f"), t.file(L"a\\g")));  // never overwrites
  EXPECT_EQ(lastError(), alreadyExists);
  EXPECT_EQ(t.read(L"a/b/f") + t.read(L"a/g"), "AB");
  EXPECT_TRUE(moveFile(t.file(L"a\\b\\f"), t.file(L"a\\b\\c\\h")));
  EXPECT_TRUE(replaceFile(t.file(L"a\\b\\c\\h"), t.file(L"a\\g")));
  EXPECT_EQ(readAll(t.file(L"a\\g")), "A");
  FileInfo info;
  EXPECT_FALSE(fileInfo(t.file(L"a/b/c/h"), &info) || info.exists);
  EXPECT_EQ(lastError(), fileNotFound);
  ASSERT_TRUE(fileInfo(t.file(L"a\\g"), &info));
  EXPECT_TRUE(info.exists && !info.isFolder && info.size == 1u);
  // Within a second of the clock (file systems keep coarser times).
  EXPECT_GE(info.writeTime + 10000000, before);
  EXPECT_LE(info.writeTime, fileTimeNow() + 10000000);
  EXPECT_TRUE(fileInfo(t.file(L"a\\b"), &info) && info.isFolder);

  std::wstring full;
  EXPECT_TRUE(fullPath(t.file(L"a\\b\\..\\g"), &full) && full == t.file(L"a/g"));
  EXPECT_TRUE(deleteFile(t.file(L"a\\g")) && removeFolder(t.file(L"a\\b\\c")));
  EXPECT_FALSE(exists(t.file(L"a/b/c")));
  EXPECT_FALSE(exists(t.file(L"a/g")));
}

// Each file holds its own name's bytes, so a listed name that opened another
// file (or a folder) shows.
TEST(SysFiles, NamesThatAreNotUtf8ListAndReopenAsThemselves) {
  test::TempFolder t;
  const std::string dir = nativePath(t.path());
  const std::string nihon = "\xE6\x97\xA5\xE6\x9C\xAC\xE2\x82\xAC";  // 日本€: three-byte characters
  // Overlong forms of "/" and "..", stray Latin-1 bytes (one before ASCII
  // that a lenient decoder would swallow), an encoded surrogate, a cut-off
  // sequence, a backslash (a separator in wide paths), and valid UTF-8.
  const std::set<std::string> names = {
      "a\xC0\xAF"
      "b",
      "\xC0\xAE\xC0\xAE",
      "caf\xE9",
      "\xE9"
      "ab",
      "\xED\xA0\x80",
      "x\xE2\x82",
      "a\\b",
      nihon,
      "plain"};
  std::filesystem::create_directory(dir + "/a");  // where "a\b" must not lead
  for (const std::string& name : names) std::ofstream(dir + "/" + name) << name;
  // Created through the layer: stored as UTF-8.
  ASSERT_NE(createWrite(t.file(L"\u65E5\u672C\u20AC.2")), invalidHandle);
  EXPECT_TRUE(std::filesystem::exists(dir + "/" + nihon + ".2"));

  std::vector<FolderEntry> entries;
  ASSERT_TRUE(listFolder(t.path(), &entries));
  ASSERT_EQ(entries.size(), names.size() + 2);
  std::set<std::string> listed;
  for (const FolderEntry& e : entries) {
    const std::string bytes = nativePath(e.name);
    if (bytes == nihon + ".2" || bytes == "a") continue;
    listed.insert(bytes);
    EXPECT_FALSE(e.isFolder);
    EXPECT_EQ(e.name.find_first_of(std::wstring(L"/\\.\0", 4)), std::wstring::npos) << bytes;
    EXPECT_EQ(readAll(nx::joinPath(t.path(), e.name)), bytes);
    // Only valid UTF-8 converts; any other name is the error text.
    bool valid = bytes == nihon || bytes == "plain";
    EXPECT_EQ(nx::toUtf8(e.name), valid ? bytes : "#utf8_error") << bytes;
  }
  EXPECT_EQ(listed, names);
  EXPECT_EQ(posix::widePath(nihon), L"\u65E5\u672C\u20AC");
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
