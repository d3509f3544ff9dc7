#pragma once
// What an installation needs before a command may work on it, with the
// messages a user can act on.
#include <string>

namespace nx {

// Throws runtime_error when the base folder holds no autoupdate.cfg (a copied
// installation): "VELTRA is not initialised in <folder>: run autoupdate init LANG".
void requireInstallation(const std::wstring& baseFolder);

}  // namespace nx
