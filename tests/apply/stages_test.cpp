// The stages: their arguments, the bootstrap stage through the real program
// with a real (fake) applier, the continue stage with a scripted user.
#include "app/stages.h"

#include <gtest/gtest.h>

#include "apply/stage_arguments.h"
#include "net/object_store.h"
#include "stage_test_util.h"
#include "support/platform.h"
#include "support/program_run.h"
#include "support/scripted_ui.h"
#include "support/temp_folder.h"

namespace nx {
namespace {

using namespace test;
using Words = std::vector<std::wstring>;

const std::string kId = sha256("the new database");

TEST(StageArguments, TooFewWordsOrABadIdEndEachStageWithItsCode) {
  ScriptedUi ui;
  // The id names a file in the staging folder: only a real object id passes.
  for (const Words& words : {Words{L"p", L"x", L"/b", L"/w", L"/s"}, Words{L"p", L"x", L"/b", L"/w", L"/s", L"../id"},
                             Words{L"p", L"x", L"/b", L"/w", L"/s", std::wstring(64, L'A')}}) {
    EXPECT_EQ(bootstrapStage(words, 1), 111);
    EXPECT_EQ(continueStage(words, 1), 113);
  }
  // "install" takes the modules after it, a single one too.
  const Words one{L"p", L"x", L"/b", L"/w", L"/s", fromUtf8(kId), L"install", L"maps"};
  EXPECT_EQ(readStageArguments(one, 1).installModules, std::vector<std::string>{"maps"});
  ASSERT_EQ(ui.boxes.size(), 6u);
  EXPECT_EQ(ui.boxes[5].text + L"|" + ui.boxes[5].caption, L"Invalid arguments.|VELTRA Update Continue");
}

// A staging folder as the first process leaves it: a copy of the updater,
// the extracted applier and the new database; an installation whose launch
// entry records its start.
class BootstrapTest : public StageFolders {
 protected:
  void SetUp() override {
    fs::copy_file(NX_BUILD_DIR "/autoupdate" + exeSuffix, staging + "/autoupdate" + exeSuffix);
    recorder(staging + "/fake_applier", root + "/applier.txt");
    recorder(base + "/run.sh", root + "/launched.txt");
  }
  void database(const std::map<std::string, std::string>& keys = {}) {
    writeDatabase(toUtf8(objectPath(fromUtf8(staging), kId)), keys);
  }
  ProgramResult bootstrap(const std::vector<std::string>& more = {}, const Environment& env = {}) {
    std::vector<std::string> words{"bootstrap", base, write, staging, kId};
    words.insert(words.end(), more.begin(), more.end());
    Environment all{{"AUTOUPDATE_UI", "plain"}};
    all.insert(all.end(), env.begin(), env.end());
    return runProgram(staging + "/autoupdate", words, all);
  }
};

TEST_F(BootstrapTest, TheApplierRunsElevatedThenTheProductStartsExitCodesAndMessages) {
  NX_POSIX_ONLY("shell scripts as the applier and the elevation helper");
  const std::string ok = "[information] VELTRA Update: Update was applied successfully.\n";
  const std::string box = "[error] VELTRA Update Bootstrap: ";
  const std::string applier = staging + "/fake_applier";
  const std::string words = lines({base, write, staging, kId, "install", "maps", "music"});
  // An elevation helper put in front of the applier records how it started it.
  writeAll(root + "/elevate", "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + root + "/elevated.txt'\nexec \"$@\"\n");
  fs::permissions(root + "/elevate", fs::perms(0755));
  recorder(root + "/refuse", root + "/refused.txt", 126);  // as a dismissed pkexec prompt
  const Environment elevate{{"AUTOUPDATE_ELEVATE", root + "/elevate"}},
      refuse{{"AUTOUPDATE_ELEVATE", root + "/refuse"}};
  struct Row {
    std::map<std::string, std::string> keys;
    int applierCode;
    Environment env;
    int status;
    std::string err;
    bool applierRuns, launched;
  };
  const std::vector<Row> rows = {
      {{}, 0, elevate, 0, ok, true, true},
      {{{"format", "0"}}, 0, {}, 0, "", true, true},  // no success message, but the launch
      {{}, 3, {}, 3, "", true, false},
      {{{"launch", "[\"missing.sh\"]"}}, 0, {}, 111, ok + box + "Can't launch VELTRA.\n", true, false},
      {{}, 0, refuse, 111, box + "RunAs: " + applier + "\n  FAILED: Operation canceled\n", false, false},
      {{{"apply", "[]"}}, 0, {}, 111, box + "Database error: bad apply list.\n", false, false},
      {{{"apply", "[\"bin/..\"]"}}, 0, {}, 111, box + "Database error: bad apply list.\n", false, false},
  };
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    const Row& row = rows[i];
    fs::remove(root + "/applier.txt");
    fs::remove(root + "/launched.txt");
    database(row.keys);
    recorder(applier, root + "/applier.txt", row.applierCode);
    ProgramResult r = bootstrap({"install", "maps", "music"}, row.env);
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(r.err, row.err);
    EXPECT_EQ(readAll(root + "/applier.txt"), row.applierRuns ? words : "");
    // The stage has ended: a launch that was to come has been started, with no arguments.
    if (row.launched)
      EXPECT_EQ(waitForFile(root + "/launched.txt"), "\n");  // printf's one empty line
    else
      EXPECT_FALSE(fs::exists(root + "/launched.txt"));
  }
  EXPECT_EQ(readAll(root + "/elevated.txt"), applier + "\n" + words);
}

TEST_F(BootstrapTest, NothingRunsFromAStagingFolderOthersCanChange) {
  NX_POSIX_ONLY("folder modes that let others write");
  database();
  fs::permissions(staging, fs::perms(0777));
  ProgramResult r = bootstrap();
  EXPECT_EQ(r.status, 111);
  EXPECT_EQ(r.err.rfind("[error] VELTRA Update Bootstrap: Unsafe temp directory \"" + staging + "\"", 0), 0u) << r.err;
  EXPECT_FALSE(fs::exists(root + "/applier.txt"));
}

}  // namespace
}  // namespace nx
