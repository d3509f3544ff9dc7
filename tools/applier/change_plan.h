#pragma once
// Collects the operations of one change while checking every place it
// touches: no symbolic link on the way to a file or at it, no folder where a
// file goes, no file where a folder goes. Nothing on the disk changes while
// a plan is built, except that leftovers of this program's own work names
// beside the files it changes (from a run whose journal was lost) are removed.
#include <set>
#include <string>
#include <vector>

#include "applier/base_tree.h"
#include "applier/journal.h"
#include "base/mini_log.h"

namespace nx::applier {

class ChangePlan {
 public:
  ChangePlan(BaseTree& tree, MiniLog& log) : tree_(tree), log_(log) {}

  // The place of a file of the new state: returns what is installed there
  // (missing or a file); missing folders on the way are noted for creation.
  // Throws ApplierError kPathRefused for a link on the way or at the file,
  // kReplaceFailed for a file where a folder belongs or a folder or device
  // where the file belongs.
  sys::EntryInfo placeForWrite(const TreePath& path);
  // An installed file the new state no longer has: true when it is there to
  // be removed. A folder or device at that path is left alone (a warning).
  // Throws ApplierError kPathRefused for a link.
  bool placeForRemove(const TreePath& path);

  // Operations, carried out in the order they are added.
  void write(const TreePath& path, const std::string& digest, uint64_t size, bool hadOld);
  void remove(const TreePath& path);
  bool empty() const { return ops_.empty(); }
  const std::vector<JournalOp>& ops() const { return ops_; }

  Journal journal(const std::wstring& base, CacheFate cache) const;

 private:
  void dropLeftovers(const TreePath& path);

  BaseTree& tree_;
  MiniLog& log_;
  std::vector<JournalOp> ops_;
  std::set<std::string> created_;
  std::set<std::string> emptied_;
};

}  // namespace nx::applier
