#pragma once
// The interactive download: runs the update operation (verify the
// installation, download the chosen version, save the file cache, hand over
// to the applier or the new updater) on a worker thread under the progress
// dialog with Cancel.
#include <cstdint>
#include <string>

#include "net/autoupdater.h"

namespace nx {

// True when the operation finished (the update was applied or handed over),
// false when the user cancelled. Throws the operation's failure otherwise.
bool downloadAndHandOver(Autoupdater& updater, const std::wstring& writeFolder, const std::wstring& stagingFolder,
                         int32_t versionIndex);

}  // namespace nx
