#pragma once
// The installation's folder tree, reached only by name from the base folder
// downwards and never through a symbolic link (see sys/no_follow.h). Every
// path the applier touches goes through here; folder handles are kept open
// while the applier works, so each file costs one call on its folder.
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "sys/no_follow.h"

namespace nx::applier {

// A path of the base folder split into folder and name ("a/b/c.txt" ->
// "a/b", "c.txt"), UTF-8 with '/' whatever separators the database used.
struct TreePath {
  std::string folder;  // empty for the base folder itself
  std::string name;
  std::string full() const { return folder.empty() ? name : folder + "/" + name; }
};

// Splits a database path. False when it would leave the base folder (empty,
// absolute, a drive, ".", ".." or empty pieces, control characters) or does
// not convert to a file name.
bool splitTreePath(const std::string& path, TreePath* out);
// The parent of a folder path ("a/b" -> "a", "a" -> "").
std::string parentOf(const std::string& folder);

class BaseTree {
 public:
  // An open folder of the tree. It stays open as long as a copy exists, even
  // when the tree drops it from its cache meanwhile; an empty one converts
  // to invalidHandle.
  class Folder {
   public:
    Folder() = default;
    operator sys::Handle() const { return open_ ? open_->handle : sys::invalidHandle; }

   private:
    friend class BaseTree;
    struct Open {
      explicit Open(sys::Handle handle) : handle(handle) {}
      ~Open() { sys::close(handle); }
      Open(const Open&) = delete;
      Open& operator=(const Open&) = delete;
      sys::Handle handle;
    };
    explicit Folder(std::shared_ptr<Open> open) : open_(std::move(open)) {}
    std::shared_ptr<Open> open_;
  };

  // Opens the base folder; throws ApplierError kBadArguments when it is not one.
  explicit BaseTree(const std::wstring& root);
  ~BaseTree();
  BaseTree(const BaseTree&) = delete;
  BaseTree& operator=(const BaseTree&) = delete;

  const std::wstring& root() const { return root_; }

  enum class Reach { ok, missing, link, file, error };
  // A folder below the base folder (cached). On failure an empty Folder,
  // *reach says why and *where names the piece.
  Folder folder(const std::string& rel, Reach* reach, std::string* where);
  // The same, for folders that must be there: throws ApplierError
  // (kPathRefused for a link, kReplaceFailed otherwise).
  Folder requireFolder(const std::string& rel);

  // What the entry is; missing when its folder is missing. Throws
  // ApplierError kPathRefused when a folder on the way is a link.
  sys::EntryInfo info(const TreePath& path);
  // Removes the folder when it is empty; false when it is not (or is gone).
  bool removeFolderIfEmpty(const std::string& rel);
  // Creates one missing folder level; throws on failure.
  void createFolder(const std::string& rel);

 private:
  Folder open(const std::string& rel, Reach* reach, std::string* where);
  void forget(const std::string& rel);

  std::wstring root_;
  Folder rootFolder_;
  std::unordered_map<std::string, Folder> open_;
};

// "path \"x\"" with a reason, for the refusal messages.
std::string describeReach(BaseTree::Reach reach, const std::string& path, const std::string& where);

}  // namespace nx::applier
