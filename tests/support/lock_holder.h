#pragma once
// Another updater, as far as a lock file is concerned: a real process
// (tests/programs/hold_lock) that holds the lock until it is killed, the
// object goes, or the given seconds have passed.
#ifdef _WIN32
#include <memory>

#include "support/windows_process.h"
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <string>

namespace nx::test {

#ifdef _WIN32
class LockHolder {
 public:
  explicit LockHolder(const std::string& lockFile, const std::string& seconds = "600")
      : child_(std::make_unique<WindowsChild>(NX_BUILD_DIR "/hold_lock", std::vector<std::string>{lockFile, seconds},
                                              std::vector<std::pair<std::string, std::string>>{}, false)) {
    held_ = child_->started() && child_->readLine() == "locked";
  }
  bool held() const { return held_; }
  // Ends the holder at once, as a crash would (TerminateProcess).
  void kill() { child_->kill(); }

 private:
  std::unique_ptr<WindowsChild> child_;
  bool held_ = false;
};
#else
class LockHolder {
 public:
  explicit LockHolder(const std::string& lockFile, const std::string& seconds = "600") {
    int out[2];
    if (pipe(out) != 0) return;
    if ((pid_ = fork()) == 0) {
      dup2(out[1], 1);
      close(out[0]), close(out[1]);
      execl(NX_BUILD_DIR "/hold_lock", "hold_lock", lockFile.c_str(), seconds.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    char line[8] = "";
    held_ = read(out[0], line, 7) == 7 && std::string(line) == "locked\n";
    close(out[0]);
  }
  ~LockHolder() { kill(); }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

  bool held() const { return held_; }
  // Ends the holder at once, as a crash would: the lock file stays behind.
  void kill() {
    if (pid_ > 0 && ::kill(pid_, SIGKILL) == 0) waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  bool held_ = false;
};
#endif

}  // namespace nx::test
