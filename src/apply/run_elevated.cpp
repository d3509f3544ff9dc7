#include "apply/run_elevated.h"

#include <stdexcept>

#include "apply/elevation.h"
#include "base/system_error_text.h"
#include "base/text.h"
#include "sys/errors.h"
#include "sys/files.h"
#include "sys/process.h"

namespace nx {

int runElevated(const std::vector<std::wstring>& arguments) {
  uint32_t code = 0;
  // The applier's first argument is the installation it changes.
  const std::vector<std::string> helper =
      elevationHelper(elevationFacts(arguments.size() > 1 ? arguments[1] : std::wstring()));
  if (arguments.empty() || !sys::runElevated(arguments, helper, &code)) {
    const uint32_t error = arguments.empty() ? sys::fileNotFound : sys::lastError();
    std::string program = arguments.empty() ? std::string() : toUtf8(arguments[0]);
    // The program is looked at before its helper starts: when it is there,
    // a missing file is the elevation helper's, and the message says so.
    const std::string helper = sys::environment("AUTOUPDATE_ELEVATE");
    if (error == sys::fileNotFound && !helper.empty() && !arguments.empty() && sys::exists(arguments[0]))
      program = helper + " (the elevation helper for " + program + ")";
    throw std::runtime_error("RunAs: " + program + "\nFAILED: " + systemErrorText(error));
  }
  return static_cast<int>(code);
}

}  // namespace nx
