#include "apply/elevation.h"

#include "sys/process.h"

namespace nx {

std::vector<std::string> elevationHelper(const ElevationFacts& facts) {
  if (!facts.requested.empty()) return {facts.requested};
  if (facts.canWriteBase) return {};
  // A desktop's agent asks in a window of its own, also for a program started
  // in a terminal, and reads no keys the shell may take.
  if (facts.graphical) return {"pkexec"};
  if (facts.terminal) return {"sudo", "-S"};
  return {};
}

ElevationFacts elevationFacts(const std::wstring& baseFolder) {
  ElevationFacts facts;
  facts.requested = sys::environment("AUTOUPDATE_ELEVATE");
  facts.canWriteBase = sys::userCanWrite(baseFolder);
  facts.graphical = !sys::environment("WAYLAND_DISPLAY").empty() || !sys::environment("DISPLAY").empty();
  facts.terminal = sys::inputIsTerminal();
  return facts;
}

}  // namespace nx
