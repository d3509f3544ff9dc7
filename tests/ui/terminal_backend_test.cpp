// The terminal backend as a person meets it: the probe program runs in a tmux
// pane, the test presses keys and reads the screen.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>

#include <regex>
#include <string>
#include <vector>

#include "support/tmux_session.h"

namespace {

using nx::test::TmuxSession;

// The probe under a shell with job control, as at a prompt (so Ctrl-C
// reaches the probe alone; the trap keeps the shell going when the probe dies
// of SIGINT, as an interactive shell would). Once the probe ended the shell prints its exit
// status and whether the terminal's modes are as they were before it started,
// "exit=<status> tty=same", on a line of its own, and stays (a pane whose
// program ended no longer shows the cursor state).
std::string probe(const std::string& env, const std::string& args, const std::string& input = "") {
  return "set -m; trap true INT; S=$(stty -g); " + input + env + " " + TmuxSession::quote(NX_BUILD_DIR "/ui_probe") +
         " " + args +
         "; rc=$?; if [ \"$(stty -g)\" = \"$S\" ]; then t=same; else t=changed; fi; "
         "echo \"exit=$rc tty=$t\"; exec sleep 600";
}

bool lacks(const std::string& screen, const std::string& text) { return screen.find(text) == std::string::npos; }

// The screen once the probe ended with this line, the cursor shown again.
std::string endScreen(TmuxSession& s, const std::string& exitLine = "exit=0 tty=same") {
  EXPECT_TRUE(s.waitFor("exit=")) << s.screen();
  std::string screen = s.screen();
  EXPECT_PRED2(TmuxSession::hasRow, screen, exitLine);
  EXPECT_TRUE(s.cursorVisible());
  return screen;
}

TEST(TerminalUi, WithoutCancelKeysAreIgnoredAndASecondCtrlCInterrupts) {
  TmuxSession s(probe("AUTOUPDATE_UI=auto", "--unknown --hold --no-cancel"));
  ASSERT_TRUE(s.waitFor("Checking for updates...")) << s.screen();
  s.sendKeys({"Enter"});  // ignored: no hint
  EXPECT_FALSE(s.waitFor("cannot be cancelled", std::chrono::milliseconds(500))) << s.lastScreen();
  s.sendKeys({"Escape"});
  s.sendKeys({"Enter"});
  s.sendKeys({"C-c"});
  // The hint shows after the two ignored keys: the dialog still runs.
  ASSERT_TRUE(s.waitFor("cannot be cancelled; Ctrl-C again to quit")) << s.screen();
  s.sendKeys({"C-c"});
  std::string screen = endScreen(s, "exit=130 tty=same");
  EXPECT_TRUE(lacks(screen, "dialog:") && lacks(screen, "Checking")) << screen;
}

TEST(TerminalUi, TerminalRestoredWhenASignalEndsTheProgram) {
  for (auto [sig, exitLine] : {std::pair{SIGTERM, "exit=143 tty=same"}, std::pair{SIGHUP, "exit=129 tty=same"}}) {
    TmuxSession s(probe("AUTOUPDATE_UI=auto", "--hold --transfer"));
    ASSERT_TRUE(s.waitFor("Downloading updates...")) << s.screen();
    std::smatch m;
    ASSERT_TRUE(std::regex_search(s.lastScreen(), m, std::regex(R"(ui_probe pid (\d+))"))) << s.lastScreen();
    ASSERT_EQ(::kill(static_cast<pid_t>(std::stol(m[1])), sig), 0);
    EXPECT_PRED2(lacks, endScreen(s, exitLine), "Downloading");
  }
}

}  // namespace
