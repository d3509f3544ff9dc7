#include "app/installation_check.h"

#include <stdexcept>

#include "base/paths.h"
#include "base/text.h"
#include "sys/files.h"

namespace nx {

void requireInstallation(const std::wstring& baseFolder) {
  // Without a database nothing is known about the folder: the load says so.
  if (!sys::exists(joinPath(baseFolder, L"autoupdate.db"))) return;
  if (sys::exists(joinPath(baseFolder, L"autoupdate.cfg"))) return;
  throw std::runtime_error("VELTRA is not initialised in " + toUtf8(baseFolder) +
                           " (no autoupdate.cfg): run autoupdate init LANG there first");
}

}  // namespace nx
