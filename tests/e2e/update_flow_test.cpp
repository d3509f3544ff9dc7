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

class UpdateFlowTest : public UpdateFixture {
 protected:
  // The product files of an installation: everything but its state.
  Tree installed() const {
    Tree files;
    for (const auto& e : fs::recursive_directory_iterator(install())) {
      const std::string rel = fs::relative(e.path(), install()).generic_string();
      if (e.is_regular_file() && rel.rfind("Config/", 0) != 0 && rel != "autoupdate.db" && rel != "autoupdate.cfg")
        files[rel] = read(e.path().string());
    }
    return files;
  }
  // What version v holds for a language, with or without the maps module.
  Tree expected(int v, const std::string& lang, bool maps, const std::string& updater = "") const {
    Tree files;
    const std::string product = examples() + "/product-v" + std::to_string(v);
    for (const auto& e : fs::recursive_directory_iterator(product)) {
      const std::string rel = fs::relative(e.path(), product).generic_string();
      if (!e.is_regular_file() || (rel.rfind("lang/", 0) == 0 && rel.rfind("lang/" + lang + "/", 0) != 0) ||
          (!maps && rel.rfind("maps/", 0) == 0))
        continue;
      files[rel] = read(e.path().string());
    }
    files["bin/applier"] = read(build("applier"));
    files["bin/autoupdate"] = read(updater.empty() ? build("autoupdate") : updater);
    files["bin/autoupdate-gtk.so"] = read(gtkModule());
    return files;
  }
  // The elevation helper records how the applier was started and how it ended.
  Environment recordElevation() {
    write(path("elevate.sh"),
          "#!/bin/sh\n\"$@\"\ncode=$?\necho \"$code $*\" >> '" + path("elevated.txt") + "'\nexit $code\n");
    fs::permissions(path("elevate.sh"), fs::perms(0755));
    return {{"AUTOUPDATE_ELEVATE", path("elevate.sh")}};
  }
};

TEST_F(UpdateFlowTest, AnUpdateReplacesTheInstallationAndStartsTheNewVersion) {
  HttpServer server;
  for (const bool http : {false, true}) {
    SCOPED_TRACE(http ? "http" : "file");
    fs::remove_all(repo()), fs::remove_all(install()), fs::remove_all(path("data")), fs::remove_all(path("cache"));
    fs::create_directories(repo());
    server.serveFolder("/repo", repo());
    const std::string base = http ? server.url("/repo") : "";
    publish(1, base);
    publish(2, base);
    image("1.0", {"--lang", "de"});

    ProgramResult r = autoupdate({"update"}, recordElevation());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("[question] VELTRA UPDATE: New version 2.0 is available. Update?"), std::string::npos);
    EXPECT_NE(r.err.find("[information] VELTRA Update: Update was applied successfully."), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("[error]"), std::string::npos) << r.err;
    // The bootstrap stage started the new version.
    EXPECT_EQ(r.out, "VELTRA 2.0\n" + read(examples() + "/product-v2/lang/de/greeting.txt"));

    // Changed, added and removed files; the state of the new version.
    EXPECT_EQ(installed(), expected(2, "de", false));
    EXPECT_EQ(read(install() + "/Config/lang.cfg"), "de");
    EXPECT_NE(read(install() + "/autoupdate.cfg").find("\"lang\": \"de\""), std::string::npos);
    // The applier ran elevated with the stage's arguments and succeeded.
    const std::string elevated = read(path("elevated.txt"));
    EXPECT_EQ(elevated.rfind("0 " + stagingFolder() + "/applier " + install(), 0), 0u) << elevated;

    // One log across the processes: the user's run, then the applier and
    // the bootstrap stage appending to it.
    const std::string text = log();
    EXPECT_EQ(count(text, "=== MiniLog opened"), 3u) << text;
    EXPECT_LT(text.find("Downloading update: version=2.0"), text.find("Applying updates..."));
    EXPECT_LT(text.find("Applying updates..."), text.rfind("=== MiniLog opened"));
    EXPECT_NE(text.find("LAUNCH started \"" + install() + "/veltra.sh\""), std::string::npos) << text;
    EXPECT_FALSE(fs::exists(writeFolder() + "/Logs/autoupdate.log.1"));

    // Next time there is nothing to do (the database of 2.0 is in place and
    // reads), and no file is hashed again.
    r = autoupdate({"update"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("[question]"), std::string::npos) << r.err;
    EXPECT_EQ(log().find("Downloading update"), std::string::npos);
  }
}

