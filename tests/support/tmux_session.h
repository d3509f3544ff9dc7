#pragma once
// A program run in a detached tmux pane and driven as a person would: keys
// in, the screen read back. Each session has its own tmux server on a private
// socket (tmux -L), so tests never meet each other or the user's own tmux;
// the server ends with the object. The pane stays after its program ended,
// so the last screen and the exit status can still be read.
//
//   TmuxSession s(NX_BUILD_DIR "/autoupdate check", 80, 24);
//   ASSERT_TRUE(s.waitFor("[Y/n]")) << s.screen();
//   s.sendKeys({"n", "Enter"});
//   ASSERT_TRUE(s.waitForEnd());
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_folder.h"

namespace nx::test {

class TmuxSession {
 public:
  // Generous: the test machine may be busy with other builds.
  static constexpr std::chrono::milliseconds kDefaultTimeout{20000};

  // Starts a shell command line (run by /bin/sh) in a pane of the given size.
  // The pane's TERM is "screen"; the environment is the test's own.
  explicit TmuxSession(const std::string& command, int columns = 80, int rows = 24)
      : socket_("nx-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter()++)) {
    folder_.write(L"tmux.conf",
                  "set -g remain-on-exit on\n"
                  "set -g status off\n"
                  "set -g default-shell /bin/sh\n"
                  "set -g escape-time 0\n"
                  "set -g history-limit 2000\n");
    config_ = std::filesystem::path(folder_.file(L"tmux.conf")).string();
    int status = 0;
    tmux({"-f", config_, "new-session", "-d", "-x", std::to_string(columns), "-y", std::to_string(rows), "-s",
          "main", command},
         &status);
    if (status != 0) throw std::runtime_error("tmux could not start: " + command);
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
  // Types text literally.
  void type(const std::string& text) { tmux({"send-keys", "-t", "main", "-l", text}); }

  // The visible screen, one line per row, trailing blanks dropped.
  std::string screen() { return last_ = tmux({"capture-pane", "-p", "-t", "main"}); }
  // The screen as last read (by a wait, say): what a wait saw, unchanged.
  const std::string& lastScreen() const { return last_; }
  std::vector<std::string> rows() { return rowsOf(screen()); }
  static std::vector<std::string> rowsOf(const std::string& screen) {
    std::vector<std::string> out;
    size_t begin = 0;
    for (size_t end; (end = screen.find('\n', begin)) != std::string::npos; begin = end + 1)
      out.push_back(screen.substr(begin, end - begin));
    return out;
  }

  // Waits until the screen satisfies test (polled every 50 ms); false when
  // the time ran out.
  bool waitUntil(const std::function<bool(const std::string&)>& test,
                 std::chrono::milliseconds timeout = kDefaultTimeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (test(screen())) return true;
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  bool waitFor(const std::string& text, std::chrono::milliseconds timeout = kDefaultTimeout) {
    return waitUntil([&](const std::string& s) { return s.find(text) != std::string::npos; }, timeout);
  }

  // A tmux format of the pane, e.g. "#{cursor_x}".
  std::string format(const std::string& fmt) {
    std::string out = tmux({"display-message", "-p", "-t", "main", fmt});
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }
  bool cursorVisible() { return format("#{cursor_flag}") == "1"; }
  bool ended() { return format("#{pane_dead}") == "1"; }
  bool waitForEnd(std::chrono::milliseconds timeout = kDefaultTimeout) {
    return waitUntil([&](const std::string&) { return ended(); }, timeout);
  }
  // Exit status of the ended program (-1 while it runs).
  int exitStatus() {
    std::string s = format("#{pane_dead_status}");
    return ended() && !s.empty() ? std::stoi(s) : -1;
  }

  // A word quoted for the shell.
  static std::string quote(const std::string& word) {
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
  }

 private:
  static std::atomic<int>& counter() {
    static std::atomic<int> n{0};
    return n;
  }

  // Runs tmux on this session's socket and returns what it printed.
  std::string tmux(const std::vector<std::string>& args, int* status = nullptr) {
    std::vector<std::string> words = {"env", "-u", "TMUX", "tmux", "-L", socket_};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    int out[2];
    if (::pipe(out) != 0) throw std::runtime_error("pipe failed");
    pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(out[1], 1);
      ::close(out[0]);
      ::close(out[1]);
      ::execvp(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) != 0;) {
      if (n > 0)
        text.append(buffer, static_cast<size_t>(n));
      else if (errno != EINTR)
        break;
    }
    ::close(out[0]);
    int wstatus = 0;
    while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    if (status) *status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    return text;
  }

  TempFolder folder_;
  std::string socket_;
  std::string config_;
  std::string socketPath_;
  std::string last_;
};

}  // namespace nx::test
