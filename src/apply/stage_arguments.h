#pragma once
// The stage command line, written by the process that hands an update on and
// read back by the stage it starts:
//   <program> <stage> BASE WRITE STAGING DATABASE_ID [install MODULE...]
#include <cstddef>
#include <string>
#include <vector>

#include "db/database.h"

namespace nx {

struct StageArguments {
  std::wstring baseFolder;
  std::wstring writeFolder;
  std::wstring stagingFolder;
  std::string databaseId;                   // 64 lowercase hex digits
  std::vector<std::string> installModules;  // the words after "install" (UTF-8)
};

// Reads the words after the stage word at position `at`. Throws
// std::runtime_error "Invalid arguments." when fewer than at+5 words are
// given or the database id is not an object id (it names a file later). A
// word other than "install" after the id, or "install" without a module,
// asks for nothing.
StageArguments readStageArguments(const std::vector<std::wstring>& arguments, size_t at);

// The command line that starts a stage; "install" and the modules only when
// there are modules.
std::vector<std::wstring> stageCommandLine(const std::wstring& program, const std::wstring& stageWord,
                                           const std::wstring& baseFolder, const std::wstring& writeFolder,
                                           const std::wstring& stagingFolder, const std::string& databaseId,
                                           const std::vector<std::string>& installModules);

}  // namespace nx
