#pragma once
// The image command: materialises a complete installation of a published
// version for one arch, language and module set, exactly as init would leave
// it: the product files (gunzipped from the objects, each verified by its
// SHA-256), autoupdate.db, autoupdate.cfg and Config/lang.cfg. The target
// must be empty or missing; a failure removes everything written into it.
#include <string>
#include <vector>

namespace nx::publish {

struct ImageOptions {
  std::wstring repository;
  std::string version;  // "1.2" also takes the newest 1.2.x, as the updater does
  std::wstring target;
  std::string channel;               // empty: the repository's only channel
  std::string arch;                  // empty: the database's default, else "x86_64"
  std::string lang;                  // empty: the database's default
  std::vector<std::string> modules;  // besides the main module
};

struct ImageResult {
  std::string version;  // as published (options.version may name it in short)
  std::string channel;
  std::string timestamp;
  std::string databaseId;
  std::string arch;
  std::string lang;
  std::vector<std::string> modules;  // selected, sorted
  size_t files = 0;
  std::vector<std::string> notes;  // module choices made by exclusive groups
};

ImageResult makeImage(const ImageOptions& options);

// Copies a repository object to target: gunzipped when compressed, verified
// against id. Throws PublishError when missing or damaged; nothing is left
// at target then.
void extractObject(const std::wstring& objectPath, const std::string& id, uint64_t expectedSize,
                   const std::wstring& target);

}  // namespace nx::publish
