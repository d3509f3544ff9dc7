#pragma once
// Running a program with administrator rights, for the applier: the bootstrap
// stage and the uninstall command wait for it and act on its exit code.
#include <string>
#include <vector>

namespace nx {

// Starts arguments[0] elevated with the rest as its arguments, waits for it
// and returns its exit code (-1 when it cannot be read, as after a crash).
// When it cannot be started, also when the user refuses the elevation,
// throws std::runtime_error "RunAs: <program>\nFAILED: <system text>".
int runElevated(const std::vector<std::wstring>& arguments);

}  // namespace nx
