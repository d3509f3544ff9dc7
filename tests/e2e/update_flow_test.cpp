// Whole updates through the real programs: `autoupdate` run by the user,
// the stages it hands over to, the applier they start, and the product they
// launch, on installations and releases made by `publish`. A run of the
// user's updater returns here only when every process it started has ended
// (they all write into the same captured output).
#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "support/http_server.h"
#include "support/update_fixture.h"

namespace nx::test {
namespace {

namespace fs = std::filesystem;
using Tree = std::map<std::string, std::string>;

// On Windows a user's updater ends before the applier may replace it (there
// is no --wait), and the stages it hands over to show their messages in a
// console of their own: what these tests read is not there to read.
// examples/windows/update-under-wine runs whole updates under wine instead.
#define NX_NEEDS_THE_HAND_OVER_CHAIN NX_POSIX_ONLY("to wait for the hand-over chain and read its messages")

class UpdateFlowTest : public UpdateFixture {
 protected:
  // The product files of an installation: everything but its state.
  Tree installed() const {
    Tree files;
    for (const auto& e : fs::recursive_directory_iterator(install())) {
      const std::string rel = fs::relative(e.path(), install()).generic_string();
      if (e.is_regular_file() && rel.rfind("Config/", 0) != 0 && rel != "autoupdate.db" && rel != "autoupdate.cfg")
        files[rel] = fileText(e.path().string());
    }
    return files;
  }
  // What version v holds for a language, with or without the maps module.
  Tree expected(int v, const std::string& lang, bool maps) const {
    Tree files;
    const std::string product = examples() + "/product-v" + std::to_string(v);
    for (const auto& e : fs::recursive_directory_iterator(product)) {
      const std::string rel = fs::relative(e.path(), product).generic_string();
      if (!e.is_regular_file() || (rel.rfind("lang/", 0) == 0 && rel.rfind("lang/" + lang + "/", 0) != 0) ||
          (!maps && rel.rfind("maps/", 0) == 0))
        continue;
      files[rel] = fileText(e.path().string());
    }
    if (onWindows) {  // the Windows flavour: a launcher program, programs named .exe, no window module
      files.erase("veltra.sh");
      files["veltra.exe"] = fileText(build("veltra-v" + std::to_string(v)));
      files["bin/applier.exe"] = fileText(build("applier"));
      files["bin/autoupdate.exe"] = fileText(build("autoupdate"));
      return files;
    }
    files["bin/applier"] = fileText(build("applier"));
    files["bin/autoupdate"] = fileText(build("autoupdate"));
    files["bin/autoupdate-gtk.so"] = fileText(gtkModule());
    return files;
  }
};

TEST_F(UpdateFlowTest, AnUpdateReplacesTheInstallationAndStartsTheNewVersion) {
  NX_NEEDS_THE_HAND_OVER_CHAIN;
  HttpServer server;
  fs::create_directories(repo());
  server.serveFolder("/repo", repo());
  publish(1, server.url("/repo"));
  publish(2, server.url("/repo"));
  image("1.0", {"--lang", "de"});

  ProgramResult r = autoupdate({"update"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("[information] VELTRA Update: Update was applied successfully."), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("[error]"), std::string::npos) << r.err;
  // The bootstrap stage started the new version.
  EXPECT_EQ(started(r), "VELTRA 2.0\n" + (onWindows ? "" : fileText(examples() + "/product-v2/lang/de/greeting.txt")));

  // Changed, added and removed files; the state of the new version.
  EXPECT_EQ(installed(), expected(2, "de", false));
  EXPECT_EQ(fileText(install() + "/Config/lang.cfg"), "de");
  EXPECT_NE(fileText(install() + "/autoupdate.cfg").find("\"lang\": \"de\""), std::string::npos);

  // One log across the processes: the user's run, then the applier and
  // the bootstrap stage appending to it.
  const std::string text = log();
  EXPECT_EQ(count(text, "=== MiniLog opened"), 3u) << text;
  EXPECT_LT(text.find("Downloading update: version=2.0"), text.find("Applying updates..."));
  EXPECT_LT(text.find("Applying updates..."), text.rfind("=== MiniLog opened"));
  EXPECT_FALSE(fs::exists(writeFolder() + "/Logs/autoupdate.log.1"));

  // Next time there is nothing to do (the database of 2.0 is in place and
  // reads), and no file is hashed again.
  r = autoupdate({"update"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("[question]"), std::string::npos) << r.err;
  EXPECT_EQ(log().find("Downloading update"), std::string::npos);
}

// A second updater started during the hand-over (the elevation prompt takes
// a while: the user's first updater has ended and the applier has not
// started yet) waits for the update and then sees the new version. (That it
// waits for the lock the applier holds, the lock tests show.)
TEST_F(UpdateFlowTest, ASecondUpdaterWaitsForTheUpdateAndSeesTheNewVersion) {
  NX_POSIX_ONLY("a shell script as the slow elevation prompt");
  publish(1);
  publish(2);
  image("1.0");
  writeText(path("slow-elevate.sh"), "#!/bin/sh\ntouch '" + path("prompt") + "'\nsleep 2\nexec \"$@\"\n");
  fs::permissions(path("slow-elevate.sh"), fs::perms(0755));
  ProgramResult first;
  std::thread update([&] { first = autoupdate({"update"}, {{"AUTOUPDATE_ELEVATE", path("slow-elevate.sh")}}); });
  for (int i = 0; i < 3000 && !fs::exists(path("prompt")); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(fs::exists(path("prompt"))) << "the update never got there";
  ProgramResult second = autoupdate({"repair"}, {{"AUTOUPDATE_ANSWER", "no"}});
  update.join();
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_NE(first.err.find("Update was applied successfully."), std::string::npos) << first.err;
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(second.err.find("[error]"), std::string::npos) << second.err;
  EXPECT_EQ(second.err.find("[question]"), std::string::npos) << second.err;
  EXPECT_NE((second.err + log()).find("Waiting for the update that is being applied..."), std::string::npos)
      << second.err << log();
  EXPECT_NE(log().find("Current version: 2.0"), std::string::npos) << log();
  EXPECT_EQ(installed(), expected(2, "en", false));
}

TEST_F(UpdateFlowTest, RepairInstallAndUninstall) {
  NX_NEEDS_THE_HAND_OVER_CHAIN;
  publish(1);
  image("1.0");
  const Tree v1 = expected(1, "en", false);

  // A damaged installation gets back exactly the contents it lacks; with
  // --wait the command ends when the applier has, with what it did.
  writeText(install() + "/data/items.txt", "damaged");
  fs::remove(install() + "/data/levels.txt");
  ProgramResult r = autoupdate({"repair", "--wait"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Update was applied successfully."), std::string::npos) << r.err;
  EXPECT_TRUE(r.err.ends_with("Repaired 2 files of VELTRA 1.0.\n")) << r.err;
  EXPECT_EQ(installed(), v1);

  // An edit that keeps the size and the time passes the file cache's check;
  // only a full check finds it.
  const std::string items = install() + "/data/items.txt";
  const auto time = fs::last_write_time(items);
  writeText(items, std::string(v1.at("data/items.txt").size(), 'x'));
  fs::last_write_time(items, time);
  if (!onWindows) {  // where mingw's std::filesystem puts the time back to the second only
    r = autoupdate({"repair", "--wait"});
    EXPECT_TRUE(r.err.ends_with("Repaired 0 files of VELTRA 1.0.\n")) << r.err;
  }
  r = autoupdate({"repair", "--full", "--wait"});
  EXPECT_TRUE(r.err.ends_with("Repaired 1 file of VELTRA 1.0.\n")) << r.err;
  EXPECT_EQ(installed(), v1);

  // An optional module joins the installation.
  r = autoupdate({"install", "maps", "--wait"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.err.ends_with("Installed module maps.\n")) << r.err;
  EXPECT_EQ(installed(), expected(1, "en", true));
  EXPECT_NE(fileText(install() + "/autoupdate.cfg").find("\"maps\""), std::string::npos);

  // The whole product goes only when the user says so: No is the default.
  r = autoupdate({"uninstall", "--all"});
  EXPECT_EQ(r.err, "[question] VELTRA UPDATE: Remove VELTRA and all its files?\nCancelled.\n");
  EXPECT_FALSE(installed().empty());
  r = autoupdate({"uninstall", "--all"}, {{"AUTOUPDATE_ANSWER", "yes"}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.err.ends_with("Removed VELTRA.\n")) << r.err;
  EXPECT_TRUE(installed().empty());
  EXPECT_FALSE(fs::exists(install() + "/autoupdate.db"));
}

TEST_F(UpdateFlowTest, AWholeRemovalKilledAtAnyStepIsFinishedByTheNextOne) {
  NX_POSIX_ONLY("a program that deletes its own file (on Windows the applier's set-aside copy stays)");
  publish(1);
  // The installation's own updater may be among what was set aside: the
  // user runs one from elsewhere.
  auto uninstallAll = [&](Environment more) {
    more.push_back({"AUTOUPDATE_ANSWER", "yes"});
    return runProgram(build("autoupdate"), {"--basedir", install(), "uninstall", "*"}, environment(more), 120);
  };
  for (int step = 1;; ++step) {
    SCOPED_TRACE(step);
    fs::remove_all(install());
    image("1.0");
    const ProgramResult killed = uninstallAll({{"NX_APPLIER_TEST_HOOK", "crash:" + std::to_string(step)}});
    if (killed.status == 0) break;  // past the last step
    ASSERT_EQ(killed.status, 86) << killed.err;
    if (installed().empty() && !fs::exists(install() + "/autoupdate.db")) continue;  // killed after its last step
    const ProgramResult settled = uninstallAll({});
    EXPECT_EQ(settled.status, 0) << settled.err;
    EXPECT_TRUE(installed().empty()) << ::testing::PrintToString(installed());
    EXPECT_FALSE(fs::exists(install() + "/autoupdate.db"));
  }
}

}  // namespace
}  // namespace nx::test
