#pragma once
// A program started as the next stage of an update run that this process
// waits for: with --wait the command the user ran stays in the foreground
// until the hand-over chain has ended. Whether that is possible is the
// platform's call: where a running program's files cannot be replaced
// (Windows), the updater must end before its successor replaces it.
#include <cstdint>
#include <string>
#include <vector>

namespace nx::sys {

// True when a process may wait for the stages it starts.
bool canWaitForHandOver();

struct Child {
  int64_t id = -1;  // the platform's process id; -1: none started
  bool started() const { return id >= 0; }
};

// Starts argv[0] (a path) with the rest as its arguments in this process's
// session and process group, so it shares the terminal in the foreground
// (its dialog takes the keys). False, with lastError() set, when it could
// not be started.
bool startChild(const std::vector<std::wstring>& argv, Child* child);

// Waits for the child to end. Meanwhile Ctrl-C and Ctrl-\ do not end this
// process (the child decides what they mean, as with system()). exitCode:
// the child's exit code, or 128 + the signal that ended it. False when it
// cannot be waited for.
bool waitForChild(Child& child, uint32_t* exitCode);

// Sets (or, with an empty value, removes) a variable of this process's
// environment, which the programs it starts inherit.
void setEnvironment(const char* name, const std::string& value);

}  // namespace nx::sys
