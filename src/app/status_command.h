#pragma once
// `autoupdate status [--json]`: what is installed, read from the files
// alone (no network, no lock): version, arch, language, modules, the
// folders, the day of the last check and an update still waiting to be
// settled. Printed on stdout as lines, or with --json as one JSON object:
//   {"product": "VELTRA", "version": "2.0", "arch": "x86_64", "lang": "de",
//    "modules": ["veltra", "maps"], "base_folder": "...", "write_folder": "...",
//    "last_check": "2026-12-07" or null, "pending_update": false}
#include <string>
#include <vector>

#include "base/mini_log.h"

namespace nx {

// Returns 0, or 2 when the installation cannot be read (reported as failures are).
int statusCommand(const std::vector<std::wstring>& words, const std::wstring& baseFolder,
                  const std::wstring& writeFolder, MiniLog& log);

// Day as whole days since 1601-01-01 UTC -> "YYYY-MM-DD".
std::string dayText(uint64_t day);

}  // namespace nx
