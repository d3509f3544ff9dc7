#pragma once
// The updater as a program: the command line in, the exit code out.
//   autoupdate [check|update [TARGET]|repair|install MODULE...] [options]
//   autoupdate init LANG [ARCH] | modconfig reg|reg_fast|unreg MODULE... |
//              uninstall *|MODULE...
//   autoupdate bootstrap|continue BASE WRITE STAGING DATABASE_ID [install MODULE...]
// Exit codes of the commands: 0 done (also when nothing was offered, the
// user declined or cancelled, or the check failed and was reported), 1
// invalid arguments, a lock not obtained or the product not started, 2 a
// failure of the system; the maintenance commands and the stages return
// their own.
#include <string>
#include <vector>

namespace nx {

int runAutoupdate(const std::vector<std::wstring>& arguments);

}  // namespace nx
