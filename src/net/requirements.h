#pragma once
// Conditions that an offered version puts on the running system.
#include <string>

#include "sys/os_version.h"

namespace nx {

// requirements: items separated by ";" (empty items skipped), each
// "KEY" or "KEY:MAJOR.MINOR". An item is met when KEY is the system's own key
// (case matters) and either no version is given or MAJOR.MINOR is not above
// the system's release. Any other key, or a version without "." or without a
// readable number, is unmet. An empty string is met; otherwise every item
// must be.
bool requirementsMet(const std::string& requirements, const sys::OsVersion& system);

}  // namespace nx
