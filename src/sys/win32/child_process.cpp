#include "sys/child_process.h"

#include <windows.h>

#include <cstdlib>

namespace nx::sys {

// A running program's file cannot be replaced here: the updater that hands
// over must end before the applier replaces it, so nobody waits.
bool canWaitForHandOver() { return false; }

bool startChild(const std::vector<std::wstring>&, Child*) {
  ::SetLastError(ERROR_NOT_SUPPORTED);
  return false;
}

bool waitForChild(Child&, uint32_t*) {
  ::SetLastError(ERROR_NOT_SUPPORTED);
  return false;
}

void setEnvironment(const char* name, const std::string& value) {
  ::SetEnvironmentVariableA(name, value.empty() ? nullptr : value.c_str());
}

}  // namespace nx::sys
