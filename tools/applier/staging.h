#pragma once
// Writing one new file beside its target, under its staged name, from the
// first of its sources that yields exactly the listed content: every byte
// is checked against the listed size and SHA-256 before the file counts as
// staged. Objects are gunzipped; installed files are copied byte for byte.
#include <cstdint>
#include <string>
#include <vector>

#include "app/mini_log.h"
#include "applier/base_tree.h"

namespace nx::applier {

struct ContentSource {
  enum class Kind { object, installed, file, text };
  Kind kind = Kind::object;
  std::wstring file;   // object: the object's path; file: a plain file outside the base folder
  TreePath installed;  // installed: a file of the installation that holds the content
  const std::string* text = nullptr;  // text: the content itself
};

struct NewFile {
  TreePath path;
  std::string digest;
  uint64_t size = 0;
  bool executable = false;
  std::vector<ContentSource> sources;
};

struct StagedFile {
  uint64_t size = 0;
  uint64_t writeTime = 0;  // FILETIME; a rename keeps it
};

// Stages the file (its folder must exist). Throws ApplierError kBadObject
// when no source yields the content (the last problem is named),
// kReplaceFailed when the file cannot be written (a full disk),
// kPathRefused for a link on the way.
StagedFile stageFile(BaseTree& tree, const NewFile& file, MiniLog& log);

}  // namespace nx::applier
