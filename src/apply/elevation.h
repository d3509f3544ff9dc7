#pragma once
// How the applier gets the rights to change the installation on POSIX: run
// directly when this user can write it, else behind a helper that asks for
// an administrator's password where the user can answer it.
#include <string>
#include <vector>

namespace nx {

struct ElevationFacts {
  std::string requested;      // AUTOUPDATE_ELEVATE: a helper chosen by hand
  bool canWriteBase = false;  // this user may write the installation
  bool graphical = false;     // a display: a desktop agent can ask
  bool terminal = false;      // stdin is a terminal: a helper can read there
};

// The words put in front of the applier; none: run it directly. A helper
// asked for always wins; else a writable installation needs none, a
// session with a display gets "pkexec" (its desktop agent asks), a terminal
// "sudo -S" (the stage has no controlling terminal, so sudo reads the
// password from stdin), and anything else runs directly (the applier then
// names what it cannot write).
std::vector<std::string> elevationHelper(const ElevationFacts& facts);

// The facts of this process for an installation in baseFolder.
ElevationFacts elevationFacts(const std::wstring& baseFolder);

}  // namespace nx
