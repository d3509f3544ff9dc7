// The real updater in a real terminal (a tmux pane), driven as a person
// would: the progress line drawn, Ctrl-C cancelling, the question answered
// at its prompt, the terminal left clean.
#include "support/http_server.h"
#include "support/tmux_session.h"
#include "support/update_fixture.h"

namespace nx::test {
namespace {

class TerminalSessionTest : public UpdateFixture {
 protected:
  // The updater started from a shell in the pane, which then reports its
  // exit code and keeps the pane (and its cursor state) alive.
  std::string command(const std::string& words) const {
    std::string env;
    for (const auto& [name, value] : environment())
      if (name != "AUTOUPDATE_UI") env += name + "=" + TmuxSession::quote(value) + " ";
    return "set -m; trap true INT; " + env + "AUTOUPDATE_UI=auto " + TmuxSession::quote(install() + "/bin/autoupdate") +
           " " + words + "; echo \"exit=$?\"; exec sleep 600";
  }
  static bool hasRow(const std::string& screen, const std::string& row) {
    for (const std::string& r : TmuxSession::rowsOf(screen))
      if (r == row) return true;
    return false;
  }
};

TEST_F(TerminalSessionTest, CtrlCCancelsAStalledCheckThroughTheDialog) {
  HttpServer server;
  std::filesystem::create_directories(repo());
  publish(1, server.url("/repo"));
  image("1.0");
  server.stall("/repo/update/stable");

  TmuxSession s(command("update"));
  ASSERT_TRUE(s.waitFor("Checking for updates...")) << s.screen();
  EXPECT_NE(s.lastScreen().find("<=>"), std::string::npos) << s.lastScreen();  // the marquee
  s.sendKeys({"C-c"});
  ASSERT_TRUE(s.waitFor("exit=")) << s.screen();
  // A cancelled check is a failed one with an empty message, shown as such.
  EXPECT_TRUE(hasRow(s.screen(), "[error] Error:")) << s.lastScreen();
  EXPECT_TRUE(hasRow(s.lastScreen(), "exit=0")) << s.lastScreen();
  EXPECT_TRUE(s.cursorVisible());
  // The program ended its own way: the log has its closing line.
  EXPECT_NE(log().find("=== MiniLog closed."), std::string::npos) << log();
}

TEST_F(TerminalSessionTest, TheQuestionIsAnsweredAtItsPrompt) {
  publish(1);
  publish(2);
  image("1.0");
  TmuxSession s(command("update"));
  ASSERT_TRUE(s.waitFor("[Y/n]")) << s.screen();
  EXPECT_TRUE(hasRow(s.lastScreen(), "[question] VELTRA UPDATE: New version 2.0 is available. Update? [Y/n]"))
      << s.lastScreen();
  s.sendKeys({"n", "Enter"});
  ASSERT_TRUE(s.waitFor("exit=0")) << s.screen();
  EXPECT_EQ(log().find("Downloading update"), std::string::npos) << log();
}

TEST_F(TerminalSessionTest, CancellingTheWaitForABusyLockEndsTheRun) {
  publish(1);
  image("1.0");
  std::filesystem::create_directories(writeFolder());
  LockHolder holder(writeFolder() + "/autoupdate.lock");
  ASSERT_TRUE(holder.held());
  TmuxSession s(command("update"));
  ASSERT_TRUE(s.waitFor("Waiting for DB lock...")) << s.screen();
  s.sendKeys({"C-c"});
  ASSERT_TRUE(s.waitFor("exit=")) << s.screen();
  EXPECT_TRUE(hasRow(s.screen(), "[error] Error: Another updater instance is running.")) << s.lastScreen();
  EXPECT_TRUE(hasRow(s.lastScreen(), "exit=1")) << s.lastScreen();
}

}  // namespace
}  // namespace nx::test
