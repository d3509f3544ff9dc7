#pragma once
// The release description: a small JSON file that says what one published
// version is (version, channel, server addresses, modules and their files,
// launch and applier lists). Loading checks every key, so a typing error in
// the file is a clear failure and never an odd update database.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "db/database.h"

namespace nx::publish {

using PatternList = std::vector<std::string>;

struct ModuleRule {
  std::string name;
  PatternList files;                                      // common to every arch and language
  std::vector<std::pair<std::string, PatternList>> arch;  // arch word -> files only that arch gets
  std::vector<std::pair<std::string, PatternList>> lang;  // language word -> files only that language gets
};

struct ReleaseDescription {
  uint64_t format = 1;
  std::string version;
  std::string tag;
  std::string timestamp;                  // empty: the time of publishing
  std::vector<std::string> update_url;    // may be empty: then a base URL is given
  std::vector<std::string> download_url;  // likewise
  std::string main;
  std::string lang;                 // default language of a new installation; may be empty
  std::string arch;                 // default arch; may be empty
  std::vector<ModuleRule> modules;  // in the order of the file
  std::vector<std::vector<std::string>> exclusive_modules;
  std::vector<SetupEntry> setup;
  std::vector<std::string> launch;
  std::vector<std::string> apply;
  std::string requirements;

  const ModuleRule* findModule(const std::string& name) const;
};

// Reads and checks a description. Throws PublishError naming the file and the
// offending key.
ReleaseDescription loadReleaseDescription(const std::wstring& path);
// The same from text; origin names the source in messages.
ReleaseDescription parseReleaseDescription(const std::string& text, const std::string& origin);

// A word usable as a module, arch or channel name: letters, digits, "_", "-"
// and "." (it becomes part of member names, file names and query strings).
bool isPlainWord(const std::string& word);
// A timestamp "YYYY-MM-DDTHH:MM:SSZ" for the current UTC time.
std::string timestampNow();
// The timestamp one second after a valid one of that form (it also compares
// greater as text); empty for any other text, and after the year 9999.
std::string timestampAfter(const std::string& timestamp);

}  // namespace nx::publish
