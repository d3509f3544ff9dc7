// The updater's windows on a desktop: a real GTK under a virtual display,
// started from its desktop entry as a player would, answered by key presses.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "support/http_server.h"
#include "support/update_fixture.h"
#include "support/virtual_display.h"

namespace nx::test {
namespace {

namespace fs = std::filesystem;

class GtkWindowTest : public UpdateFixture {
 protected:
  // Starts the launcher in the background (it returns at once; what it starts
  // writes into the file out). Everything the child needs is made before the
  // fork: the server's threads may hold the allocator's lock.
  void launch(const Environment& env, const std::string& out) const {
    std::vector<std::string> words{"env"};  // a later value of a name wins
    for (const auto& [name, value] : env) words.push_back(name + "=" + value);
    words.insert(words.end(), {"gio", "launch", path("veltra.desktop")});
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(fd, 1);
      ::dup2(fd, 2);
      ::execv("/usr/bin/env", argv.data());
      ::_exit(127);
    }
    ::close(fd);
    if (pid > 0) ::waitpid(pid, nullptr, 0);
  }
  // Waits until the product has started (the run is over then).
  bool productStarted(const std::string& out) const {
    for (int i = 0; i < 600; ++i) {
      if (fileText(out).find("VELTRA 1.0") != std::string::npos) return true;
      usleep(100000);
    }
    return false;
  }
  // A step's picture, kept in the test's folder (and where AUTOUPDATE_SCREENSHOTS points).
  void photograph(const VirtualDisplay& display, const std::string& name) const {
    display.screenshot(path(name + ".png"));
    if (const char* keep = std::getenv("AUTOUPDATE_SCREENSHOTS"))
      fs::copy_file(path(name + ".png"), std::string(keep) + "/" + name + ".png", fs::copy_options::overwrite_existing);
  }
};

TEST_F(GtkWindowTest, QuestionProgressAndCancel) {
  if (!fs::exists(build("autoupdate-gtk.so"))) GTEST_SKIP() << "GTK 3 was not found: the window module is not built";
  if (std::string missing = VirtualDisplay::missingTools(); !missing.empty()) GTEST_SKIP() << missing;
  if (::access("/usr/bin/gio", X_OK) != 0) GTEST_SKIP() << "/usr/bin/gio is missing (scripts/setup installs it)";
  VirtualDisplay display;
  ASSERT_FALSE(display.name().empty()) << "Xvfb did not start";

  // Version 2.0 is offered; the files that only it has never arrive.
  HttpServer server;
  publish(1, server.url("/repo"));
  publish(2, server.url("/repo"));
  server.serveFolder("/repo", repo());
  for (const char* file : {"data/items.txt", "data/quests.txt"}) {
    const std::string id = runProgram("/usr/bin/sha256sum", {examples() + "/product-v2/" + file}).out.substr(0, 64);
    server.stall("/repo/objects/" + id.substr(0, 2) + "/" + id);
  }
  image("1.0", {"--desktop-entry", path("veltra.desktop")});
  const std::string before = fileText(install() + "/data/items.txt");

  Environment env = environment({{"DISPLAY", display.name()}, {"AUTOUPDATE_UI", "auto"}});
  const std::string out = path("out.txt");
  launch(env, out);
  std::string window = display.waitForWindow("VELTRA UPDATE");
  ASSERT_FALSE(window.empty()) << "no question; log:\n" << log();
  photograph(display, "question");
  EXPECT_TRUE(display.press(window, "Return"));  // the default: Yes
  window = display.waitForWindow("Downloading updates...");
  ASSERT_FALSE(window.empty()) << "no progress window; log:\n" << log();
  photograph(display, "progress");
  EXPECT_TRUE(display.press(window, "Escape"));
  ASSERT_TRUE(productStarted(out)) << fileText(out) << log();
  EXPECT_EQ(fileText(install() + "/data/items.txt"), before);
  EXPECT_NE(log().find("User cancelled"), std::string::npos) << log();
}

// Without the module or a display the updater still asks, in plain lines,
// and its log says why.
TEST_F(GtkWindowTest, WithoutWindowsPlainLinesAndALogLine) {
  publish(1);
  publish(2);
  image("1.0");
  for (const std::string why : {"cannot open display :987", "autoupdate-gtk.so"}) {
    if (why == "autoupdate-gtk.so") fs::remove(install() + "/bin/autoupdate-gtk.so");
    ProgramResult r =
        autoupdate({"update"}, {{"AUTOUPDATE_UI", "gtk"}, {"DISPLAY", ":987"}, {"AUTOUPDATE_ANSWER", "no"}});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("[question] VELTRA UPDATE: New version 2.0"), std::string::npos) << r.err;
    const std::string text = log();
    EXPECT_NE(text.find(why, text.find("WARNING: GTK user interface unavailable: ")), std::string::npos) << text;
  }
}

}  // namespace
}  // namespace nx::test
