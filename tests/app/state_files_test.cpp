// The installation's small state files against what may be found in their
// place: a FIFO, a device, a planted link, a disk that fills up.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "db/atomic_file.h"
#include "db/install_state.h"
#include "db/source_tag.h"
#include "io/file_writer.h"
#include "io/io_error.h"
#include "support/temp_folder.h"
#include "sys/errors.h"
#include "sys/files.h"
#include "sys/lock.h"

namespace {
using namespace nx;
namespace fs = std::filesystem;

// Runs the check in a child process and returns its exit code (0: as
// expected). A child still busy after a few seconds is killed by its alarm
// and counts as hung, so a blocking open fails the test fast.
int inChild(const std::function<int()>& check) {
  pid_t pid = ::fork();
  if (pid == 0) {
    ::alarm(3);
    int code = 99;
    try {
      code = check();
    } catch (...) {
      code = 98;
    }
    ::_exit(code);
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) return -2;  // hung
  return WIFEXITED(status) ? WEXITSTATUS(status) : -3;
}

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

TEST(StateFiles, FifosAndDevicesReadAsMissingWithoutBlocking) {
  test::TempFolder t;
  fs::create_directories(t.file(L"Config"));
  for (const wchar_t* name : {L"Config/retail.cfg", L"Config/lang.cfg", L"autoupdate.cfg", L"fifo"})
    ASSERT_EQ(::mkfifo(sys::nativePath(t.file(name)).c_str(), 0600), 0);

  // In a child, so that one blocking open fails the test fast (-2); bit n
  // of the code stands for a failed check n. First the documented fallbacks
  // (no source tag, no language, no state), then the platform layer: a FIFO
  // never opens for reading, nor for writing while no one reads it.
  const std::wstring fifo = t.file(L"fifo");
  EXPECT_EQ(inChild([&] {
              int failures = 0, bit = 1;
              auto check = [&](bool ok) { failures |= ok ? 0 : bit, bit <<= 1; };
              check(readSourceTag(t.path()).empty());
              Database db;
              db.lang = "xx";
              readLanguageFile(db, t.file(L"Config/lang.cfg"));
              check(db.lang.empty());
              try {
                loadInstallState(kInvalidStructure, db, t.file(L"autoupdate.cfg"));
                check(false);
              } catch (const OpenFileError&) {
                check(true);
              }
              check(sys::openRead(fifo) == sys::invalidHandle && sys::lastError() == EINVAL);
              check(sys::createWrite(fifo) == sys::invalidHandle);
              check(sys::openAppend(fifo) == sys::invalidHandle);
              check(sys::tryLockFile(fifo) == sys::invalidHandle);
              return failures;
            }),
            0);
  // A device opens for writing only.
  EXPECT_EQ(sys::openRead(L"/dev/null"), sys::invalidHandle);
  EXPECT_EQ(sys::lastError(), static_cast<uint32_t>(EINVAL));
  sys::Handle device = sys::createWrite(L"/dev/null");
  EXPECT_NE(device, sys::invalidHandle);
  sys::close(device);
  EXPECT_EQ(sys::openRead(t.path()), sys::invalidHandle);
  EXPECT_EQ(sys::lastError(), static_cast<uint32_t>(EISDIR));
}

TEST(StateFiles, SafeSaveWritesNoPlantedLinkAndKeepsThePreviousMode) {
  test::TempFolder t;
  const std::wstring cfg = t.file(L"autoupdate.cfg");
  t.write(L"autoupdate.cfg", "old");
  t.write(L"victim", "victim");
  ASSERT_EQ(::chmod(sys::nativePath(cfg).c_str(), 0600), 0);
  // A link at the name the temporary file once had.
  fs::create_symlink(fs::path(t.file(L"victim")), fs::path(cfg + L".tmp"));

  writeFileAtomically(cfg, "new");
  EXPECT_EQ(t.read(L"autoupdate.cfg"), "new");
  EXPECT_EQ(t.read(L"victim"), "victim");
  EXPECT_EQ(modeOf(cfg), 0600u);
  EXPECT_EQ(names(t.path()), (std::vector<std::string>{"autoupdate.cfg", "autoupdate.cfg.tmp", "victim"}));

  // A new file gets the usual mode of a new file.
  const mode_t mask = ::umask(022);
  writeFileAtomically(t.file(L"fresh"), "x");
  ::umask(mask);
  EXPECT_EQ(modeOf(t.file(L"fresh")), 0644u);
}

// A file-size limit cuts writes short exactly as a full disk does; the
// limit is set in a child so the test program itself keeps writing freely.
TEST(StateFiles, AShortWriteIsReportedAsAFullDisk) {
  test::TempFolder t;
  const std::wstring cfg = t.file(L"autoupdate.cfg");
  t.write(L"autoupdate.cfg", "old");
  const std::string block(10000, 'x');
  int result = inChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {4096, 4096};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 1;
    int failures = 0;
    sys::Handle h = sys::createWrite(t.file(L"plain"));
    size_t written = 0;
    if (!sys::write(h, block.data(), block.size(), &written) || written != 4096) failures |= 2;
    sys::close(h);
    try {
      writeFileAtomically(cfg, block);
      failures |= 4;
    } catch (const IOError& e) {
      if (e.code != sys::diskFull || std::string(e.what()).rfind("write(\"", 0) != 0) failures |= 8;
    }
    try {
      FileWriter file(t.file(L"writer"));
      file.write(block.data(), block.size());
      failures |= 16;
    } catch (const IOError& e) {
      if (e.code != sys::diskFull) failures |= 32;
    }
    return failures;
  });
  EXPECT_EQ(result, 0);
  // The previous state is untouched and no temporary file is left.
  EXPECT_EQ(t.read(L"autoupdate.cfg"), "old");
  EXPECT_EQ(names(t.path()), (std::vector<std::string>{"autoupdate.cfg", "plain"}));
}

}  // namespace
