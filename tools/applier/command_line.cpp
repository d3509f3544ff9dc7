#include "applier/command_line.h"

#include "applier/applier_error.h"
#include "base/text.h"
#include "db/object_id.h"

namespace nx::applier {

const char* const kUsage =
    "usage: applier BASE WRITE STAGING DATABASE_ID [install MODULE...]\n"
    "       applier BASE WRITE TEMP uninstall [MODULE...]\n";

const char* const kVersionText = "applier (VELTRA update applier)\n";

namespace {

std::string moduleName(const std::wstring& word) {
  std::string name = toUtf8(word);
  if (name.empty() || name == "#utf8_error") failWithCode(kBadArguments, "invalid module name \"" + name + "\"");
  return name;
}

}  // namespace

Request parseArguments(const std::vector<std::wstring>& words) {
  if (words.size() < 4)
    failWithCode(kBadArguments, "expected at least four arguments, got " + std::to_string(words.size()));
  Request request;
  request.base = words[0];
  request.write = words[1];
  request.staging = words[2];
  if (request.base.empty() || request.write.empty() || request.staging.empty())
    failWithCode(kBadArguments, "the base, write and staging folders must not be empty");

  if (words[3] == L"uninstall") {
    request.kind = Request::Kind::uninstall;
    for (size_t i = 4; i < words.size(); ++i) request.modules.push_back(moduleName(words[i]));
    return request;
  }
  request.databaseId = toUtf8(words[3]);
  if (!isObjectId(request.databaseId))
    failWithCode(kBadArguments, "database id \"" + request.databaseId + "\" is not 64 lowercase hexadecimal digits");
  if (words.size() > 4) {
    if (words[4] != L"install")
      failWithCode(kBadArguments, "unexpected word \"" + toUtf8(words[4]) + "\" after the database id");
    // "install" without names is accepted: the stages hand it on as it came.
    for (size_t i = 5; i < words.size(); ++i) request.modules.push_back(moduleName(words[i]));
  }
  return request;
}

}  // namespace nx::applier
