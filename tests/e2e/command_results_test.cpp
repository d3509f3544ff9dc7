// What a user reads at the end of each command, through the real programs:
// refusals that name their cause, the result line, questions before going
// back, help, status, and the cause of a network failure.
#include <filesystem>

#include "support/http_server.h"
#include "support/update_fixture.h"

namespace nx::test {
namespace {

class CommandResultsTest : public UpdateFixture {};

TEST_F(CommandResultsTest, EachCommandSaysWhatHappened) {
  publish(1);
  publish(2);
  image("2.0", {"--module", "maps"});
  std::filesystem::create_directories(path("copy"));
  std::filesystem::copy_file(install() + "/autoupdate.db", path("copy/autoupdate.db"));
  struct Row {
    std::vector<std::string> words;
    int status;
    std::string out, err;  // the start of stdout; the end of stderr
  };
  const std::vector<Row> rows = {
      {{"update"}, 0, "", "VELTRA 2.0 is up to date.\n"},
      {{"update", "1.0"},
       0,
       "",
       "[question] VELTRA UPDATE: Replace VELTRA 2.0 with the older version 1.0?\nKept VELTRA 2.0.\n"},
      {{"install", "nosuch"}, 2, "", "[error] Error: Unknown module to install: nosuch\n"},
      {{"-b", path("nowhere"), "repair"},
       1,
       "",
       "[error] Error: No VELTRA installation in " + path("nowhere") + ": it holds no autoupdate.db\n"},
      {{"-b", path("copy"), "update"},
       1,
       "",
       "[error] Error: VELTRA is not initialised in " + path("copy") +
           " (no autoupdate.cfg): run autoupdate init LANG there first\n"},
      {{"--help"}, 0, "usage: autoupdate [check]", ""},
      {{"--version"}, 0, "autoupdate (VELTRA 2.0)\n", ""},
      {{"status", "--json"},
       0,
       "{\"product\": \"VELTRA\", \"version\": \"2.0\", \"arch\": \"x86_64\", \"lang\": \"en\", \"modules\": "
       "[\"maps\", "
       "\"veltra\"], \"base_folder\": \"" +
           install() + "/\"",
       ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.words[0] + (row.words.size() > 1 ? " " + row.words[1] : ""));
    ProgramResult r = autoupdate(row.words);
    EXPECT_EQ(r.status, row.status) << r.err;
    EXPECT_EQ(r.out.substr(0, row.out.size()), row.out);
    EXPECT_GE(r.err.size(), row.err.size());
    EXPECT_EQ(r.err.substr(r.err.size() - std::min(r.err.size(), row.err.size())), row.err) << r.err;
  }
  ProgramResult applier = runProgram(build("applier"), {"--help"});
  EXPECT_EQ(applier.status, 0);
  EXPECT_EQ(applier.out.rfind("usage: applier", 0), 0u) << applier.out;

  // A second updater that cannot take the lock neither rotates nor empties
  // the log of the one holding it.
  const std::string logs = writeFolder() + "/Logs/autoupdate.log";
  {
    LockHolder holder(writeFolder() + "/autoupdate.lock");
    ASSERT_TRUE(holder.held());
    const std::string before = read(logs);
    autoupdate({"status"});
    EXPECT_EQ(read(logs).rfind(before, 0), 0u);
    EXPECT_NE(read(logs).find("=== MiniLog opened", before.size()), std::string::npos);
  }
  EXPECT_TRUE(std::filesystem::exists(logs + ".4"));
  EXPECT_FALSE(std::filesystem::exists(logs + ".5"));
}

TEST_F(CommandResultsTest, ANetworkFailureNamesItsCauseAndTheLog) {
  std::string closed;
  {
    HttpServer gone;
    closed = gone.url("");
  }
  publish(1, closed);
  image("1.0");
  ProgramResult r = autoupdate({"update"});
  EXPECT_NE(
      r.err.find("[error] Error: Update server error: Service Unavailable (503)\n  could not connect to 127.0.0.1:"),
      std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("; details in " + writeFolder() + "/Logs/autoupdate.log\n"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace nx::test
