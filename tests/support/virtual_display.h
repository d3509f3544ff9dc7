#pragma once
// A virtual X display (Xvfb) started and stopped by a test, for the updater's
// windows: found by their titles and driven by key presses with xdotool,
// photographed with ImageMagick's import.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/program_run.h"

namespace nx::test {

class VirtualDisplay {
 public:
  // The programs it needs, or a reason to skip when one is missing.
  static std::string missingTools() {
    for (const char* tool : {"/usr/bin/Xvfb", "/usr/bin/xdotool", "/usr/bin/import"})
      if (::access(tool, X_OK) != 0) return std::string(tool) + " is missing (scripts/setup installs it)";
    return {};
  }

  VirtualDisplay() {
    int fds[2];
    if (::pipe(fds) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(fds[0]);
      const std::string fd = std::to_string(fds[1]);
      ::execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "800x600x24", "-nolisten", "tcp",
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    numberFd_ = fds[0];
    // Xvfb writes the display's number and a line end once it takes
    // connections; the pipe stays open, as a write to a closed one ends it.
    char c;
    while (pid_ > 0 && ::read(numberFd_, &c, 1) == 1 && c != '\n') number_ += c;
    if (!number_.empty()) name_ = ":" + number_;
  }
  ~VirtualDisplay() {
    if (numberFd_ >= 0) ::close(numberFd_);
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;

  // ":N"; empty when the display did not start.
  const std::string& name() const { return name_; }

  ProgramResult run(const std::string& program, const std::vector<std::string>& arguments) const {
    return runProgram(program, arguments, {{"DISPLAY", name_}}, 20);
  }
  // The first window whose title is exactly title, waiting up to seconds; empty when none came.
  std::string waitForWindow(const std::string& title, int seconds = 20) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    do {
      ProgramResult r = run("/usr/bin/xdotool", {"search", "--onlyvisible", "--name", "^" + title + "$"});
      if (r.status == 0 && !r.out.empty()) return r.out.substr(0, r.out.find('\n'));
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    } while (std::chrono::steady_clock::now() < deadline);
    return {};
  }
  // Gives the window the keyboard and presses key there until the window is
  // gone (a key that came before the focus on a busy machine is lost); false
  // when it stays.
  bool press(const std::string& window, const std::string& key) const {
    for (int attempt = 0; attempt < 4; ++attempt) {
      run("/usr/bin/xdotool", {"windowfocus", "--sync", window});
      run("/usr/bin/xdotool", {"key", key});
      for (int i = 0; i < 50; ++i) {
        if (run("/usr/bin/xdotool", {"getwindowname", window}).status != 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    }
    return false;
  }
  void screenshot(const std::string& file) const { run("/usr/bin/import", {"-window", "root", file}); }

 private:
  pid_t pid_ = -1;
  int numberFd_ = -1;
  std::string number_, name_;
};

}  // namespace nx::test