TEST_F(UpdateFlowTest, ANewUpdaterProgramIsFetchedFirstAndFinishesTheUpdate) {
  // Version 2.0 comes with an updater program of its own (the same program
  // with other bytes, so it runs alike).
  const std::string newUpdater = path("autoupdate-2.0");
  write(newUpdater, read(build("autoupdate")) + "\nupdater of VELTRA 2.0\n");
  fs::permissions(newUpdater, fs::perms(0755));
  publish(1);
  publish(2, "", newUpdater);
  image("1.0");

  ProgramResult r = autoupdate({"update"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Update was applied successfully."), std::string::npos) << r.err;
  EXPECT_EQ(installed(), expected(2, "en", false, newUpdater));
  EXPECT_EQ(r.out.substr(0, 11), "VELTRA 2.0\n");

  const std::string text = log();
  // The first run fetched only the new updater, the continue stage the rest.
  EXPECT_LT(text.find("Updating the updater..."), text.find("Applying updates..."));
  EXPECT_LT(text.find("Applying updates..."), text.find("Starting new updater..."));
  EXPECT_NE(text.find("Downloading " + std::to_string(read(newUpdater).size())), std::string::npos) << text;
  EXPECT_TRUE(fs::exists(stagingFolder() + "/_update_info"));
  EXPECT_EQ(count(text, "=== MiniLog opened"), 4u) << text;  // user, continue, applier, bootstrap
  EXPECT_EQ(text.find("ERROR"), text.find("ERROR  : Can't load autoupdate settings")) << text;
}

// A second updater started while the first one's update runs waits for it
// and then sees the new version: while the applier changes the installation
// (a test hook slows every step down), or during the hand-over (the elevation
// prompt takes a while: the user's first updater has ended and the applier
// has not started yet).
TEST_F(UpdateFlowTest, ASecondUpdaterWaitsForTheUpdateAndSeesTheNewVersion) {
  publish(1);
  publish(2);
  write(path("slow-elevate.sh"), "#!/bin/sh\ntouch '" + path("prompt") + "'\nsleep 2\nexec \"$@\"\n");
  fs::permissions(path("slow-elevate.sh"), fs::perms(0755));
  struct Case {
    Environment slow;
    std::string startedWhen, command, waited;
  };
  const Case cases[] = {{{{"NX_APPLIER_TEST_HOOK", "slow:300"}}, "applier.journal", "update", "Waiting for DB lock..."},
                        {{{"AUTOUPDATE_ELEVATE", path("slow-elevate.sh")}},
                         "../prompt",
                         "repair",
                         "Waiting for the update that is being applied..."}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    fs::remove_all(install());
    fs::remove_all(path("data"));
    image("1.0");
    ProgramResult first;
    std::thread update([&] { first = autoupdate({"update"}, c.slow); });
    const std::string started = install() + "/" + c.startedWhen;
    for (int i = 0; i < 3000 && !fs::exists(started); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(fs::exists(started)) << "the update never got there";
    ProgramResult second = autoupdate({c.command}, {{"AUTOUPDATE_ANSWER", "no"}});
    update.join();
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_NE(first.err.find("Update was applied successfully."), std::string::npos) << first.err;
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(second.err.find("[error]"), std::string::npos) << second.err;
    EXPECT_EQ(second.err.find("[question]"), std::string::npos) << second.err;
    EXPECT_NE((second.err + log()).find(c.waited), std::string::npos) << second.err << log();
    EXPECT_NE(log().find("Current version: 2.0"), std::string::npos) << log();
    EXPECT_EQ(installed(), expected(2, "en", false));
  }
}

TEST_F(UpdateFlowTest, RepairInstallAndUninstall) {
  publish(1);
  image("1.0");
  const Tree v1 = expected(1, "en", false);

  auto lastLine = [](const std::string& text) {
    const size_t end = text.size() - (text.empty() || text.back() != '\n' ? 0 : 1);
    return text.substr(text.rfind('\n', end - 1) + 1, end - text.rfind('\n', end - 1) - 1);
  };
  // A damaged installation gets back exactly the contents it lacks; with
  // --wait the command ends when the applier has, with what it did.
  write(install() + "/data/items.txt", "damaged");
  fs::remove(install() + "/data/levels.txt");
  ProgramResult r = autoupdate({"repair", "--wait"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Update was applied successfully."), std::string::npos) << r.err;
  EXPECT_EQ(lastLine(r.err), "Repaired 2 files of VELTRA 1.0.") << r.err;
  EXPECT_EQ(installed(), v1);
  EXPECT_NE(
      log().find("Downloading " + std::to_string(v1.at("data/items.txt").size() + v1.at("data/levels.txt").size()) +
                 " bytes in 2 objects"),
      std::string::npos)
      << log();

  // An edit that keeps the size and the time passes the file cache's check;
  // only a full check finds it.
  const std::string items = install() + "/data/items.txt";
  const auto time = fs::last_write_time(items);
  write(items, std::string(v1.at("data/items.txt").size(), 'x'));
  fs::last_write_time(items, time);
  r = autoupdate({"repair", "--wait"});
  EXPECT_EQ(lastLine(r.err), "Repaired 0 files of VELTRA 1.0.") << r.err;
  r = autoupdate({"repair", "--full", "--wait"});
  EXPECT_EQ(lastLine(r.err), "Repaired 1 file of VELTRA 1.0.") << r.err;
  EXPECT_EQ(installed(), v1);

  // An optional module joins the installation.
  r = autoupdate({"install", "maps", "--wait"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(lastLine(r.err), "Installed module maps.") << r.err;
  EXPECT_EQ(installed(), expected(1, "en", true));
  EXPECT_NE(read(install() + "/autoupdate.cfg").find("\"maps\""), std::string::npos);

  // The whole product goes only when the user says so: No is the default.
  r = autoupdate({"uninstall", "--all"});
  EXPECT_EQ(r.err, "[question] VELTRA UPDATE: Remove VELTRA and all its files?\nCancelled.\n");
  EXPECT_FALSE(installed().empty());
  r = autoupdate({"uninstall", "--all"}, {{"AUTOUPDATE_ANSWER", "yes"}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(lastLine(r.err), "Removed VELTRA.") << r.err;
  EXPECT_TRUE(installed().empty());
  EXPECT_FALSE(fs::exists(install() + "/autoupdate.db"));
}

TEST_F(UpdateFlowTest, AWholeRemovalKilledAtAnyStepIsFinishedByTheNextOne) {
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
