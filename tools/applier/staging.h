#pragma once
// Writing new files beside their targets, under their staged names, each
// from the first of its sources that yields exactly the listed content:
// every byte is checked against the listed size and SHA-256 before the file
// counts as staged. Objects are gunzipped; installed files are copied byte
// for byte. Files are staged by a few threads at once (gunzip and hashing
// take the time); they touch only folders opened beforehand.
#include <cstdint>
#include <string>
#include <vector>

#include "applier/base_tree.h"
#include "applier/test_hook.h"
#include "base/mini_log.h"

namespace nx::applier {

struct ContentSource {
  enum class Kind { object, installed, file, text };
  Kind kind = Kind::object;
  std::wstring file;                  // object: the object's path (for messages); file: a scratch file
  TreePath installed;                 // installed: a file of the installation that holds the content;
                                      // object: the object in the staging folder's store
  BaseTree::Folder installedFolder;   // its folder, opened by resolveFolders
  const std::string* text = nullptr;  // text: the content itself
};

struct NewFile {
  TreePath path;
  BaseTree::Folder folder;  // opened by resolveFolders
  std::string digest;
  uint64_t size = 0;
  bool executable = false;
  // The owner the file gets when the applier may choose: the replaced
  // file's; when not known, the owner of the folder it goes into.
  bool ownerKnown = false;
  uint32_t owner = 0, group = 0;
  std::vector<ContentSource> sources;
};

struct StagedFile {
  uint64_t size = 0;
  uint64_t writeTime = 0;  // FILETIME; a rename keeps it
};

// Opens the folders of the file, of its installed sources (they must exist)
// and of its objects in `store`. Throws ApplierError (kPathRefused for a link
// on the way).
void resolveFolders(BaseTree& tree, BaseTree& store, NewFile& file);

// Stages one file whose folders are resolved. Throws ApplierError
// kBadObject when no source yields the content (the last problem is named),
// kReplaceFailed when the file cannot be written (a full disk).
StagedFile stageFile(const NewFile& file, MiniLog& log);

// Stages every file, on up to `threads` threads (fewer when no more can be
// started), counting one hook step for each. The first failure stops the
// others and is thrown once all have ended.
std::vector<StagedFile> stageFiles(const std::vector<const NewFile*>& files, MiniLog& log, TestHook& hook,
                                   unsigned threads);

}  // namespace nx::applier
