// The terminal backend as a person meets it: the probe program runs in a tmux
// pane, the test presses keys and reads the screen.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>

#include <algorithm>
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

// A row that is exactly this text: it starts at the left edge, so whatever
// was drawn before left the cursor on a fresh line.
bool hasRow(const std::string& screen, const std::string& row) {
  auto rows = TmuxSession::rowsOf(screen);
  return std::find(rows.begin(), rows.end(), row) != rows.end();
}

std::string rowWith(const std::string& screen, const std::string& text) {
  for (const auto& row : TmuxSession::rowsOf(screen))
    if (row.find(text) != std::string::npos) return row;
  return {};
}

// The bar in front of the status text ("[...]"), empty when none is drawn.
std::string barOf(const std::string& screen) {
  const std::string row = rowWith(screen, "] Checking for updates...");
  return row.substr(0, row.find(']') + 1);
}

int percentShown(const std::string& screen) {
  std::smatch m;
  static const std::regex percent(R"(\] +(\d+)% )");
  return std::regex_search(screen, m, percent) ? std::stoi(m[1]) : -1;
}

// The screen once the probe ended with this line, the cursor shown again.
std::string endScreen(TmuxSession& s, const std::string& exitLine = "exit=0 tty=same") {
  EXPECT_TRUE(s.waitFor("exit=")) << s.screen();
  std::string screen = s.screen();
  EXPECT_PRED2(hasRow, screen, exitLine);
  EXPECT_TRUE(s.cursorVisible());
  return screen;
}

TEST(TerminalUi, BarAdvancesWithTheTransferLineAndCtrlCCancels) {
  TmuxSession s(probe("AUTOUPDATE_UI=auto", "--steps 2000 --period 50 --transfer"));
  int first = -1;
  ASSERT_TRUE(s.waitUntil([&](const std::string& screen) { return (first = percentShown(screen)) >= 0; }))
      << s.screen();
  ASSERT_TRUE(s.waitUntil([&](const std::string& screen) { return percentShown(screen) > first; })) << s.screen();
  // Status, transfer line and, once the pace is known, the time left share the bar's row.
  ASSERT_TRUE(s.waitFor(" left")) << s.screen();
  EXPECT_TRUE(std::regex_match(rowWith(s.lastScreen(), "Downloading updates..."),
                               std::regex(R"(\[#*-*\] +\d+% Downloading updates\.\.\.  )"
                                          R"(\d+\.\d/100\.0 MB @  250\.0 KB/s, \d+(m\d\d)?s left)")))
      << s.lastScreen();
  EXPECT_FALSE(s.cursorVisible());

  s.sendKeys({"C-c"});
  // Cancelled through the dialog's own exit: the program went on after it.
  std::string screen = endScreen(s);
  for (const char* row : {"dialog: cancelled", "[information] VELTRA UPDATE: Probe done.", "end"})
    EXPECT_PRED2(hasRow, screen, row);
  EXPECT_EQ(rowWith(screen, "Downloading"), "") << screen;
}

TEST(TerminalUi, MarqueeMovesWhileTheAmountIsUnknownEnterAcceptsEscapeCancels) {
  for (std::string key : {"Enter", "Escape"}) {
    TmuxSession s(probe("AUTOUPDATE_UI=auto", "--unknown --hold"));
    std::string bar;
    ASSERT_TRUE(s.waitUntil([&](const std::string& screen) { return !(bar = barOf(screen)).empty(); })) << s.screen();
    EXPECT_NE(bar.find("<=>"), std::string::npos) << bar;
    EXPECT_EQ(percentShown(s.lastScreen()), -1);
    EXPECT_PRED2(hasRow, s.lastScreen(), bar + " Checking for updates...");
    ASSERT_TRUE(s.waitUntil([&](const std::string& screen) { return !barOf(screen).empty() && barOf(screen) != bar; }))
        << s.screen();
    // An arrow key's sequence starts with ESC but is no Escape.
    s.sendKeys({"Up", key});
    EXPECT_PRED2(hasRow, endScreen(s), key == "Enter" ? "dialog: accepted" : "dialog: cancelled");
  }
}

TEST(TerminalUi, WithoutCancelKeysAreIgnoredAndASecondCtrlCInterrupts) {
  TmuxSession s(probe("AUTOUPDATE_UI=auto", "--unknown --hold --no-cancel"));
  ASSERT_TRUE(s.waitFor("Checking for updates...")) << s.screen();
  s.sendKeys({"Escape"});
  s.sendKeys({"Enter"});
  s.sendKeys({"C-c"});
  // The hint shows after the two ignored keys: the dialog still runs.
  ASSERT_TRUE(s.waitFor("cannot be cancelled; Ctrl-C again to quit")) << s.screen();
  EXPECT_EQ(rowWith(s.lastScreen(), "dialog:"), "");
  s.sendKeys({"C-c"});
  std::string screen = endScreen(s, "exit=130 tty=same");
  EXPECT_EQ(rowWith(screen, "dialog:") + rowWith(screen, "Checking"), "") << screen;
}

