#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "base/folders.h"
#include "base/paths.h"
#include "base/text.h"
#include "support/scoped_env.h"
#include "support/temp_folder.h"
#include "sys/process.h"

namespace {
using namespace nx;
namespace fs = std::filesystem;
using test::ScopedEnv;

unsigned modeOf(const std::wstring& path) {
  struct stat st;
  return ::lstat(fs::path(path).c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

struct ScopedCwd {
  explicit ScopedCwd(const std::wstring& to) { fs::current_path(to); }
  ~ScopedCwd() { fs::current_path(old); }
  fs::path old = fs::current_path();
};

TEST(Text, ConvertsEveryPlaneBothWaysAndInvalidInputToTheErrorText) {
  const std::string utf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";  // a é € 😀 z
  const std::wstring wide = L"a\u00E9\u20AC\U0001F600z";
  EXPECT_EQ(fromUtf8(utf8), wide);
  EXPECT_EQ(toUtf8(wide), utf8);
  EXPECT_EQ(fromUtf8("\xF4\x8F\xBF\xBF"), std::wstring(1, wchar_t(0x10FFFF)));
  // Any fault turns the whole result into the error text.
  for (const char* bad :
       {"abc\xFF", "\x80", "ok\xC3", "\xE2\x82", "\xC0\xAF", "\xC1\xBF", "\xE0\x80\xAF", "\xF0\x80\x80\xAF",
        "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80", "\xC3(", "\xC3\xC3"})
    EXPECT_EQ(fromUtf8(bad), L"#utf8_error") << bad;
  EXPECT_EQ(toUtf8(std::wstring(L"x") + wchar_t(0xD800)), "#utf8_error");
  EXPECT_EQ(toUtf8(std::wstring(1, wchar_t(0x110000))), "#utf8_error");
}

// Each case is "input|expected", a join's input "a+b".
TEST(Paths, JoinParentAndNameSplitAtEitherSeparator) {
  auto split = [](const wchar_t* c, wchar_t at) {
    std::wstring s = c;
    return std::pair{s.substr(0, s.find(at)), s.substr(s.find(at) + 1)};
  };
  // One separator only where needed; no folding.
  for (const wchar_t* c : {L"/x+y|/x/y", L"/x/+y|/x/y", L"/x+/y|/x/y", L"C:\\x\\+y|C:\\x\\y", L"C:\\x+\\y|C:\\x\\y",
                           L"/x/+/y|/x//y", L"+y|y", L"/x+|/x/"}) {
    auto [in, joined] = split(c, L'|');
    auto [a, b] = split(in.c_str(), L'+');
    EXPECT_EQ(joinPath(a, b), joined) << toUtf8(c);
  }
  EXPECT_EQ(joinPath(L"/x", std::string("\xC3\xA9")), L"/x/\u00E9");
  EXPECT_EQ(joinPath(L"/x", std::string("\xFF")), L"/x/#utf8_error");
  // The parent keeps its separator and skips a trailing one.
  for (const wchar_t* c :
       {L"/a/b.exe|/a/", L"/a/|/", L"/|", L"a/|", L"name|", L"C:\\a\\b.exe|C:\\a\\", L"C:\\a\\|C:\\", L"C:\\|", L"|"}) {
    auto [path, parent] = split(c, L'|');
    EXPECT_EQ(parentFolder(path), parent) << toUtf8(c);
  }
  for (const wchar_t* c : {L"/a/b.txt|b.txt", L"a/b\\c|c", L"plain|plain", L"/a/|"}) {
    auto [path, name] = split(c, L'|');
    EXPECT_EQ(fileNamePart(path), name) << toUtf8(c);
  }
  EXPECT_EQ(fileNamePart(std::string("x\\y/z.db")), "z.db");
}

TEST(Folders, WriteAndTempFoldersFallBackStepByStep) {
  test::TempFolder t;
  std::string data = fs::path(t.file(L"data")).string(), cache = fs::path(t.file(L"cache")).string();
  {
    ScopedEnv dataHome("XDG_DATA_HOME", data.c_str());
    EXPECT_EQ(resolveWriteFolder(L"VELTRA"), t.file(L"data/VELTRA"));
    EXPECT_TRUE(fs::is_directory(t.file(L"data/VELTRA")));
    {
      ScopedEnv cacheHome("XDG_CACHE_HOME", cache.c_str());
      EXPECT_EQ(resolveTempFolder(L"VELTRA"), t.file(L"cache/VELTRA"));
      EXPECT_EQ(modeOf(t.file(L"cache")), 0700u);  // made by us: private
      EXPECT_EQ(modeOf(t.file(L"cache/VELTRA")), 0700u);
    }
    ScopedEnv noCache("XDG_CACHE_HOME", nullptr), noHome("HOME", nullptr);
    EXPECT_EQ(resolveTempFolder(L"VELTRA"), t.file(L"data/VELTRA/Temp"));
    EXPECT_EQ(modeOf(t.file(L"data/VELTRA/Temp")), 0700u);
  }
  ScopedEnv noData("XDG_DATA_HOME", nullptr);
  {
    ScopedEnv home("HOME", fs::path(t.file(L"home")).c_str());
    EXPECT_EQ(userBaseFolder(), t.file(L"home/.local/share"));
  }
  ScopedEnv noHome("HOME", nullptr);
  ScopedCwd cwd(t.path());
  EXPECT_EQ(resolveWriteFolder(L"W"), fs::current_path().wstring() + L"/W");
}

// The elevated applier runs from below the temp folder: one that others
// could change is refused before anything is written into it, and no folder
// we did not make has its mode changed.
TEST(Folders, TempFolderIsPrivateAndOneOthersCouldChangeIsRefused) {
  test::TempFolder t;
  const std::string shared = fs::path(t.file(L"shared")).string();
  fs::create_directory(shared);
  ::chmod(shared.c_str(), 01777);
  ScopedEnv cacheHome("XDG_CACHE_HOME", shared.c_str());
  const std::wstring temp = t.file(L"shared/VELTRA");
  EXPECT_EQ(resolveTempFolder(L"VELTRA"), temp);
  EXPECT_EQ(modeOf(t.file(L"shared")), 01777u);
  EXPECT_EQ(modeOf(temp), 0700u);
  EXPECT_EQ(unsafeFolderMessage(temp), "");
  const std::string tail =
      ". The updater keeps the programs it runs there only in a folder of your own that nobody "
      "else can change; remove it and try again.";
  auto refusal = [&](const char* reason, const std::wstring& path = {}) {
    return "Unsafe temp directory \"" + toUtf8(path.empty() ? temp : path) + "\": " + reason + tail;
  };
  // Readable by others but writable by us alone is fine as it is.
  for (unsigned mode : {0755u, 0777u, 0770u, 0702u}) {
    ::chmod(fs::path(temp).c_str(), mode);
    EXPECT_EQ(resolveTempFolder(L"VELTRA"), temp);
    EXPECT_EQ(modeOf(temp), mode);
    EXPECT_EQ(unsafeFolderMessage(temp), mode == 0755u ? "" : refusal("other users can write to it"));
  }
  fs::remove(temp);
  fs::create_directory(t.file(L"elsewhere"));
  ::chmod(fs::path(t.file(L"elsewhere")).c_str(), 0700);
  fs::create_directory_symlink(t.file(L"elsewhere"), temp);
  resolveTempFolder(L"VELTRA");
  EXPECT_EQ(unsafeFolderMessage(temp), refusal("it is a symbolic link"));
  EXPECT_EQ(unsafeFolderMessage(temp + L"/"), refusal("it is a symbolic link", temp + L"/"));
  fs::remove(temp);
  t.write(L"shared/VELTRA", "");
  EXPECT_EQ(unsafeFolderMessage(temp), refusal("it is not a folder"));
  fs::remove(temp);
  fs::create_directory(temp);
  ::chmod(fs::path(temp).c_str(), 0700);
  if (::chown(fs::path(temp).c_str(), 65534, 65534) == 0) {  // only a privileged test run can give a folder away
    EXPECT_EQ(unsafeFolderMessage(temp), refusal("it belongs to another user"));
  }
  EXPECT_TRUE(fs::is_empty(t.file(L"elsewhere")) && fs::is_empty(temp));
  EXPECT_EQ(unsafeFolderMessage(t.file(L"none")),
            "Can't create temp directory \"" + toUtf8(t.file(L"none")) + "\": No such file or directory");
}

// An argument names the base folder, else the current folder holds the
// file, else the program searches upward from its own folder (found by the
// system, not by argv[0] or the current folder).
TEST(Folders, BaseFolderFromArgumentCurrentFolderOrAboveTheProgram) {
  test::TempFolder t;
  // A name no folder above the test program holds by chance.
  const std::wstring db = L"nx_base_" + std::to_wstring(::getpid()) + L".db", bin = t.file(L"inst/bin/tools");
  fs::create_directories(bin);
  fs::create_directories(t.file(L"empty"));
  t.write(L"inst/" + db, "x");
  ScopedCwd cwd(t.path());
  EXPECT_EQ(resolveBaseFolder(db, t.file(L"inst")), t.file(L"inst"));
  EXPECT_EQ(resolveBaseFolder(db, L"empty/../inst"), t.file(L"inst"));  // relative to the current folder
  EXPECT_EQ(resolveBaseFolder(db, L""), L"");
  {
    ScopedCwd inInst(t.file(L"inst"));
    EXPECT_EQ(resolveBaseFolder(db, L""), t.file(L"inst"));
    EXPECT_EQ(resolveBaseFolder(db, t.file(L"empty")), L"");  // no search of the current folder then
  }
  // A real program copied below the installation, started by its full path
  // from elsewhere (an argument without the file is passed over) and by its
  // bare name from its own folder.
  fs::copy_file(NX_BUILD_DIR "/folder_probe", fs::path(bin + L"/folder_probe"));
  for (auto [from, program, argument] :
       {std::tuple{t.file(L"empty"), bin + L"/folder_probe", L"."}, {bin, std::wstring(L"folder_probe"), L""}}) {
    SCOPED_TRACE(toUtf8(program));
    ScopedCwd in(from);
    uint32_t code = 99;
    ASSERT_TRUE(sys::startProcess({program, t.file(L"out"), db, argument}, true, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(t.read(L"out"), toUtf8(t.file(L"inst/")) + "\n" + toUtf8(bin) + "/\n");
    fs::remove(t.file(L"out"));
  }
}

}  // namespace
