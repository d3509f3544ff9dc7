#include "ui/plain_backend.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "support/scoped_env.h"

namespace {
using namespace nx::ui;

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
  EXPECT_EQ(plain.messageBox(L"No version 1.", L"VELTRA UPDATE", Icon::Information, Buttons::Ok), Button::Ok);
  EXPECT_EQ(plain.messageBox(L"Update?", L"VELTRA UPDATE", Icon::Question, Buttons::YesNo), Button::Yes);
  // A text from a server cannot steer the terminal.
  EXPECT_EQ(plain.messageBox(L"New version 1\x1b]0;x\x07\x9b"
                             L"2J\tis available.",
                             L"c", Icon::Question, Buttons::Ok),
            Button::Ok);
  EXPECT_EQ(out.str(),
            "[error] Error: Disk full\n"
            "[warning] VELTRA UPDATE: a\n  b\n"
            "[information] VELTRA UPDATE: No version 1.\n"
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
