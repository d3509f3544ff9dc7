#pragma once
// Runs a real program as a child process, the way a user or another
// program would: arguments, extra environment variables, stdin from
// /dev/null (NUL), stdout and stderr captured until every process that holds them
// (the program's own children too) has ended. A program that outlives its
// deadline is killed and reported with status -1, so a hang fails the test
// quickly.
#ifdef _WIN32
// Before windows.h, as the loopback server's header needs.
// clang-format off
#include <winsock2.h>
#include <windows.h>
// clang-format on
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#include "support/windows_process.h"
#endif

namespace nx::test {

struct ProgramResult {
  int status = -1;  // exit code; -1 when killed or not started
  std::string out, err;
};

using Environment = std::vector<std::pair<std::string, std::string>>;

#ifdef _WIN32
// The program's own path, or the same with ".exe" (NX_BUILD_DIR "/publish" names publish.exe).
inline ProgramResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                                const Environment& environment = {}, int deadlineSeconds = 60) {
  ProgramResult result;
  WindowsChild child(program, arguments, environment, true);
  if (!child.started()) return result;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(deadlineSeconds);
  // Anonymous pipes cannot wait with a timeout: poll them until both report their end.
  bool killed = false;
  while (!child.outputEnded()) {
    if ((killed = std::chrono::steady_clock::now() >= deadline)) break;
    if (!child.readAvailable(result.out, result.err)) ::Sleep(2);
  }
  result.status = killed ? (child.kill(), -1) : child.wait();
  // Text-mode streams end lines with "\r\n" on Windows; the tests compare lines.
  for (std::string* text : {&result.out, &result.err}) std::erase(*text, '\r');
  return result;
}
#else
inline ProgramResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                                const Environment& environment = {}, int deadlineSeconds = 60) {
  ProgramResult result;
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return result;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(open("/dev/null", O_RDONLY), 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    close(out[0]), close(err[0]), close(out[1]), close(err[1]);
    for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]), close(err[1]);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(deadlineSeconds);
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};  // a closed one becomes -1: poll skips it
  std::string* sinks[2] = {&result.out, &result.err};
  bool killed = false;
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if ((killed = left.count() <= 0)) break;
    if (poll(fds, 2, static_cast<int>(left.count())) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      char buffer[4096];
      ssize_t n = fds[i].revents ? read(fds[i].fd, buffer, sizeof buffer) : -2;
      if (n > 0) sinks[i]->append(buffer, static_cast<size_t>(n));
      if (n == 0 || n == -1) close(fds[i].fd), fds[i].fd = -1;
    }
  }
  for (auto& fd : fds)
    if (fd.fd >= 0) close(fd.fd);
  if (killed) kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = !killed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}
#endif

}  // namespace nx::test
