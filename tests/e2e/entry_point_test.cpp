// The updater's command line, folders, locks, settings and schedule, through
// the real executable on a real installation: what a user reads at the end
// of each command, refusals that name their cause, help and status.
#include <chrono>
#include <filesystem>

#include "support/update_fixture.h"

namespace nx::test {
namespace {

uint64_t todayNow() {
  using namespace std::chrono;
  return (static_cast<uint64_t>(duration_cast<seconds>(system_clock::now().time_since_epoch()).count()) +
          11644473600ull) /
         86400;
}

class EntryPointTest : public UpdateFixture {
 protected:
  void SetUp() override {
    publish(1);
    image("1.0");
  }
  std::string settingsFile() const { return writeFolder() + "/Config/autoupdate.settings"; }
};

TEST_F(EntryPointTest, CheckWithoutAScheduleStillLaunchesAndAFreshWriteFolderKeepsItsSettings) {
  // A fresh write folder: the check is due, and its day is kept afterwards.
  ProgramResult r = autoupdate({});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(started(r).find("VELTRA 1.0"), std::string::npos);
  EXPECT_EQ(fileText(settingsFile()),
            "{\n \"update_period\": 1,\n \"last_update\": " + std::to_string(todayNow()) + "\n}\n");
  EXPECT_NE(log().find("Checking for updates"), std::string::npos);

  // update_period 0 turns the automatic check off but not the launch.
  writeText(settingsFile(), "{\"update_period\": 0, \"last_update\": 0}");
  r = autoupdate({"check", "-b", install()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(started(r).find("VELTRA 1.0"), std::string::npos);
  EXPECT_EQ(log().find("Checking for updates"), std::string::npos) << log();
  EXPECT_EQ(fileText(settingsFile()), "{\"update_period\": 0, \"last_update\": 0}");
  std::filesystem::rename(install() + "/" + launcher(), path(launcher()));  // a product that cannot start fails the run
  r = autoupdate({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "[error] Error: Can't start VELTRA!\n");
  std::filesystem::rename(path(launcher()), install() + "/" + launcher());

  // A check due later is skipped; "update" ignores the schedule.
  writeText(settingsFile(), "{\"update_period\": 3, \"last_update\": " + std::to_string(todayNow() - 2) + "}");
  EXPECT_NE(started(autoupdate({"check"})).find("VELTRA 1.0"), std::string::npos);
  EXPECT_EQ(log().find("Checking for updates"), std::string::npos) << log();
  writeText(settingsFile(), "{\"update_period\": 3, \"last_update\": " + std::to_string(todayNow() - 3) + "}");
  EXPECT_NE(started(autoupdate({"check"})).find("VELTRA 1.0"), std::string::npos);
  EXPECT_NE(log().find("Checking for updates"), std::string::npos) << "due today: " << log();
  r = autoupdate({"update"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(log().find("Checking for updates"), std::string::npos) << log();
  EXPECT_EQ(started(r).find("VELTRA"), std::string::npos);  // no launch without --run
  // A check that cannot reach its server says where to read more.
  std::filesystem::rename(repo(), path("gone"));
  r = autoupdate({"update"});
  EXPECT_NE(r.err.find("; details in " + shown(writeFolder() + "/Logs") + "/autoupdate.log\n"), std::string::npos)
      << r.err;
}

class CommandResultsTest : public UpdateFixture {};

TEST_F(CommandResultsTest, EachCommandSaysWhatHappened) {
  publish(1);
  publish(2);
  image("2.0", {"--module", "maps"});
  std::filesystem::create_directories(path("copy"));
  std::filesystem::copy_file(install() + "/autoupdate.db", path("copy/autoupdate.db"));  // not initialised
  struct Row {
    std::vector<std::string> words;
    int status;
    std::string out, err;  // the start of stdout; the end of stderr
  };
  const std::string error = "[error] Error: ", invalid = error + "Invalid arguments.\n", copy = shown(path("copy"));
  const std::vector<Row> rows = {
      {{"update"}, 0, "", "VELTRA 2.0 is up to date.\n"},
      {{"update", "1.0"}, 0, "", "VELTRA 2.0 with the older version 1.0?\nKept VELTRA 2.0.\n"},
      {{"install", "nosuch"}, 2, "", error + "Unknown module to install: nosuch\n"},
      {{"-b", shown(path("none")), "repair"},
       1,
       "",
       "No VELTRA installation in " + shown(path("none")) + ": it holds no autoupdate.db\n"},
      {{"-b", copy, "update"}, 1, "", copy + " (no autoupdate.cfg): run autoupdate init LANG there first\n"},
      {{"modconfig", "unreg", "veltra"}, 2, "", error + "Can't del main module \"veltra\"\n"},
      {{"frob"}, 1, "", invalid},
      {{"-b"}, 1, "", invalid},
      {{"modconfig", "reg"}, 1, "", invalid},
      {{"-w", "W", "bootstrap"}, 1, "", invalid},
      {{"Check"}, 1, "", invalid},
      {{"--help"}, 0, "usage: autoupdate [check]", ""},
      {{"--version"}, 0, "autoupdate (VELTRA 2.0)\n", ""},
      {{"status", "--json"},
       0,
       R"({"product": "VELTRA", "version": "2.0", "arch": "x86_64", "lang": "en", "modules": )"
       R"(["maps", "veltra"], "base_folder": ")" +
           (onWindows ? "" : install() + "/\""),  // JSON's escapes of a Windows path aside
       ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.words[0] + (row.words.size() > 1 ? " " + row.words[1] : ""));
    ProgramResult r = autoupdate(row.words);
    EXPECT_EQ(r.status, row.status) << r.err;
    EXPECT_TRUE(r.out.starts_with(row.out)) << r.out;
    EXPECT_TRUE(r.err.ends_with(row.err)) << r.err;
  }

  // A second updater that cannot take the lock neither rotates nor empties
  // the log of the one holding it.
  const std::string logs = writeFolder() + "/Logs/autoupdate.log";
  LockHolder holder(writeFolder() + "/autoupdate.lock");
  ASSERT_TRUE(holder.held());
  const std::string before = fileText(logs);
  autoupdate({"status"});
  EXPECT_EQ(fileText(logs).rfind(before, 0), 0u);
  EXPECT_NE(fileText(logs).find("=== MiniLog opened", before.size()), std::string::npos);
}

}  // namespace
}  // namespace nx::test
