// The updater's command line, folders, locks, settings and schedule, through
// the real executable on a real installation.
#include <chrono>

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

TEST_F(EntryPointTest, UnknownCommandsAreRefusedWithoutALogLine) {
  const std::vector<std::vector<std::string>> cases = {
      {"frob"}, {"-b"}, {"modconfig", "reg"}, {"-w", "W", "bootstrap"}, {"Check"}};
  for (const auto& words : cases) {
    SCOPED_TRACE(words[0]);
    ProgramResult r = autoupdate(words);
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
  std::filesystem::rename(install() + "/veltra.sh", path("veltra.sh"));  // a product that cannot start fails the run
  r = autoupdate({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "[error] Error: Can't start VELTRA!\n");
  std::filesystem::rename(path("veltra.sh"), install() + "/veltra.sh");

  // A check due later is skipped; "update" ignores the schedule.
  write(settingsFile(), "{\"update_period\": 3, \"last_update\": " + std::to_string(todayNow() - 2) + "}");
  autoupdate({"check"});
  EXPECT_EQ(log().find("Checking for updates"), std::string::npos) << log();
  write(settingsFile(), "{\"update_period\": 3, \"last_update\": " + std::to_string(todayNow() - 3) + "}");
  autoupdate({"check"});
  EXPECT_NE(log().find("Checking for updates"), std::string::npos) << "due today: " << log();
  r = autoupdate({"update"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(log().find("Checking for updates"), std::string::npos) << log();
  EXPECT_EQ(r.out.find("VELTRA"), std::string::npos);  // no launch without --run
}

TEST_F(EntryPointTest, ADeclinedOfferAdvancesTheDayOnlyWithTheRunFlag) {
  publish(2);
  const Environment no{{"AUTOUPDATE_ANSWER", "no"}};
  ProgramResult r = autoupdate({"update"}, no);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("[question] VELTRA UPDATE: New version 2.0 is available. Update?"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(settingsFile()));  // nothing changed, nothing saved
  EXPECT_EQ(log().find("Downloading update"), std::string::npos);
  r = autoupdate({"update", "--run"}, no);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("VELTRA 1.0"), std::string::npos);
  EXPECT_NE(read(settingsFile()).find("\"last_update\": " + std::to_string(todayNow())), std::string::npos);
  // A version that is not offered is said so, and nothing is downloaded.
  r = autoupdate({"update", "3.1"}, no);
  EXPECT_NE(r.err.find("[warning] VELTRA UPDATE: Update to version 3.1 is not available."), std::string::npos) << r.err;
}

TEST_F(EntryPointTest, InitAndModconfigChangeTheStateWithoutAServer) {
  ProgramResult r = autoupdate({"modconfig", "reg", "maps"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(read(install() + "/autoupdate.cfg").find("\"maps\""), std::string::npos);
  r = autoupdate({"modconfig", "unreg", "veltra"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "[error] Error: Can't del main module \"veltra\"\n");
  // (The other refusals of init and modconfig take this same way out.)
  r = autoupdate({"init", "de", "-w", "W"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read(install() + "/Config/lang.cfg"), "de");
  EXPECT_EQ(read(install() + "/autoupdate.cfg"),
            "{\n \"arch\": \"x86_64\",\n \"lang\": \"de\",\n \"modules\": [\n  \"veltra\"\n ]\n}\n");
  EXPECT_TRUE(std::filesystem::exists(writeFolder("W") + "/autoupdate.cache"));  // seeded: nothing to hash later
}

// (A busy instance lock is waited for in the update flow tests.)
TEST_F(EntryPointTest, ABusyNamedLockIsWaitedFor) {
  const std::string lock = path("cache/VELTRA/L");
  std::filesystem::create_directories(path("cache/VELTRA"));
  LockHolder holder(lock, "2");
  ASSERT_TRUE(holder.held());
  ProgramResult r = autoupdate({"update", "--lockname", "L"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Waiting for DB lock..."), std::string::npos) << r.err;
}

}  // namespace
}  // namespace nx::test
