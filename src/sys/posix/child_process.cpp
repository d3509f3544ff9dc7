#include "sys/child_process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "sys/errors.h"
#include "sys/posix/native_path.h"

extern char** environ;

namespace nx::sys {

// A running program's file may be replaced on POSIX: the stages need not
// wait for their starter to end.
bool canWaitForHandOver() { return true; }

bool startChild(const std::vector<std::wstring>& argv, Child* child) {
  if (argv.empty()) {
    setLastError(EINVAL);
    return false;
  }
  std::vector<std::string> args;
  for (size_t i = 0; i < argv.size(); ++i) args.push_back(i == 0 ? posix::nativePath(argv[i]) : posix::narrow(argv[i]));
  std::vector<char*> pointers;
  for (auto& a : args) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  // Only stdin, stdout and stderr go to the child.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  // No new session: the child stays in the terminal's foreground group.
  pid_t pid = 0;
  int rc = posix_spawn(&pid, pointers[0], &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    setLastError(static_cast<uint32_t>(rc));
    return false;
  }
  child->id = pid;
  return true;
}

bool waitForChild(Child& child, uint32_t* exitCode) {
  if (!child.started()) {
    setLastError(EINVAL);
    return false;
  }
  // As system() does: the keys that end a foreground job end the child only.
  struct sigaction ignore = {}, oldInt = {}, oldQuit = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGINT, &ignore, &oldInt);
  ::sigaction(SIGQUIT, &ignore, &oldQuit);
  int status = 0;
  pid_t got;
  while ((got = ::waitpid(static_cast<pid_t>(child.id), &status, 0)) < 0 && errno == EINTR) {
  }
  const int waitError = errno;
  ::sigaction(SIGINT, &oldInt, nullptr);
  ::sigaction(SIGQUIT, &oldQuit, nullptr);
  if (got < 0) {
    setLastError(static_cast<uint32_t>(waitError));
    return false;
  }
  child.id = -1;
  if (exitCode)
    *exitCode = WIFEXITED(status) ? static_cast<uint32_t>(WEXITSTATUS(status))
                                  : 128u + static_cast<uint32_t>(WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  return true;
}

void setEnvironment(const char* name, const std::string& value) {
  if (value.empty())
    ::unsetenv(name);
  else
    ::setenv(name, value.c_str(), 1);
}

}  // namespace nx::sys
