#pragma once
// The uninstall command: checks the request against the installed database
// and hands it to the applier program, started with administrator rights;
// the applier's exit code is the command's.
//   uninstall *            everything
//   uninstall NAME...      the named modules
#include <string>
#include <vector>

#include "base/mini_log.h"

namespace nx {

// True when autoupdate.db or autoupdate.cfg of baseFolder is there only as
// the copy a killed change of the applier set aside: uninstall settles such
// an installation first.
bool interruptedChange(const std::wstring& baseFolder);

int uninstall(const std::vector<std::wstring>& words, const std::wstring& baseFolder, const std::wstring& writeFolder,
              const std::wstring& tempFolder, MiniLog& log, bool runFlag, std::vector<std::wstring> forwardedOptions);

}  // namespace nx