TEST(TerminalUi, NarrowLineAndTerminalRestoredWhenTheStepThrowsOrASignalEndsTheProgram) {
  {
    TmuxSession s(probe("AUTOUPDATE_UI=auto", "--unknown --hold --throw-at 5"));
    EXPECT_PRED2(hasRow, endScreen(s), "caught: step failed");
  }
  for (auto [sig, exitLine] : {std::pair{SIGTERM, "exit=143 tty=same"}, std::pair{SIGHUP, "exit=129 tty=same"}}) {
    TmuxSession s(probe("AUTOUPDATE_UI=auto", "--hold --transfer"), 40, 10);
    ASSERT_TRUE(s.waitFor("Downloading updates...")) << s.screen();
    // On a narrow terminal the line is cut, never wrapped onto the next row.
    const std::string row = rowWith(s.lastScreen(), "Downloading");
    EXPECT_TRUE(row.starts_with("[") && row.size() <= 39 && s.lastScreen().find(row + "\n\n") != std::string::npos)
        << s.lastScreen();
    std::smatch m;
    ASSERT_TRUE(std::regex_search(s.lastScreen(), m, std::regex(R"(ui_probe pid (\d+))"))) << s.lastScreen();
    ASSERT_EQ(::kill(static_cast<pid_t>(std::stol(m[1])), sig), 0);
    EXPECT_EQ(rowWith(endScreen(s, exitLine), "Downloading"), "") << s.lastScreen();
  }
}

const std::string kPrompt = "[question] VELTRA UPDATE: New version 2.0 is available. Update? [Y/n]";

TEST(TerminalUi, QuestionIsAPromptWithTheDefaultOnEnter) {
  struct Case {
    std::vector<std::vector<std::string>> keys;  // sent one group per prompt shown
    const char* answer;
  };
  const Case cases[] = {
      {{{"Enter"}}, "answer: yes"},
      {{{"m", "a", "y", "b", "e", "Enter"}, {"Space", "N", "o", "Enter"}}, "answer: no"},  // asked again
      {{{"C-d"}}, "answer: yes"},                                                          // end of input: the default
      {{{"C-c"}}, "answer: no"},
  };
  for (const auto& c : cases) {
    TmuxSession s(probe("AUTOUPDATE_UI=auto", "--steps 2 --question"));
    for (size_t i = 0; i < c.keys.size(); ++i) {
      ASSERT_TRUE(s.waitUntil([&](const std::string& screen) {
        size_t shown = 0;
        for (size_t at = 0; (at = screen.find("[Y/n]", at)) != std::string::npos; ++at) ++shown;
        return shown == i + 1;
      })) << s.screen();
      s.sendKeys(c.keys[i]);
    }
    std::string screen = endScreen(s);
    for (const char* row : {"dialog: finished", c.answer, "[information] VELTRA UPDATE: Probe done."})
      EXPECT_PRED2(hasRow, screen, row);
    EXPECT_EQ(rowWith(screen, kPrompt).rfind(kPrompt, 0), 0u) << screen;
  }
  // A scripted run answers through the environment; the prompt shows it.
  TmuxSession s(probe("AUTOUPDATE_UI=auto AUTOUPDATE_ANSWER=no", "--steps 2 --question"));
  std::string screen = endScreen(s);
  EXPECT_PRED2(hasRow, screen, kPrompt + " n");
  EXPECT_PRED2(hasRow, screen, "answer: no");
}

TEST(TerminalUi, PlainLinesWhenNotATerminalOrAskedFor) {
  // Plain: the status as a line of its own, the question answered by its default.
  for (auto [env, input] : {std::pair{"AUTOUPDATE_UI=auto", "</dev/null "}, std::pair{"AUTOUPDATE_UI=plain", ""},
                            std::pair{"AUTOUPDATE_UI=auto TERM=dumb", ""}}) {
    SCOPED_TRACE(std::string(env) + input);
    TmuxSession s(probe(std::string(env) + " AUTOUPDATE_ANSWER=no", "--steps 2 --question", input));
    std::string screen = endScreen(s);
    for (const char* row :
         {"Checking for updates...", "[question] VELTRA UPDATE: New version 2.0 is available. Update?", "answer: no"})
      EXPECT_PRED2(hasRow, screen, row);
  }
  // The terminal backend on request, with answers from a pipe.
  TmuxSession s(probe("AUTOUPDATE_UI=terminal", "--steps 40 --question", "printf 'yes\\n' | "));
  std::string screen = endScreen(s);
  EXPECT_PRED2(hasRow, screen, kPrompt);
  EXPECT_PRED2(hasRow, screen, "answer: yes");
  EXPECT_EQ(rowWith(screen, "Checking"), "") << screen;
}

}  // namespace
