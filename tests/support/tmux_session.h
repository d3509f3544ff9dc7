#pragma once
// A program run in a detached tmux pane and driven as a person would: keys
// in, the screen read back. Each session has its own tmux server on a private
// socket (tmux -L), so tests never meet each other or the user's own tmux;
// the server ends with the object. The pane stays after its program ended,
// so the last screen can still be read.
//
//   TmuxSession s(NX_BUILD_DIR "/autoupdate check", 80, 24);
//   ASSERT_TRUE(s.waitFor("[Y/n]")) << s.screen();
//   s.sendKeys({"n", "Enter"});
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/program_run.h"
#include "support/temp_folder.h"

namespace nx::test {

class TmuxSession {
 public:
  // Starts a shell command line (run by /bin/sh) in a pane of the given size.
  // The pane's TERM is "screen"; the environment is the test's own.
  explicit TmuxSession(const std::string& command, int columns = 80, int rows = 24) {
    static std::atomic<int> sessions{0};
    socket_ = "nx-test-" + std::to_string(::getpid()) + "-" + std::to_string(sessions++);
    folder_.write(L"tmux.conf",
                  "set -g remain-on-exit on\nset -g status off\nset -g default-shell /bin/sh\n"
                  "set -g escape-time 0\nset -g history-limit 2000\n");
    if (tmux({"-f", std::filesystem::path(folder_.file(L"tmux.conf")).string(), "new-session", "-d", "-x",
              std::to_string(columns), "-y", std::to_string(rows), "-s", "main", command})
            .status != 0)
      throw std::runtime_error("tmux could not start: " + command);
    socketPath_ = format("#{socket_path}");
  }
  ~TmuxSession() {
    tmux({"kill-server"});
    // The server leaves its socket file behind.
    if (!socketPath_.empty()) ::unlink(socketPath_.c_str());
  }
  TmuxSession(const TmuxSession&) = delete;
  TmuxSession& operator=(const TmuxSession&) = delete;

  // Presses keys by their tmux names: "Enter", "Escape", "C-c", "C-d", "y".
  void sendKeys(const std::vector<std::string>& keys) {
    std::vector<std::string> args = {"send-keys", "-t", "main"};
    args.insert(args.end(), keys.begin(), keys.end());
    tmux(args);
  }

  // The visible screen, one line per row, trailing blanks dropped.
  std::string screen() { return last_ = tmux({"capture-pane", "-p", "-t", "main"}).out; }
  // The screen as last read (by a wait, say): what a wait saw, unchanged.
  const std::string& lastScreen() const { return last_; }
  // Whether a row of the screen is exactly this text: it starts at the left
  // edge, so whatever was drawn before left the cursor on a fresh line.
  static bool hasRow(const std::string& screen, const std::string& row) {
    return ("\n" + screen).find("\n" + row + "\n") != std::string::npos;
  }

  // Waits until the screen satisfies test (polled every 50 ms); false when
  // the time ran out. Generous: the test machine may be busy with other builds.
  bool waitUntil(const std::function<bool(const std::string&)>& test,
                 std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    for (auto deadline = std::chrono::steady_clock::now() + timeout; !test(screen());) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
  }
  bool waitFor(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    return waitUntil([&](const std::string& s) { return s.find(text) != std::string::npos; }, timeout);
  }
  bool cursorVisible() { return format("#{cursor_flag}") == "1"; }

  // A word quoted for the shell.
  static std::string quote(const std::string& word) {
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
  }

 private:
  // A tmux format of the pane, e.g. "#{cursor_x}".
  std::string format(const std::string& fmt) {
    std::string out = tmux({"display-message", "-p", "-t", "main", fmt}).out;
    return out.substr(0, out.find('\n'));
  }
  // Runs tmux on this session's socket, outside any tmux the tests run in.
  ProgramResult tmux(std::vector<std::string> args) {
    args.insert(args.begin(), {"-u", "TMUX", "tmux", "-L", socket_});
    return runProgram("/usr/bin/env", args);
  }

  TempFolder folder_;
  std::string socket_, socketPath_, last_;
};

}  // namespace nx::test
