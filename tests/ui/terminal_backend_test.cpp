// The terminal backend as a person meets it: the probe program runs in a tmux
// pane, the test presses keys and reads the screen.
#include <signal.h>
#include <sys/types.h>

#include <gtest/gtest.h>

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
std::string probeCommand(const std::string& env, const std::string& args, const std::string& input = "") {
  return "set -m; trap true INT; S=$(stty -g); " + input + env + " " + TmuxSession::quote(NX_BUILD_DIR "/ui_probe") + " " + args +
         "; rc=$?; if [ \"$(stty -g)\" = \"$S\" ]; then t=same; else t=changed; fi; echo \"exit=$rc tty=$t\"; "
         "exec sleep 600";
}

std::vector<std::string> rowsOf(const std::string& screen) { return TmuxSession::rowsOf(screen); }

// A row that is exactly this text: it starts at the left edge, so whatever
// was drawn before left the cursor on a fresh line.
bool hasRow(const std::string& screen, const std::string& row) {
  auto rows = rowsOf(screen);
  return std::find(rows.begin(), rows.end(), row) != rows.end();
}

std::string rowWith(const std::string& screen, const std::string& text) {
  for (const auto& row : rowsOf(screen))
    if (row.find(text) != std::string::npos) return row;
  return {};
}

// The bar at the start of the dialog's row ("[...]"), empty when none is drawn.
std::string barOf(const std::string& screen) {
  for (const auto& row : rowsOf(screen))
    if (row.rfind("[", 0) == 0 && row.find(']') != std::string::npos && row.rfind("[question]", 0) != 0 &&
        row.rfind("[information]", 0) != 0)
      return row.substr(0, row.find(']') + 1);
  return {};
}

int percentShown(const std::string& screen) {
  std::smatch m;
  static const std::regex percent(R"(\] +(\d+)% )");
  return std::regex_search(screen, m, percent) ? std::stoi(m[1]) : -1;
}

void expectCleanEnd(TmuxSession& s, const std::string& exitLine) {
  ASSERT_TRUE(s.waitFor("exit=")) << s.screen();
  std::string screen = s.screen();
  EXPECT_TRUE(hasRow(screen, exitLine)) << screen;
  EXPECT_TRUE(s.cursorVisible());
}

TEST(TerminalUi, BarAdvancesWithTheTransferLineAndCtrlCCancels) {
  TmuxSession s(probeCommand("AUTOUPDATE_UI=auto", "--steps 2000 --period 50 --transfer"));
  int first = -1;
  ASSERT_TRUE(s.waitUntil([&](const std::string& screen) { return (first = percentShown(screen)) >= 0; }))
      << s.screen();
  ASSERT_TRUE(s.waitUntil([&](const std::string& screen) { return percentShown(screen) > first; })) << s.screen();
  // Status, transfer line and, once the pace is known, the time left share the bar's row.
  ASSERT_TRUE(s.waitFor(" left")) << s.screen();
  std::string row = rowWith(s.lastScreen(), "Downloading updates...");
  EXPECT_TRUE(std::regex_match(row, std::regex(R"(\[#*-*\] +\d+% Downloading updates\.\.\.  )"
                                               R"(\d+\.\d/100\.0 MB @  250\.0 KB/s, \d+(m\d\d)?s left)")))
      << row;
  EXPECT_FALSE(s.cursorVisible());

  s.sendKeys({"C-c"});
  expectCleanEnd(s, "exit=0 tty=same");
  std::string screen = s.screen();
  // Cancelled through the dialog's own exit: the program went on after it.
  EXPECT_TRUE(hasRow(screen, "dialog: cancelled")) << screen;
  EXPECT_TRUE(hasRow(screen, "[information] VELTRA UPDATE: Probe done.")) << screen;
  EXPECT_TRUE(hasRow(screen, "end")) << screen;
  EXPECT_EQ(rowWith(screen, "Downloading"), "") << screen;
}

