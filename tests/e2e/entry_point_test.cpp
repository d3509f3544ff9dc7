// The updater's command line, folders, locks, settings and schedule, through
// the real executable on a real installation.
#include <chrono>
#include <cstdio>

#include "support/update_fixture.h"

namespace nx::test {
namespace {

uint64_t todayNow() {
  using namespace std::chrono;
  return (static_cast<uint64_t>(duration_cast<seconds>(system_clock::now().time_since_epoch()).count()) +
          11644473600ull) / 86400;
}

class EntryPointTest : public UpdateFixture {
 protected:
  void SetUp() override {
    publish(1);
    image("1.0");
  }
  std::string settingsFile() const { return writeFolder() + "/Config/autoupdate.settings"; }
};

TEST_F(EntryPointTest, UnknownCommandsAreRefusedWithoutALogLine) {
  const std::vector<std::vector<std::string>> cases = {
      {"frob"}, {"-b"}, {"modconfig", "reg"}, {"-w", "W", "bootstrap"}, {"Check"}, {"continue", "--run"}};
  for (const auto& words : cases) {
    SCOPED_TRACE(words[0]);
    ProgramResult r = autoupdate(words);
    // "continue" in position 1 is a stage, which wants more words.
    if (words[0] == "continue") {
      EXPECT_NE(r.status, 0);
      continue;
    }
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "[error] Error: Invalid arguments.\n");
    const std::string name = words[0] == "-w" ? "W" : "VELTRA";
    EXPECT_EQ(log(name).find("ERROR"), std::string::npos) << log(name);
    EXPECT_NE(log(name).find("=== MiniLog closed."), std::string::npos);
  }
}

TEST_F(EntryPointTest, CheckWithoutAScheduleStillLaunchesAndAFreshWriteFolderKeepsItsSettings) {
  // A fresh write folder: the check is due, and its day is kept afterwards.
  ProgramResult r = autoupdate({});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("VELTRA 1.0"), std::string::npos);
  EXPECT_EQ(read(settingsFile()),
            "{\n \"update_period\": 1,\n \"last_update\": " + std::to_string(todayNow()) + "\n}\n");
  EXPECT_NE(log().find("Checking for updates"), std::string::npos);

  // update_period 0 turns the automatic check off but not the launch.
  write(settingsFile(), "{\"update_period\": 0, \"last_update\": 0}");
  r = autoupdate({"check", "-b", install()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("VELTRA 1.0"), std::string::npos);
  EXPECT_EQ(log().find("Checking for updates"), std::string::npos) << log();
  EXPECT_EQ(read(settingsFile()), "{\"update_period\": 0, \"last_update\": 0}");

  // A check due later is skipped; "update" ignores the schedule.
  write(settingsFile(), "{\"update_period\": 3, \"last_update\": " + std::to_string(todayNow() - 2) + "}");
  autoupdate({"check"});
  EXPECT_EQ(log().find("Checking for updates"), std::string::npos) << log();
  r = autoupdate({"update"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(log().find("Checking for updates"), std::string::npos) << log();
  EXPECT_EQ(r.out.find("VELTRA"), std::string::npos);  // no launch without --run
}

TEST_F(EntryPointTest, BusyLocksAreWaitedFor) {
  // Another updater holds the instance lock, then the named lock, for a moment.
  for (const std::string& lock : {writeFolder() + "/autoupdate.lock", path("cache/VELTRA/L")}) {
    SCOPED_TRACE(lock);
    std::filesystem::create_directories(std::filesystem::path(lock).parent_path());
    FILE* holder = popen((build("hold_lock") + " '" + lock + "' 2").c_str(), "r");
    char line[16] = "";
    ASSERT_TRUE(fgets(line, sizeof line, holder));
    ASSERT_STREQ(line, "locked\n");
    ProgramResult r = autoupdate({"update", "--lockname", "L"});
    pclose(holder);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Waiting for DB lock..."), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace nx::test
