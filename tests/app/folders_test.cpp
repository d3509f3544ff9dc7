#include "app/folders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/paths.h"
#include "support/scoped_env.h"
#include "support/temp_folder.h"
#include "sys/files.h"

namespace nx {
namespace {

namespace fs = std::filesystem;
using test::ScopedEnv;

class ScopedCwd {
 public:
  explicit ScopedCwd(const std::wstring& to) : old_(fs::current_path()) { fs::current_path(to); }
  ~ScopedCwd() { fs::current_path(old_); }

 private:
  fs::path old_;
};

void touch(const std::wstring& path) { std::ofstream(fs::path(path)) << "x"; }

TEST(Folders, WriteFolderFallsBackFromDataHomeToHomeToCurrentFolder) {
  test::TempFolder t;
  {
    ScopedEnv data("XDG_DATA_HOME", fs::path(t.file(L"data")).c_str());
    EXPECT_EQ(resolveWriteFolder(L"VELTRA"), t.file(L"data") + L"/VELTRA");
    EXPECT_TRUE(fs::is_directory(t.file(L"data/VELTRA")));
  }
  ScopedEnv noData("XDG_DATA_HOME", nullptr);
  {
    ScopedEnv home("HOME", fs::path(t.file(L"home")).c_str());
    EXPECT_EQ(userBaseFolder(), t.file(L"home/.local/share"));
  }
  ScopedEnv noHome("HOME", nullptr);
  ScopedCwd cwd(t.path());
  EXPECT_EQ(userBaseFolder(), fs::current_path().wstring());
  EXPECT_EQ(resolveWriteFolder(L"W"), fs::current_path().wstring() + L"/W");
  EXPECT_TRUE(fs::is_directory(t.file(L"W")));
}

TEST(Folders, TempFolderIsPrivateAndFallsBackToTheWriteFolder) {
  test::TempFolder t;
  ScopedEnv data("XDG_DATA_HOME", fs::path(t.file(L"data")).c_str());
  {
    ScopedEnv cache("XDG_CACHE_HOME", fs::path(t.file(L"cache")).c_str());
    EXPECT_EQ(resolveTempFolder(L"VELTRA"), t.file(L"cache/VELTRA"));
    EXPECT_TRUE(fs::is_directory(t.file(L"cache/VELTRA")));
    struct stat st;
    ASSERT_EQ(::stat(fs::path(t.file(L"cache")).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
  }
  ScopedEnv noCache("XDG_CACHE_HOME", nullptr);
  ScopedEnv noHome("HOME", nullptr);
  EXPECT_EQ(resolveTempFolder(L"VELTRA"), t.file(L"data/VELTRA/Temp"));
  EXPECT_TRUE(fs::is_directory(t.file(L"data/VELTRA/Temp")));
}

TEST(Folders, BaseFolderFromArgumentCurrentFolderOrProgramFolder) {
  test::TempFolder t;
  // A name no folder above the test program holds by chance.
  const std::wstring db = L"nx_base_" + std::to_wstring(::getpid()) + L".db";
  fs::create_directories(fs::path(t.file(L"inst")));
  fs::create_directories(fs::path(t.file(L"empty")));
  touch(t.file(L"inst/") + db);
  ScopedCwd cwd(t.path());

  EXPECT_EQ(resolveBaseFolder(db, t.file(L"inst")), t.file(L"inst"));
  EXPECT_EQ(resolveBaseFolder(db, L"inst"), t.file(L"inst"));      // relative to the current folder
  EXPECT_EQ(resolveBaseFolder(db, L"empty/../inst"), t.file(L"inst"));
  EXPECT_EQ(resolveBaseFolder(db, t.file(L"empty")), L"");         // no search of the current folder then
  EXPECT_EQ(resolveBaseFolder(db, L""), L"");
  {
    ScopedCwd inInst(t.file(L"inst"));
    EXPECT_EQ(resolveBaseFolder(db, L""), t.file(L"inst"));
    EXPECT_EQ(resolveBaseFolder(db, t.file(L"empty")), L"");
  }
  // Beside the program: found by the upward search, with its separator.
  std::wstring besideProgram = joinPath(executableFolder(), db);
  touch(besideProgram);
  EXPECT_EQ(resolveBaseFolder(db, t.file(L"empty")), executableFolder());
  EXPECT_EQ(resolveBaseFolder(db, L""), executableFolder());
  sys::deleteFile(besideProgram);
}

}  // namespace
}  // namespace nx