TEST(TerminalUi, MarqueeMovesWhileTheAmountIsUnknownEnterAcceptsEscapeCancels) {
  for (const char* key : {"Enter", "Escape"}) {
    TmuxSession s(probeCommand("AUTOUPDATE_UI=auto", "--unknown --hold"));
    std::string bar;
    ASSERT_TRUE(s.waitUntil([&](const std::string& screen) { return !(bar = barOf(screen)).empty(); }))
        << s.screen();
    EXPECT_NE(bar.find("<=>"), std::string::npos) << bar;
    EXPECT_EQ(percentShown(s.lastScreen()), -1);
    EXPECT_TRUE(hasRow(s.lastScreen(), bar + " Checking for updates...")) << s.lastScreen();
    ASSERT_TRUE(s.waitUntil([&](const std::string& screen) {
      std::string now = barOf(screen);
      return !now.empty() && now != bar;
    })) << s.screen();
    // An arrow key's sequence starts with ESC but is no Escape.
    s.sendKeys({"Up", key});
    expectCleanEnd(s, "exit=0 tty=same");
    EXPECT_TRUE(hasRow(s.screen(), std::string("dialog: ") + (key == std::string("Enter") ? "accepted" : "cancelled")))
        << s.screen();
  }
}

TEST(TerminalUi, LineFitsANarrowTerminal) {
  TmuxSession s(probeCommand("AUTOUPDATE_UI=terminal", "--transfer --hold"), 40, 10);
  ASSERT_TRUE(s.waitFor("Downloading updates...")) << s.screen();
  auto rows = rowsOf(s.lastScreen());
  auto at = std::find_if(rows.begin(), rows.end(), [](auto& r) { return r.find("Downloading") != std::string::npos; });
  ASSERT_NE(at, rows.end());
  EXPECT_EQ(at->rfind("[", 0), 0u) << *at;
  EXPECT_LE(at->size(), 39u) << *at;  // cut, never wrapped onto the next row
  ASSERT_NE(at + 1, rows.end());
  EXPECT_EQ(*(at + 1), "");
  s.sendKeys({"C-c"});
  expectCleanEnd(s, "exit=0 tty=same");
}

TEST(TerminalUi, WithoutCancelKeysAreIgnoredAndASecondCtrlCInterrupts) {
  TmuxSession s(probeCommand("AUTOUPDATE_UI=auto", "--unknown --hold --no-cancel"));
  ASSERT_TRUE(s.waitFor("Checking for updates...")) << s.screen();
  s.sendKeys({"Escape"});
  s.sendKeys({"Enter"});
  s.sendKeys({"C-c"});
  // The hint shows after the two ignored keys: the dialog still runs.
  ASSERT_TRUE(s.waitFor("cannot be cancelled; Ctrl-C again to quit")) << s.screen();
  EXPECT_EQ(rowWith(s.lastScreen(), "dialog:"), "");
  s.sendKeys({"C-c"});
  expectCleanEnd(s, "exit=130 tty=same");
  EXPECT_EQ(rowWith(s.screen(), "dialog:"), "") << s.screen();
  EXPECT_EQ(rowWith(s.screen(), "Checking"), "") << s.screen();
}

TEST(TerminalUi, TerminalIsRestoredWhenTheStepThrowsOrASignalEndsTheProgram) {
  {
    TmuxSession s(probeCommand("AUTOUPDATE_UI=auto", "--unknown --hold --throw-at 5"));
    expectCleanEnd(s, "exit=0 tty=same");
    EXPECT_TRUE(hasRow(s.screen(), "caught: step failed")) << s.screen();
  }
  for (auto [sig, exitLine] : {std::pair{SIGTERM, "exit=143 tty=same"}, std::pair{SIGHUP, "exit=129 tty=same"}}) {
    TmuxSession s(probeCommand("AUTOUPDATE_UI=auto", "--hold --transfer"));
    ASSERT_TRUE(s.waitFor("Downloading updates...")) << s.screen();
    std::smatch m;
    std::string screen = s.screen();
    ASSERT_TRUE(std::regex_search(screen, m, std::regex(R"(ui_probe pid (\d+))"))) << screen;
    ASSERT_EQ(::kill(static_cast<pid_t>(std::stol(m[1])), sig), 0);
    expectCleanEnd(s, exitLine);
    EXPECT_EQ(rowWith(s.screen(), "Downloading"), "") << s.screen();
  }
}

