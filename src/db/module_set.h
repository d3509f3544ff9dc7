#pragma once
// Changing the set of selected modules of a database.
#include <string>
#include <vector>

#include "base/mini_log.h"
#include "db/database.h"

namespace nx {

// Selects a known module and deselects the other selected members of every
// exclusive group that holds it (one INFO line each). False for an unknown name.
bool selectModule(Database& db, const std::string& name, MiniLog& log);
// Selects a known module regardless of exclusive groups; throws runtime_error
// for an unknown name.
void addModule(Database& db, const std::string& name);
// Deselects a module; throws runtime_error for an unknown name or the main module.
void removeModule(Database& db, const std::string& name);

// The modules of `requested` that the installation does not have selected
// yet, in their order: those are what an install has to add.
std::vector<std::string> modulesToInstall(const std::vector<std::string>& requested, const Database& installed);

}  // namespace nx
