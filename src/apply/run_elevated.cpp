#include "apply/run_elevated.h"

#include <stdexcept>

#include "apply/elevation.h"
#include "base/system_error_text.h"
#include "base/text.h"
#include "sys/errors.h"
#include "sys/process.h"

namespace nx {

int runElevated(const std::vector<std::wstring>& arguments) {
  uint32_t code = 0;
  // The applier's first argument is the installation it changes.
  const std::vector<std::string> helper =
      elevationHelper(elevationFacts(arguments.size() > 1 ? arguments[1] : std::wstring()));
  if (arguments.empty() || !sys::runElevated(arguments, helper, &code)) {
    const uint32_t error = arguments.empty() ? sys::fileNotFound : sys::lastError();
    throw std::runtime_error("RunAs: " + (arguments.empty() ? std::string() : toUtf8(arguments[0])) +
                             "\nFAILED: " + systemErrorText(error));
  }
  return static_cast<int>(code);
}

}  // namespace nx
