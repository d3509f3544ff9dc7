#pragma once
// The applier's two invocations, as the updater starts it:
//   applier BASE WRITE STAGING DATABASE_ID [install MODULE...]
//   applier BASE WRITE TEMP uninstall [MODULE...]
#include <string>
#include <vector>

namespace nx::applier {

extern const char* const kUsage;
// What --version prints.
extern const char* const kVersionText;

struct Request {
  enum class Kind { update, uninstall };
  Kind kind = Kind::update;
  std::wstring base;
  std::wstring write;
  std::wstring staging;              // the object store of an update; the temp folder of an uninstall
  std::string databaseId;            // update only: 64 lowercase hex digits
  std::vector<std::string> modules;  // update: the install words; uninstall: modules to remove
};

// The words after the program name. Throws ApplierError kBadArguments.
Request parseArguments(const std::vector<std::wstring>& words);

}  // namespace nx::applier
