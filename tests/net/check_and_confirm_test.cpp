// The interactive check: the dialog over a real check, and what is offered,
// asked and shown for each command and update target.
#include "app/check_and_confirm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "check_test_util.h"
#include "support/scripted_ui.h"

namespace nx::test {
namespace {

const std::string kPath = "/update/stable";

// Questions are answered Yes (a declined offer is run end to end).
class ConfirmTest : public CheckTest {
 protected:
  // The dialog's steps are paced like a timer, so a long check does not
  // pile up recorded steps.
  ConfirmTest() {
    ui.afterStep = [](int) { std::this_thread::sleep_for(std::chrono::milliseconds(1)); };
  }
  int32_t run(UpdateMode mode, const std::string& target = "") { return checkAndConfirm(*updater, log, mode, target); }
  void offer(const std::vector<Offer>& offers) { server.serve(kPath, replyText(offers)); }

  ScriptedUi ui;
};

const Offer kInstalled{"2026-01-01T00:00:00Z", "1.0"};

TEST_F(ConfirmTest, NothingNewerMeansNoQuestionAndWithoutADatabaseTheLatestIsTaken) {
  offer({kInstalled});
  EXPECT_EQ(run(UpdateMode::Update), -1);
  offer({kInstalled, {"2026-02-01", "1.0"}});  // newer, but the same version
  EXPECT_EQ(run(UpdateMode::Update), -1);
  updater->database.format = 0;
  offer({kInstalled, {"2026-02-01", "2.0"}});
  EXPECT_EQ(run(UpdateMode::Update), 1);
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(ConfirmTest, TargetsPickBranchAndVersion) {
  const std::vector<Offer> offers = {
      kInstalled, {"2026-02-01", "1.20"}, {"2026-03-01", "2.0"}, {"2026-04-01", "2.0.1"}, {"2026-05-01", "3.0"}};
  offer(offers);
  EXPECT_EQ(run(UpdateMode::Update, "2.0"), 3);  // the last entry that matches
  EXPECT_EQ(run(UpdateMode::Update, "2"), 3);
  EXPECT_TRUE(ui.boxes.empty());

  EXPECT_EQ(run(UpdateMode::Update, "1.2"), 4);  // not 1.20: warned, then offered the latest
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[0].text, L"Update to version 1.2 is not available.");
  EXPECT_EQ(ui.boxes[1].text, L"New version 3.0 is available. Update?");
  ui.boxes.clear();

  server.serve("/update/beta", replyText(offers));
  EXPECT_EQ(run(UpdateMode::Update, "beta:="), 0);  // the installed version on that branch
  EXPECT_EQ(run(UpdateMode::Update, "beta:2.0"), 3);
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(run(UpdateMode::Update, "beta"), 4);  // the branch alone: the usual question
  EXPECT_EQ(ui.boxes.size(), 1u);
  updater->database.update_url = {server.url("/update/")};  // the branch is the last piece even when empty
  EXPECT_EQ(run(UpdateMode::Update, "beta:2.0"), 3);
  const auto requests = server.requests();
  EXPECT_EQ(std::count_if(requests.begin(), requests.end(), [](const auto& r) { return r.path == "/update/beta"; }), 4);
  EXPECT_FALSE(versionMatches("1", "1.2"));
}

TEST_F(ConfirmTest, AFailedCheckIsShownExceptInCheckMode) {
  server.serve(kPath, "", 404);
  EXPECT_EQ(run(UpdateMode::Check), -1);
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_TRUE(log.contains("ERROR  : Caught an exception: Update server error: Not Found (404)"));

  EXPECT_EQ(run(UpdateMode::Update), -1);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, L"Update server error: Not Found (404)");  // as an error, the real program shows
}

}  // namespace
}  // namespace nx::test
