#pragma once
// What a release consists of: every file of the product folder (plus files
// added from elsewhere), each assigned to one module and one of its file
// lists, with its size and SHA-256. Built in one pass before anything is
// written, so bad input fails before the repository is touched.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "db/state_file_names.h"
#include "publish/release_description.h"

namespace nx::publish {

struct ReleaseFile {
  std::string path;     // relative, '/'-separated: the installed path
  std::wstring source;  // where its bytes are read from
  std::string module;
  std::string list;  // "common", "arch_<arch>" or "lang_<lang>"
  std::string hash;  // SHA-256 of the content, lowercase hex
  uint64_t size = 0;
  bool executable = false;  // the source may be run by its owner
};

struct ReleaseContent {
  std::vector<ReleaseFile> files;     // sorted by path (byte order)
  std::vector<std::string> warnings;  // worth telling the user, not fatal
};

// Every regular file below folder, as sorted relative '/' paths. Symbolic
// links are followed; one that leads out of the folder only with
// followLinks. Throws PublishError for an unreadable folder, a name that is
// not UTF-8, a link that leaves the folder, a broken link or a file that is
// not regular.
std::vector<std::pair<std::string, std::wstring>> listProductFiles(const std::wstring& folder, bool followLinks);

// Assigns the product files (path -> source) to modules and lists, then
// hashes them. Throws PublishError for a missing file, a pattern that matches
// nothing, a path claimed by two modules or two lists, an applier file
// outside the main module, a module with arch or language files but no
// common file (the updater reads those lists only beside a common one), and
// a published path that names the installation's own state (autoupdate.db,
// autoupdate.cfg, Config/lang.cfg, ..., in any letter case).
ReleaseContent buildReleaseContent(const ReleaseDescription& description,
                                   const std::vector<std::pair<std::string, std::wstring>>& productFiles);

// Whether the owner may run the file (it is recorded for the installation).
bool isExecutable(const std::wstring& path);
// SHA-256 (lowercase hex) and size of a file's content.
std::string hashFile(const std::wstring& path, uint64_t* size);

}  // namespace nx::publish
