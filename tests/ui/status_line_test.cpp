// What the text backends show: the terminal's status line and the plain lines.
#include "ui/status_line.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "base/text.h"
#include "support/scoped_env.h"
#include "ui/plain_backend.h"

namespace {
using namespace nx::ui;

int columnsOf(const std::string& line) {
  int width = 0;
  for (wchar_t c : nx::fromUtf8(line)) width += displayWidth(c);
  return width;
}

TEST(StatusLine, NeverWiderThanTheTerminalAndHarmlessToIt) {
  for (int columns : {1, 12, 30, 41}) {
    for (float progress : {-1.0f, 0.5f}) {
      std::string line = renderStatusLine(progress, L"\u66F4\u65B0\u3092\u78BA\u8A8D\u3057\u3066\u3044\u307E\u3059",
                                          L"12.3/100.0 MB, 1s left", columns, 7);
      EXPECT_LE(columnsOf(line), std::max(columns - 1, 1)) << line;
      EXPECT_NE(line.back(), ' ');
      EXPECT_NE(line.back(), ',');
    }
  }
  std::string line = renderStatusLine(-1,
                                      L"a\x1b[2J\x9b"
                                      L"b\tc",
                                      L"", 80, 0);
  EXPECT_EQ(line.find('\x1b'), std::string::npos);
  EXPECT_NE(line.find("a?[2J?b c"), std::string::npos) << line;
}

TEST(StatusLine, TimeLeftFollowsTheRecentPace) {
  TimeLeft left;
  left.observe(0, 0.1f);
  left.observe(0.5, 0.15f);
  EXPECT_FALSE(left.secondsLeft());  // too soon to tell
  left.observe(2, 0.3f);
  ASSERT_TRUE(left.secondsLeft());
  EXPECT_NEAR(*left.secondsLeft(), 7.0, 1e-3);
  // Older samples drop out: the pace is that of the last ten seconds.
  left.observe(20, 0.4f);
  left.observe(30, 0.5f);
  EXPECT_NEAR(*left.secondsLeft(), 50.0, 1e-3);
  left.observe(41, 0.5f);
  EXPECT_FALSE(left.secondsLeft());  // stalled
  left.observe(42, 0.2f);            // a new stage starts over
  left.observe(43, 0.9f);
  EXPECT_NEAR(*left.secondsLeft(), 1 / 7.0, 1e-3);
  left.observe(44, -1);
  left.observe(45, 0.95f);
  EXPECT_FALSE(left.secondsLeft());
  left.observe(46, 1.0f);
  EXPECT_FALSE(left.secondsLeft());  // done
  EXPECT_EQ(timeLeftText(7.4), "7s left");
  EXPECT_EQ(timeLeftText(60), "1m00s left");
  EXPECT_EQ(timeLeftText(7620), "2h07m left");
}

TEST(PlainBackend, PrintsStatusChangesThrottlesDetailChangesAndShowsBoxesLineByLine) {
  std::ostringstream out;
  PlainBackend plain(out, 3);
  // Status changes show at once, detail changes at most every third step.
  std::vector<std::wstring> texts = {
      L"Checking",      L"",          L"Checking", L"Loading\n1 MB", L"Loading\n2 MB", L"Loading\n3 MB",
      L"Loading\n4 MB", L"Done\u00E9"};
  size_t calls = 0;
  auto step = [&](float& progress, std::wstring& text) {
    progress = -1;
    if (calls == texts.size()) return false;
    text = texts[calls++];
    return true;
  };
  EXPECT_EQ(plain.runProgressDialog(step, true, 1), DialogResult::Finished);
  EXPECT_EQ(out.str(), "Checking\nLoading 1 MB\nLoading 4 MB\nDone\xC3\xA9\n");
  out.str("");
  // Questions take the answer from the environment.
  nx::test::ScopedEnv unset("AUTOUPDATE_ANSWER", nullptr);
  EXPECT_EQ(plain.messageBox(L"Disk full\n", L"Error", Icon::Error, Buttons::Ok), Button::Ok);
  EXPECT_EQ(plain.messageBox(L"a\nb", L"VELTRA UPDATE", Icon::Warning, Buttons::Ok), Button::Ok);
  EXPECT_EQ(plain.messageBox(L"Update?", L"VELTRA UPDATE", Icon::Question, Buttons::YesNo), Button::Yes);
  // A text from a server cannot steer the terminal.
  EXPECT_EQ(plain.messageBox(L"New version 1\x1b]0;x\x07\x9b"
                             L"2J\tis available.",
                             L"c", Icon::Question, Buttons::Ok),
            Button::Ok);
  EXPECT_EQ(out.str(),
            "[error] Error: Disk full\n"
            "[warning] VELTRA UPDATE: a\n  b\n"
            "[question] VELTRA UPDATE: Update?\n"
            "[question] c: New version 1?]0;x??2J is available.\n");
  {
    nx::test::ScopedEnv no("AUTOUPDATE_ANSWER", "NO");
    EXPECT_EQ(plain.messageBox(L"Update?", L"c", Icon::Question, Buttons::YesNo), Button::No);
    EXPECT_EQ(plain.messageBox(L"OK?", L"c", Icon::Information, Buttons::Ok), Button::Ok);
  }
  nx::test::ScopedEnv other("AUTOUPDATE_ANSWER", "maybe");
  EXPECT_EQ(plain.messageBox(L"Update?", L"c", Icon::Question, Buttons::YesNo), Button::Yes);
}

}  // namespace
