#pragma once
// What a release consists of: every file of the product folder (plus files
// added from elsewhere), each assigned to one module and one of its file
// lists, with its size and SHA-256. Built in one pass before anything is
// written, so bad input fails before the repository is touched.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "publish/release_description.h"

namespace nx::publish {

struct ReleaseFile {
  std::string path;     // relative, '/'-separated: the installed path
  std::wstring source;  // where its bytes are read from
  std::string module;
  std::string list;     // "common", "arch_<arch>" or "lang_<lang>"
  std::string hash;     // SHA-256 of the content, lowercase hex
  uint64_t size = 0;
};

struct ReleaseContent {
  std::vector<ReleaseFile> files;     // sorted by path (byte order)
  std::vector<std::string> warnings;  // worth telling the user, not fatal
};

// Every regular file below folder, as sorted relative '/' paths. Throws
// PublishError for an unreadable folder or a name that is not UTF-8.
std::vector<std::pair<std::string, std::wstring>> listProductFiles(const std::wstring& folder);

// Assigns the product files (path -> source) to modules and lists, then
// hashes them. Throws PublishError for a missing file, a pattern that matches
// nothing, a path claimed by two modules or two lists, an applier file
// outside the main module, and a module with arch or language files but no
// common file (the updater reads those lists only beside a common one).
ReleaseContent buildReleaseContent(const ReleaseDescription& description,
                                   const std::vector<std::pair<std::string, std::wstring>>& productFiles);

// SHA-256 (lowercase hex) and size of a file's content.
std::string hashFile(const std::wstring& path, uint64_t* size);

}  // namespace nx::publish