TEST(TerminalUi, QuestionIsAPromptWithTheDefaultOnEnter) {
  const std::string prompt = "[question] VELTRA UPDATE: New version 2.0 is available. Update? [Y/n]";
  struct Case {
    std::vector<std::vector<std::string>> keys;  // sent one group per prompt shown
    const char* answer;
  };
  const Case cases[] = {
      {{{"Enter"}}, "answer: yes"},
      {{{"m", "a", "y", "b", "e", "Enter"}, {"Space", "N", "o", "Enter"}}, "answer: no"},  // asked again
      {{{"C-d"}}, "answer: yes"},  // end of input: the default
      {{{"C-c"}}, "answer: no"},
  };
  for (const auto& c : cases) {
    TmuxSession s(probeCommand("AUTOUPDATE_UI=auto", "--steps 2 --question"));
    for (size_t i = 0; i < c.keys.size(); ++i) {
      ASSERT_TRUE(s.waitUntil([&](const std::string& screen) {
        size_t shown = 0;
        for (size_t at = 0; (at = screen.find("[Y/n]", at)) != std::string::npos; ++at) ++shown;
        return shown == i + 1;
      })) << s.screen();
      s.sendKeys(c.keys[i]);
    }
    expectCleanEnd(s, "exit=0 tty=same");
    std::string screen = s.screen();
    EXPECT_TRUE(hasRow(screen, "dialog: finished")) << screen;
    EXPECT_TRUE(hasRow(screen, c.answer)) << screen;
    EXPECT_NE(rowWith(screen, prompt).rfind(prompt, 0), std::string::npos) << screen;
    EXPECT_TRUE(hasRow(screen, "[information] VELTRA UPDATE: Probe done.")) << screen;
  }
  // A scripted run answers through the environment; the prompt shows it.
  TmuxSession s(probeCommand("AUTOUPDATE_UI=auto AUTOUPDATE_ANSWER=no", "--steps 2 --question"));
  expectCleanEnd(s, "exit=0 tty=same");
  EXPECT_TRUE(hasRow(s.screen(), prompt + " n")) << s.screen();
  EXPECT_TRUE(hasRow(s.screen(), "answer: no")) << s.screen();
}

TEST(TerminalUi, PlainLinesWhenNotATerminalOrAskedFor) {
  // Plain: the status as a line of its own, the question answered by its default.
  for (auto [env, input] : {std::pair{"AUTOUPDATE_UI=auto", "</dev/null "}, std::pair{"AUTOUPDATE_UI=plain", ""},
                            std::pair{"AUTOUPDATE_UI=auto TERM=dumb", ""}}) {
    TmuxSession s(probeCommand(std::string(env) + " AUTOUPDATE_ANSWER=no", "--steps 2 --question", input));
    expectCleanEnd(s, "exit=0 tty=same");
    std::string screen = s.screen();
    EXPECT_TRUE(hasRow(screen, "Checking for updates...")) << env << input << "\n" << screen;
    EXPECT_TRUE(hasRow(screen, "[question] VELTRA UPDATE: New version 2.0 is available. Update?")) << screen;
    EXPECT_TRUE(hasRow(screen, "answer: no")) << screen;
  }
  // The terminal backend on request, with answers from a pipe.
  TmuxSession s(probeCommand("AUTOUPDATE_UI=terminal", "--steps 40 --question", "printf 'yes\\n' | "));
  expectCleanEnd(s, "exit=0 tty=same");
  std::string screen = s.screen();
  EXPECT_TRUE(hasRow(screen, "[question] VELTRA UPDATE: New version 2.0 is available. Update? [Y/n]")) << screen;
  EXPECT_TRUE(hasRow(screen, "answer: yes")) << screen;
  EXPECT_EQ(rowWith(screen, "Checking"), "") << screen;
}

}  // namespace
