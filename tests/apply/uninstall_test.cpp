// The uninstall command on a real installation with a real (fake) applier.
#include "apply/uninstall.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "base/system_error_text.h"
#include "base/text.h"
#include "stage_test_util.h"
#include "support/memory_log.h"
#include "support/scoped_env.h"
#include "support/scripted_ui.h"
#include "support/temp_folder.h"

namespace nx {
namespace {

using namespace test;
using Words = std::vector<std::wstring>;

class UninstallTest : public StageFolders {
 protected:
  void SetUp() override {
    installation();
    writeAll(write + "/Logs/uninstall.log", "report of an earlier run\n");
  }
  void installation(const std::map<std::string, std::string>& keys = {}) {
    writeDatabase(base + "/autoupdate.db", keys);
    writeAll(base + "/autoupdate.cfg", R"({"arch": "x86_64", "lang": "en", "modules": ["main", "maps"]})");
  }
  // The applier records its arguments and exits with applierCode; -1: the applier is left as it is.
  int run(const Words& words, int applierCode = 0) {
    if (applierCode >= 0) recorder(base + "/bin/fake_applier" + exeSuffix, root + "/applier.txt", applierCode);
    return uninstall(words, fromUtf8(base), fromUtf8(write), fromUtf8(temp), log, false, {});
  }
  std::string shown() const { return ui.boxes.empty() ? "" : toUtf8(ui.boxes.back().text); }
  bool applierRan() const { return fs::exists(root + "/applier.txt"); }

  MemoryLog log;
  ScriptedUi ui;
  ScopedEnv direct{"AUTOUPDATE_ELEVATE", nullptr};
};

TEST_F(UninstallTest, RequestsAreCheckedBeforeTheApplierRuns) {
  for (const auto& [words, message] : std::vector<std::pair<Words, std::string>>{
           {{L"uninstall"}, "uninstall *|(modname)+"},
           {{L"uninstall", L"maps", L"nope"}, "Unknown module to uninstall: nope"},
           {{L"uninstall", L"maps", L"*"}, "Unknown module to uninstall: *"}}) {
    SCOPED_TRACE(message);
    EXPECT_EQ(run(words), 2);
    EXPECT_EQ(shown(), message);
    EXPECT_TRUE(log.contains("ERROR  : Caught an exception: " + message));
  }
  // An "apply" list with nothing to run, or with a path out of the installation.
  for (const std::string apply : {"[]", "[\"../outside\"]", "[\"/bin/sh\"]"}) {
    installation({{"apply", apply}});
    EXPECT_EQ(run({L"uninstall", L"maps"}), 2) << apply;
    EXPECT_EQ(shown(), "Database error: bad apply list.");
  }
  EXPECT_FALSE(applierRan());
  EXPECT_EQ(readAll(write + "/Logs/uninstall.log"), "report of an earlier run\n");

  // Before the installation is read the code is 1.
  fs::remove(base + "/autoupdate.cfg");
  EXPECT_EQ(run({L"uninstall", L"*"}), 1);
  EXPECT_PRED2(contains, shown(), "autoupdate.cfg");
  EXPECT_FALSE(applierRan());
}

TEST_F(UninstallTest, TheApplierGetsTheRequestAndDecidesTheExitCode) {
  // Under wine the second runas start of the console stand-in never ends
  // (its console host stays); update-under-wine runs the real applier so.
  if (onWindows) GTEST_SKIP() << "a runas start of a console stand-in hangs under wine";
  EXPECT_EQ(run({L"uninstall", L"*"}), 0);
  EXPECT_EQ(readAll(root + "/applier.txt"), lines({base, write, temp, "uninstall"}));
  EXPECT_EQ(readAll(write + "/Logs/uninstall.log"), "");  // emptied for the applier's report

  // Known modules, selected or not, in the given order, repeats kept.
  EXPECT_EQ(run({L"uninstall", L"music", L"maps", L"maps"}, 7), 7);
  EXPECT_EQ(readAll(root + "/applier.txt"), lines({base, write, temp, "uninstall", "music", "maps", "maps"}));
  EXPECT_TRUE(ui.boxes.empty());

  // An applier that cannot be started.
  fs::remove(base + "/bin/fake_applier" + exeSuffix);
  EXPECT_EQ(run({L"uninstall", L"*"}, -1), 2);
  const std::string missing = systemErrorText(ENOENT);
  EXPECT_EQ(shown(), "RunAs: " + base + "/bin/fake_applier" + exeSuffix + "\nFAILED: " + missing);
  // A missing elevation helper is named, not the applier it would start.
  ScopedEnv helper{"AUTOUPDATE_ELEVATE", "/nowhere/pkexec"};
  EXPECT_EQ(run({L"uninstall", L"*"}), 2);
  EXPECT_EQ(shown(), "RunAs: /nowhere/pkexec (the elevation helper for " + base + "/bin/fake_applier" + exeSuffix +
                         ")\nFAILED: " + missing);
}

}  // namespace
}  // namespace nx
