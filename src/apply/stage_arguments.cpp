#include "apply/stage_arguments.h"

#include <stdexcept>

#include "base/text.h"
#include "db/object_id.h"

namespace nx {

StageArguments readStageArguments(const std::vector<std::wstring>& arguments, size_t at) {
  if (arguments.size() < at + 5) throw std::runtime_error("Invalid arguments.");
  StageArguments out;
  out.baseFolder = arguments[at + 1];
  out.writeFolder = arguments[at + 2];
  out.stagingFolder = arguments[at + 3];
  out.databaseId = toUtf8(arguments[at + 4]);
  if (!isObjectId(out.databaseId)) throw std::runtime_error("Invalid arguments.");
  if (arguments.size() > at + 6 && arguments[at + 5] == L"install")
    for (size_t i = at + 6; i < arguments.size(); ++i) out.installModules.push_back(toUtf8(arguments[i]));
  return out;
}

std::vector<std::wstring> stageCommandLine(const std::wstring& program, const std::wstring& stageWord,
                                           const std::wstring& baseFolder, const std::wstring& writeFolder,
                                           const std::wstring& stagingFolder, const std::string& databaseId,
                                           const std::vector<std::string>& installModules) {
  std::vector<std::wstring> line{program, stageWord, baseFolder, writeFolder, stagingFolder, fromUtf8(databaseId)};
  if (!installModules.empty()) {
    line.push_back(L"install");
    for (const std::string& name : installModules) line.push_back(fromUtf8(name));
  }
  return line;
}

}  // namespace nx
