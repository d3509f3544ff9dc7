// The installation's small state files against what may be found in their
// place: a FIFO, a device, a planted link, a disk that fills up.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "db/atomic_file.h"
#include "db/install_state.h"
#include "db/source_tag.h"
#include "io/file_writer.h"
#include "io/io_error.h"
#include "support/file_size_limit.h"
#include "support/temp_folder.h"
#include "sys/errors.h"
#include "sys/files.h"
#include "sys/lock.h"

namespace {
using namespace nx;
namespace fs = std::filesystem;

mode_t modeOf(const std::wstring& path) {
  struct stat st;
  return ::stat(sys::nativePath(path).c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

std::vector<std::string> names(const std::wstring& folder) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

// The checks run in a child (the file size limit does not matter here) whose
// alarm ends it after a few seconds, so that one blocking open fails the test
// fast. The letters of the checks that failed come back.
TEST(StateFiles, FifosAndDevicesReadAsMissingWithoutBlocking) {
  test::TempFolder t;
  fs::create_directories(t.file(L"Config"));
  for (const wchar_t* name : {L"Config/retail.cfg", L"Config/lang.cfg", L"autoupdate.cfg", L"fifo"})
    ASSERT_EQ(::mkfifo(sys::nativePath(t.file(name)).c_str(), 0600), 0);
  // First the documented fallbacks (no source tag, no language, no state),
  // then the platform layer: a FIFO never opens for reading, nor for writing
  // while no one reads it.
  const std::wstring fifo = t.file(L"fifo");
  auto checks = [&] {
    ::alarm(3);
    Database db;
    db.lang = "xx";
    readLanguageFile(db, t.file(L"Config/lang.cfg"));
    bool missing = false;
    try {
      loadInstallState(kInvalidStructure, db, t.file(L"autoupdate.cfg"));
    } catch (const OpenFileError&) {
      missing = true;
    }
    std::string failed = "checks failed:", letter = "a";
    for (bool ok : {readSourceTag(t.path()).empty(), db.lang.empty(), missing,
                    sys::openRead(fifo) == sys::invalidHandle && sys::lastError() == EINVAL,
                    sys::createWrite(fifo) == sys::invalidHandle, sys::openAppend(fifo) == sys::invalidHandle,
                    sys::tryLockFile(fifo) == sys::invalidHandle})
      failed += ok ? "" : letter, ++letter[0];
    return failed;
  };
  EXPECT_EQ(test::withFileSizeLimit(UINT64_MAX, checks), "checks failed:");
}

TEST(StateFiles, SafeSaveWritesNoPlantedLinkAndKeepsThePreviousMode) {
  test::TempFolder t;
  const std::wstring cfg = t.file(L"autoupdate.cfg");
  t.write(L"autoupdate.cfg", "old");
  t.write(L"victim", "victim");
  ASSERT_EQ(::chmod(sys::nativePath(cfg).c_str(), 0640), 0);
  // A link at the name the temporary file once had.
  fs::create_symlink(fs::path(t.file(L"victim")), fs::path(cfg + L".tmp"));

  writeFileAtomically(cfg, "new");
  EXPECT_EQ(t.read(L"autoupdate.cfg"), "new");
  EXPECT_EQ(t.read(L"victim"), "victim");
  EXPECT_EQ(modeOf(cfg), 0640u);
  EXPECT_EQ(names(t.path()), (std::vector<std::string>{"autoupdate.cfg", "autoupdate.cfg.tmp", "victim"}));

  // A new file gets the usual mode of a new file.
  const mode_t mask = ::umask(022);
  writeFileAtomically(t.file(L"fresh"), "x");
  ::umask(mask);
  EXPECT_EQ(modeOf(t.file(L"fresh")), 0644u);
}

// A file-size limit cuts writes short exactly as a full disk does.
TEST(StateFiles, AShortWriteIsReportedAsAFullDisk) {
  test::TempFolder t;
  const std::wstring cfg = t.file(L"autoupdate.cfg");
  t.write(L"autoupdate.cfg", "old");
  const std::string block(10000, 'x');
  auto saves = [&] {
    sys::Handle h = sys::createWrite(t.file(L"plain"));
    size_t written = 0;
    sys::write(h, block.data(), block.size(), &written);
    sys::close(h);
    std::string out = std::to_string(written);
    for (auto save : std::initializer_list<std::function<void()>>{
             [&] { writeFileAtomically(cfg, block); },
             [&] { FileWriter(t.file(L"writer")).write(block.data(), block.size()); }}) {
      try {
        save();
        out += " saved";
      } catch (const IOError& e) {
        out += " " + std::to_string(e.code) + " " + std::string(e.what()).substr(0, 7);
      }
    }
    return out;
  };
  const std::string full = " " + std::to_string(sys::diskFull) + " write(\"";
  EXPECT_EQ(test::withFileSizeLimit(4096, saves), "4096" + full + full);
  // The previous state is untouched and no temporary file is left.
  EXPECT_EQ(t.read(L"autoupdate.cfg"), "old");
  EXPECT_EQ(names(t.path()), (std::vector<std::string>{"autoupdate.cfg", "plain"}));
}

}  // namespace
