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
};

TEST_F(TerminalSessionTest, AnUpdateStaysInTheForegroundUntilItsLastStageAndPassesCancelOn) {
  namespace fs = std::filesystem;
  // 2.0 brings an updater of its own, so a continue stage fetches the rest;
  // one object of that rest hangs until the user cancels.
  const std::string newUpdater = path("autoupdate-2.0");
  writeText(newUpdater, fileText(build("autoupdate")) + "\nupdater of VELTRA 2.0\n");
  fs::permissions(newUpdater, fs::perms(0755));
  HttpServer server;
  publish(1, server.url("/repo"));
  publish(2, server.url("/repo"), newUpdater);
  image("1.0");
  const std::string quests = examples() + "/product-v2/data/quests.txt";
  const std::string id = runProgram("/usr/bin/sha256sum", {quests}).out.substr(0, 64);
  const std::string object = repo() + "/objects/" + id.substr(0, 2) + "/" + id;
  const std::string kept = fileText(object);
  server.serveFolder("/repo", repo());
  server.stall("/repo/objects/" + id.substr(0, 2) + "/" + id);

  // Ctrl-C cancels a stalled check through its dialog; the program ends its own way.
  server.stall("/repo/update/stable");
  {
    TmuxSession s(command("update"));
    ASSERT_TRUE(s.waitFor("Checking for updates...")) << s.screen();
    EXPECT_NE(s.lastScreen().find("<=>"), std::string::npos) << s.lastScreen();  // the marquee
    s.sendKeys({"C-c"});
    ASSERT_TRUE(s.waitFor("exit=0")) << s.screen();
    EXPECT_TRUE(TmuxSession::hasRow(s.lastScreen(), "Cancelled.") && s.cursorVisible()) << s.lastScreen();
    EXPECT_NE(log().find("=== MiniLog closed."), std::string::npos) << log();
  }
  server.serve("/repo/update/stable", fileText(repo() + "/update/stable"));

  auto updateOnce = [&](bool cancel) {
    TmuxSession s(command("update"));
    EXPECT_TRUE(s.waitFor("[Y/n]")) << s.screen();
    EXPECT_TRUE(
        TmuxSession::hasRow(s.lastScreen(), "[question] VELTRA UPDATE: New version 2.0 is available. Update? [Y/n]"));
    s.sendKeys({"y", "Enter"});
    if (cancel) {
      // The continue stage draws its progress in this terminal and takes the keys.
      EXPECT_TRUE(s.waitUntil([&](const std::string& screen) {
        return screen.find("Downloading updates...") != std::string::npos && count(log(), "=== MiniLog opened") == 2;
      })) << s.lastScreen();
      s.sendKeys({"C-c"});
    }
    EXPECT_TRUE(s.waitFor("exit=", std::chrono::seconds(60))) << s.screen();
    return s.lastScreen();
  };
  std::string screen = updateOnce(true);
  EXPECT_TRUE(TmuxSession::hasRow(screen, "Cancelled.")) << screen;
  EXPECT_TRUE(TmuxSession::hasRow(screen, "exit=0")) << screen;
  EXPECT_EQ(fileText(install() + "/bin/autoupdate"), fileText(build("autoupdate")));

  server.serve("/repo/objects/" + id.substr(0, 2) + "/" + id, kept);  // no longer stalled
  screen = updateOnce(false);
  // The command returned only once the whole chain had ended.
  EXPECT_TRUE(TmuxSession::hasRow(screen, "Updated VELTRA 1.0 to 2.0.")) << screen;
  EXPECT_TRUE(TmuxSession::hasRow(screen, "exit=0")) << screen;
  EXPECT_EQ(fileText(install() + "/bin/autoupdate"), fileText(newUpdater));
  EXPECT_NE(log().find("The update ended with exit code 0"), std::string::npos) << log();
}

}  // namespace
}  // namespace nx::test
