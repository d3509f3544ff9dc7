#include "sys/process.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "sys/errors.h"
#include "sys/posix/native_path.h"

extern char** environ;

namespace nx::sys {

namespace {

// posix_spawnp with the vector itself: no command-line quoting round trip.
// The child gets a session of its own so it outlives its parent, and only
// the standard streams: whatever else is open here (the library's sockets
// among them, which are not opened close-on-exec) is not its business.
bool spawn(const std::vector<std::string>& args, bool wait, uint32_t* exitCode) {
  if (args.empty()) {
    setLastError(EINVAL);
    return false;
  }
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  short flags = POSIX_SPAWN_SETSID;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
#if defined(POSIX_SPAWN_CLOEXEC_DEFAULT)
  flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
#else
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
  posix_spawnattr_setflags(&attr, flags);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    setLastError(static_cast<uint32_t>(rc));
    return false;
  }
  if (!wait) return true;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      setLastError(static_cast<uint32_t>(errno));
      return false;
    }
  }
  // posix_spawn reports a missing program as exit code 127 of the child.
  if (exitCode) *exitCode = WIFEXITED(status) ? static_cast<uint32_t>(WEXITSTATUS(status)) : 0xFFFFFFFFu;
  return true;
}

std::vector<std::string> nativeArgs(const std::vector<std::wstring>& argv) {
  std::vector<std::string> out;
  // Only the program is a path; the other words are passed as they are.
  for (size_t i = 0; i < argv.size(); ++i) out.push_back(i == 0 ? posix::nativePath(argv[i]) : posix::narrow(argv[i]));
  return out;
}

}  // namespace

bool startProcess(const std::vector<std::wstring>& argv, bool wait, uint32_t* exitCode) {
  std::vector<std::string> args = nativeArgs(argv);
  // A bare program name is looked for in the current folder first, then
  // along PATH (posix_spawnp), as a Windows process start does.
  if (!args.empty() && args[0].find('/') == std::string::npos) {
    if (access(args[0].c_str(), X_OK) == 0) args[0] = "./" + args[0];
  } else if (!args.empty() && access(args[0].c_str(), X_OK) != 0) {
    setLastError(static_cast<uint32_t>(errno));
    return false;
  }
  return spawn(args, wait, exitCode);
}

bool runElevated(const std::vector<std::wstring>& argv, const std::vector<std::string>& helper, uint32_t* exitCode) {
  std::vector<std::string> args = nativeArgs(argv);
  if (!args.empty() && access(args[0].c_str(), X_OK) != 0) {
    setLastError(static_cast<uint32_t>(errno));
    return false;
  }
  if (helper.empty()) return spawn(args, true, exitCode);
  args.insert(args.begin(), helper.begin(), helper.end());
  uint32_t code = 0;
  if (!spawn(args, true, &code)) return false;
  // The helper's own codes for "the program was not run": pkexec ends with
  // 126 when the user dismisses its prompt and 127 when it is not allowed;
  // a wrapper shell uses the same two for a program it cannot run.
  if (code == 126 || code == 127) {
    setLastError(code == 126 ? cancelled : static_cast<uint32_t>(EACCES));
    return false;
  }
  if (exitCode) *exitCode = code;
  return true;
}

bool userCanWrite(const std::wstring& folder) { return access(posix::nativePath(folder).c_str(), W_OK | X_OK) == 0; }

bool inputIsTerminal() { return isatty(0) == 1; }

std::string environment(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

}  // namespace nx::sys
