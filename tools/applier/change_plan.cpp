#include "applier/change_plan.h"

#include <algorithm>

#include "applier/applier_error.h"
#include "applier/transaction.h"
#include "base/text.h"
#include "sys/errors.h"

namespace nx::applier {

namespace {

size_t depth(const std::string& folder) { return static_cast<size_t>(std::count(folder.begin(), folder.end(), '/')); }

[[noreturn]] void refuseEntry(const sys::EntryInfo& entry, const std::string& path) {
  if (entry.type == sys::EntryType::link)
    failWithCode(kPathRefused, "path \"" + path + "\" is a symbolic link; refused");
  failWithCode(kReplaceFailed, "path \"" + path + "\" is " +
                                   (entry.type == sys::EntryType::folder ? "a folder" : "not a regular file") +
                                   " where the new version has a file");
}

}  // namespace

void ChangePlan::dropLeftovers(const TreePath& path) {
  BaseTree::Reach reach;
  std::string where;
  BaseTree::Folder folder = tree_.folder(path.folder, &reach, &where);
  if (folder == sys::invalidHandle) return;  // a folder still to be made holds nothing
  for (const std::wstring& work : {Transaction::stagedName(path.name), Transaction::asideName(path.name)}) {
    sys::EntryInfo entry;
    if (!sys::entryInfo(folder, work, &entry) || entry.type == sys::EntryType::missing) continue;
    if (entry.type == sys::EntryType::folder || !sys::deleteAt(folder, work))
      failWithCode(kReplaceFailed,
                   "cannot remove the leftover \"" + toUtf8(work) + "\" beside \"" + path.full() + "\"");
    log_.log(MiniLog::WARNING, "Removed the leftover \"%s\" of an earlier run beside \"%s\"", toUtf8(work).c_str(),
             path.full().c_str());
  }
}

sys::EntryInfo ChangePlan::placeForWrite(const TreePath& path) {
  BaseTree::Reach reach;
  std::string where;
  sys::EntryInfo entry;
  BaseTree::Folder folder = tree_.folder(path.folder, &reach, &where);
  if (folder == sys::invalidHandle) {
    if (reach != BaseTree::Reach::missing)
      failWithCode(reach == BaseTree::Reach::link ? kPathRefused : kReplaceFailed,
                   describeReach(reach, path.full(), where));
    // Every level from the first missing one down to the file's folder.
    for (std::string f = path.folder;; f = parentOf(f)) {
      created_.insert(f);
      if (f == where || f.empty()) break;
    }
    return entry;
  }
  if (!sys::entryInfo(folder, fromUtf8(path.name), &entry))
    failWithCode(kReplaceFailed,
                 "cannot read the attributes of \"" + path.full() + "\": " + sys::errorMessage(sys::lastError()));
  if (entry.type != sys::EntryType::missing && entry.type != sys::EntryType::file) refuseEntry(entry, path.full());
  return entry;
}

bool ChangePlan::placeForRemove(const TreePath& path) {
  BaseTree::Reach reach;
  std::string where;
  BaseTree::Folder folder = tree_.folder(path.folder, &reach, &where);
  if (folder == sys::invalidHandle) {
    if (reach == BaseTree::Reach::missing || reach == BaseTree::Reach::file) return false;
    failWithCode(reach == BaseTree::Reach::link ? kPathRefused : kReplaceFailed,
                 describeReach(reach, path.full(), where));
  }
  sys::EntryInfo entry;
  if (!sys::entryInfo(folder, fromUtf8(path.name), &entry))
    failWithCode(kReplaceFailed,
                 "cannot read the attributes of \"" + path.full() + "\": " + sys::errorMessage(sys::lastError()));
  switch (entry.type) {
    case sys::EntryType::missing:
      return false;
    case sys::EntryType::link:
      failWithCode(kPathRefused, "path \"" + path.full() + "\" is a symbolic link; refused");
    case sys::EntryType::file:
      return true;
    default:
      log_.log(MiniLog::WARNING, "\"%s\" is no longer listed but is not a file; left alone", path.full().c_str());
      return false;
  }
}

void ChangePlan::write(const TreePath& path, const std::string& digest, uint64_t size, bool hadOld) {
  JournalOp op;
  op.kind = JournalOp::Kind::write;
  op.path = path.full();
  op.digest = digest;
  op.size = size;
  op.hadOld = hadOld;
  ops_.push_back(std::move(op));
  dropLeftovers(path);
}

void ChangePlan::remove(const TreePath& path) {
  JournalOp op;
  op.kind = JournalOp::Kind::remove;
  op.path = path.full();
  ops_.push_back(std::move(op));
  dropLeftovers(path);
  for (std::string f = path.folder; !f.empty(); f = parentOf(f)) emptied_.insert(f);
}

Journal ChangePlan::journal(const std::wstring& base, CacheFate cache) const {
  Journal journal;
  journal.base = base;
  journal.cache = cache;
  journal.ops = ops_;
  // Created folders parents first; folders that may empty deepest first.
  journal.createdFolders.assign(created_.begin(), created_.end());
  std::stable_sort(journal.createdFolders.begin(), journal.createdFolders.end(),
                   [](const std::string& a, const std::string& b) { return depth(a) < depth(b); });
  journal.emptiedFolders.assign(emptied_.begin(), emptied_.end());
  std::stable_sort(journal.emptiedFolders.begin(), journal.emptiedFolders.end(),
                   [](const std::string& a, const std::string& b) { return depth(a) > depth(b); });
  return journal;
}

}  // namespace nx::applier
