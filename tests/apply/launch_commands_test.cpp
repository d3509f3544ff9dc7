// Starting the product: real programs started as real processes.
#include "apply/launch_commands.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "apply/process_start.h"
#include "base/text.h"
#include "stage_test_util.h"
#include "support/memory_log.h"
#include "support/platform.h"
#include "support/temp_folder.h"

namespace nx {
namespace {

using Words = std::vector<std::wstring>;

TEST(ProcessStart, QuotingAndJoiningServeLogsAsOnWindows) {
  EXPECT_EQ(quoteArgument(L"C:\\Some Folder\\"), L"\"C:\\Some Folder\"");
  EXPECT_EQ(quoteArgument(L"C:\\Folder\\"), L"C:\\Folder");
  EXPECT_EQ(quoteArgument(L"a\\\\"), L"a\\");                  // only one backslash goes
  EXPECT_EQ(quoteArgument(L"say \"hi\""), L"\"say \"hi\"\"");  // nothing inside is escaped
  EXPECT_EQ(joinCommandLine({L"p", L"\\", L"x y"}, 0), L"p  \"x y\"");
  EXPECT_EQ(joinCommandLine({L"p", L"q"}, 1), L"q");
  EXPECT_EQ(joinCommandLine({L"p"}, 5), L"");
}

class LaunchTest : public ::testing::Test {
 protected:
  // A program that writes its arguments and current folder, one a line, to out.
  void program(const std::wstring& rel, const std::string& out) {
    dir.write(rel, "#!/bin/sh\n{ pwd; for a in \"$@\"; do echo \"$a\"; done; } > '" + out + ".tmp'\nmv '" + out +
                       ".tmp' '" + out + "'\n");
    std::filesystem::permissions(std::filesystem::path(dir.file(rel)), std::filesystem::perms(0755));
  }
  std::string waitFor(const std::wstring& rel) { return test::waitForFile(toUtf8(dir.file(rel))); }
  test::TempFolder dir;
  test::MemoryLog log;
};

TEST_F(LaunchTest, StartsEveryExistingProgramWithTheExtraArguments) {
  NX_POSIX_ONLY("a shell script as the product");
  std::filesystem::create_directories(std::filesystem::path(dir.file(L"my game/bin")));
  program(L"my game/bin/run one", toUtf8(dir.file(L"one.txt")));
  Database db;
  db.launch = {"missing.sh", "bin", "bin/run one", "../outside.sh"};
  const std::wstring base = dir.file(L"my game");
  program(L"outside.sh", toUtf8(dir.file(L"outside.txt")));
  EXPECT_EQ(launchCommands(db, base, log, {L"--basedir", L"/a b/"}), 1);
  // Arguments arrive as they are (no quoting round trip on POSIX); the
  // program runs in the updater's current folder, not the installation.
  EXPECT_EQ(waitFor(L"one.txt"), std::filesystem::current_path().string() + "\n--basedir\n/a b/\n");
  EXPECT_EQ(log.lines().size(), 5u);
  EXPECT_TRUE(log.contains("ERROR  : LAUNCH file not exists \"" + toUtf8(base) + "/bin\""));
  EXPECT_TRUE(log.contains("ERROR  : LAUNCH refused \"../outside.sh\": the path leaves the installation folder"));
  EXPECT_TRUE(dir.read(L"outside.txt").empty());

  // Nothing but the standard streams reaches a started program.
  const int inheritable = ::open("/dev/null", O_RDONLY);
  dir.write(L"fds.sh", "#!/bin/sh\n[ -e /proc/$$/fd/" + std::to_string(inheritable) +
                           " ] && r=inherited || r=clean\necho $r > '" + toUtf8(dir.file(L"fds.tmp")) + "'\nmv '" +
                           toUtf8(dir.file(L"fds.tmp")) + "' '" + toUtf8(dir.file(L"fds.txt")) + "'\n");
  ::chmod(toUtf8(dir.file(L"fds.sh")).c_str(), 0755);
  db.launch = {"fds.sh"};
  EXPECT_EQ(launchCommands(db, dir.path(), log, {}), 1);
  EXPECT_EQ(waitFor(L"fds.txt"), "clean\n");
  ::close(inheritable);

  // A file that is no program counts zero.
  dir.write(L"plain.txt", "not a program");
  db.launch = {"plain.txt"};
  EXPECT_EQ(launchCommands(db, dir.path(), log, {}), 0);
  EXPECT_TRUE(log.contains("LAUNCH can't run \"" + toUtf8(dir.file(L"plain.txt")) + "\""));
}

}  // namespace
}  // namespace nx
