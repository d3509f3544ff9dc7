#include "ui/plain_backend.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "support/scoped_env.h"
#include "support/scripted_ui.h"

namespace nx::ui {
namespace {

// A step that returns the given texts one per call, then ends.
ProgressStep scripted(const std::vector<std::wstring>& texts, int& calls) {
  return [&texts, &calls](float& progress, std::wstring& text) {
    progress = -1;
    if (calls >= static_cast<int>(texts.size())) return false;
    text = texts[calls++];
    return true;
  };
}

TEST(PlainBackend, PrintsStatusChangesAndThrottlesDetailChanges) {
  std::ostringstream out;
  PlainBackend plain(out, 3);
  std::vector<std::wstring> texts = {L"Checking", L"", L"Checking", L"Loading\n1 MB", L"Loading\n2 MB",
                                     L"Loading\n3 MB", L"Loading\n4 MB", L"Done\u00E9"};
  int calls = 0;
  EXPECT_EQ(plain.runProgressDialog(scripted(texts, calls), true, 1), DialogResult::Finished);
  EXPECT_EQ(out.str(), "Checking\nLoading 1 MB\nLoading 4 MB\nDone\xC3\xA9\n");

  std::ostringstream quiet;
  PlainBackend second(quiet);
  int none = 0;
  std::vector<std::wstring> empty;
  EXPECT_EQ(second.runProgressDialog(scripted(empty, none), false, 100000), DialogResult::Finished);
  EXPECT_EQ(quiet.str(), "");
}

TEST(PlainBackend, MessageBoxIsOneLineAndQuestionsTakeTheAnswerFromTheEnvironment) {
  std::ostringstream out;
  PlainBackend plain(out);
  test::ScopedEnv unset("AUTOUPDATE_ANSWER", nullptr);
  EXPECT_EQ(plain.messageBox(L"Disk full\n", L"Error", Icon::Error, Buttons::Ok), Button::Ok);
  EXPECT_EQ(plain.messageBox(L"a\nb", L"VELTRA UPDATE", Icon::Warning, Buttons::Ok), Button::Ok);
  EXPECT_EQ(plain.messageBox(L"Version 1 is not available.", L"VELTRA UPDATE", Icon::Information, Buttons::Ok),
            Button::Ok);
  EXPECT_EQ(plain.messageBox(L"Update?", L"VELTRA UPDATE", Icon::Question, Buttons::YesNo), Button::Yes);
  EXPECT_EQ(out.str(),
            "[error] Error: Disk full\n"
            "[warning] VELTRA UPDATE: a b\n"
            "[information] VELTRA UPDATE: Version 1 is not available.\n"
            "[question] VELTRA UPDATE: Update?\n");
  {
    test::ScopedEnv no("AUTOUPDATE_ANSWER", "NO");
    EXPECT_EQ(plain.messageBox(L"Update?", L"c", Icon::Question, Buttons::YesNo), Button::No);
    EXPECT_EQ(plain.messageBox(L"OK?", L"c", Icon::Information, Buttons::Ok), Button::Ok);
  }
  test::ScopedEnv other("AUTOUPDATE_ANSWER", "maybe");
  EXPECT_EQ(plain.messageBox(L"Update?", L"c", Icon::Question, Buttons::YesNo), Button::Yes);
}

TEST(ProgressDialog, OnlyCancelCountsAsCancelled) {
  test::ScriptedUi ui;
  ui.stepsBeforeUserEnd = 1;
  auto forever = [](float&, std::wstring&) { return true; };
  EXPECT_FALSE(runInProgressDialog(forever, true, 10));
  ui.userEnd = DialogResult::Accepted;
  EXPECT_TRUE(runInProgressDialog(forever, true, 10));
  EXPECT_EQ(ui.dialogs.back().result, DialogResult::Accepted);
  EXPECT_TRUE(runInProgressDialog([](float&, std::wstring&) { return false; }, true, 10));
}

}  // namespace
}  // namespace nx::ui
