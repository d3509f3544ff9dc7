#include "applier/transaction.h"

#include <algorithm>
#include <functional>

#include "applier/applier_error.h"
#include "applier/content_stream.h"
#include "base/paths.h"
#include "base/text.h"
#include "db/state_file_names.h"
#include "io/io_error.h"
#include "net/worker_pool.h"
#include "sys/errors.h"
#include "sys/no_follow.h"
#include "sys/owned_handle.h"

namespace nx::applier {

namespace {

const char* const kStagedSuffix = ".nxapply-new";
const char* const kAsideSuffix = ".nxapply-old";

std::wstring wide(const std::string& name) { return fromUtf8(name); }

TreePath split(const std::string& path) {
  TreePath p;
  splitTreePath(path, &p);  // journal paths were checked when it was written or read
  return p;
}

[[noreturn]] void systemFailure(const std::string& what, const std::string& path) {
  failWithCode(kReplaceFailed, "cannot " + what + " \"" + path + "\": " + sys::errorMessage(sys::lastError()));
}

sys::EntryType entryType(sys::Handle folder, const std::wstring& name, const std::string& path) {
  sys::EntryInfo info;
  if (!sys::entryInfo(folder, name, &info)) systemFailure("read the attributes of", path);
  return info.type;
}

bool present(sys::Handle folder, const std::wstring& name, const std::string& path) {
  return entryType(folder, name, path) != sys::EntryType::missing;
}

// The folder of a journal entry, reached without following links; the
// invalid handle when it is gone (or, with fileCountsAsGone, is a file now),
// which leaves nothing to do there. A link on the way is refused.
BaseTree::Folder folderOf(BaseTree& tree, const TreePath& p, const std::string& path, bool fileCountsAsGone = false) {
  BaseTree::Reach reach;
  std::string where;
  BaseTree::Folder folder = tree.folder(p.folder, &reach, &where);
  if (folder != sys::invalidHandle || reach == BaseTree::Reach::missing ||
      (fileCountsAsGone && reach == BaseTree::Reach::file))
    return folder;
  failWithCode(reach == BaseTree::Reach::link ? kPathRefused : kReplaceFailed, describeReach(reach, path, where));
}

}  // namespace

Transaction::Transaction(BaseTree& tree, WriteFolder& write, MiniLog& log, TestHook& hook)
    : tree_(tree), write_(write), log_(log), hook_(hook) {}

Transaction::~Transaction() = default;

std::wstring Transaction::stagedName(const std::string& name) { return wide(name + kStagedSuffix); }
std::wstring Transaction::asideName(const std::string& name) { return wide(name + kAsideSuffix); }
bool Transaction::isWorkName(const std::string& name) {
  return name.ends_with(kStagedSuffix) || name.ends_with(kAsideSuffix);
}
std::wstring Transaction::pendingCachePath() { return write_.scratchPath(L"applier.cache"); }

void Transaction::begin(const Journal& journal) {
  journal_ = journal;
  journal_.phase = Phase::staging;
  file_ = std::make_unique<JournalFile>(journalPath(tree_), journalShownPath(tree_), journal_);
  hook_.step("journal");
  for (const auto& folder : journal_.createdFolders) {
    tree_.createFolder(folder);
    hook_.step("create folder");
  }
}

void Transaction::replaceFile(const JournalOp& op, sys::Handle folder) {
  TreePath p = split(op.path);
  if (op.kind == JournalOp::Kind::remove) {
    if (folder == sys::invalidHandle) return;
    if (present(folder, asideName(p.name), op.path)) return;
    if (entryType(folder, wide(p.name), op.path) != sys::EntryType::file) return;
    if (!sys::renameAt(folder, wide(p.name), asideName(p.name))) systemFailure("set aside", op.path);
    hook_.step("set aside");
    return;
  }
  if (!present(folder, stagedName(p.name), op.path)) return;  // already in place
  if (op.hadOld && !present(folder, asideName(p.name), op.path)) {
    sys::EntryType current = entryType(folder, wide(p.name), op.path);
    if (current == sys::EntryType::file) {
      if (!sys::renameAt(folder, wide(p.name), asideName(p.name))) systemFailure("set aside", op.path);
      hook_.step("set aside");
    } else if (current != sys::EntryType::missing) {
      failWithCode(kReplaceFailed, "\"" + op.path + "\" is no longer a file");
    }
  }
  if (!sys::renameAt(folder, stagedName(p.name), wide(p.name))) systemFailure("replace", op.path);
  hook_.step("replace");
}

void Transaction::restoreFile(const JournalOp& op) {
  TreePath p = split(op.path);
  BaseTree::Folder folder = folderOf(tree_, p, op.path);
  if (folder == sys::invalidHandle) return;
  bool aside = (op.kind == JournalOp::Kind::remove || op.hadOld) && present(folder, asideName(p.name), op.path);
  if (op.kind == JournalOp::Kind::remove) {
    if (aside) {
      if (!sys::renameAt(folder, asideName(p.name), wide(p.name))) systemFailure("restore", op.path);
      hook_.step("restore");
    }
    return;
  }
  bool staged = present(folder, stagedName(p.name), op.path);
  if (aside) {
    if (!sys::renameAt(folder, asideName(p.name), wide(p.name))) systemFailure("restore", op.path);
    hook_.step("restore");
  } else if (!op.hadOld && !staged && entryType(folder, wide(p.name), op.path) == sys::EntryType::file) {
    // A file this change added: it goes again.
    if (!sys::deleteAt(folder, wide(p.name))) systemFailure("remove", op.path);
    hook_.step("remove new file");
  }
  if (staged) {
    if (!sys::deleteAt(folder, stagedName(p.name))) systemFailure("remove the staged copy of", op.path);
    hook_.step("drop staged file");
  }
}

void Transaction::deleteStagedCopy(const JournalOp& op) {
  if (op.kind != JournalOp::Kind::write) return;
  TreePath p = split(op.path);
  BaseTree::Folder folder = folderOf(tree_, p, op.path, true);
  if (folder == sys::invalidHandle) return;
  if (present(folder, stagedName(p.name), op.path)) {
    if (!sys::deleteAt(folder, stagedName(p.name))) systemFailure("remove the staged copy of", op.path);
    hook_.step("drop staged file");
  }
}

bool Transaction::newContentIntact(const JournalOp& op) {
  if (op.kind != JournalOp::Kind::write) return true;
  TreePath p = split(op.path);
  BaseTree::Reach reach;
  std::string where;
  BaseTree::Folder folder = tree_.folder(p.folder, &reach, &where);
  if (folder == sys::invalidHandle) return false;
  std::wstring name = present(folder, stagedName(p.name), op.path) ? stagedName(p.name) : wide(p.name);
  sys::OwnedHandle file(sys::openFileAt(folder, name));
  if (!file.valid()) return false;
  uint64_t size = 0, time = 0;
  try {
    return sys::handleInfo(file.get(), &size, &time) && size == op.size && hashHandle(file.get(), name) == op.digest;
  } catch (const IOError&) {
    return false;
  }
}

void Transaction::setPhase(Phase phase) {
  file_->mark(phase);
  journal_.phase = phase;
}

void Transaction::replaceFiles() {
  // The folders first (the tree is not shared between threads); then the
  // product's files on a few threads, as renames in different folders do
  // not wait for each other; the state files after them, in their order.
  const auto& ops = journal_.ops;
  std::vector<BaseTree::Folder> folders(ops.size());
  std::vector<size_t> product, state;
  for (size_t i = 0; i < ops.size(); ++i) {
    TreePath p = split(ops[i].path);
    folders[i] =
        ops[i].kind == JournalOp::Kind::remove ? folderOf(tree_, p, ops[i].path) : tree_.requireFolder(p.folder);
    (isStateFileName(ops[i].path) ? state : product).push_back(i);
  }
  forEachInParallel(
      product.size(), 4, [&](size_t k) { replaceFile(ops[product[k]], folders[product[k]]); }, [] { return false; });
  for (size_t i : state) replaceFile(ops[i], folders[i]);
}

void Transaction::deleteStagedFiles() {
  for (const auto& op : journal_.ops) deleteStagedCopy(op);
  removeCreatedFoldersAndJournal();
}

void Transaction::restoreFiles() {
  for (auto op = journal_.ops.rbegin(); op != journal_.ops.rend(); ++op) restoreFile(*op);
  removeCreatedFoldersAndJournal();
}

void Transaction::removeCreatedFoldersAndJournal() {
  for (auto folder = journal_.createdFolders.rbegin(); folder != journal_.createdFolders.rend(); ++folder)
    if (tree_.removeFolderIfEmpty(*folder)) hook_.step("remove created folder");
  // A pending file cache stays in the scratch folder, which goes at the end.
  if (!file_->remove()) systemFailure("remove the journal", toUtf8(journalShownPath(tree_)));
  file_.reset();
  hook_.step("remove journal");
}

void Transaction::commit(const std::function<void()>& awaitCache) {
  // New files reach the disk before the point of no return; one call for
  // all of them, instead of one per file. A write the disk refused (an I/O
  // error of the write-back) is reported here, while the change can still
  // be undone.
  if (!sys::syncFileSystem(tree_.requireFolder("")))
    systemFailure("write the new files to the disk in", toUtf8(tree_.root()));
  setPhase(Phase::commit);
  hook_.step("commit mark");
  replaceFiles();
  log_.log(MiniLog::INFO, "Replaced %zu files", journal_.ops.size());
  finishCommitted(awaitCache);
}

void Transaction::finishCommitted(const std::function<void()>& awaitCache) {
  setPhase(Phase::done);
  cleanup(awaitCache);
}

void Transaction::undo() {
  if (journal_.phase == Phase::staging) {
    deleteStagedFiles();
    return;
  }
  if (journal_.phase == Phase::commit) {
    setPhase(Phase::rollback);
    hook_.step("rollback mark");
  }
  restoreFiles();
}

void Transaction::rollback() {
  if (!file_) return;
  try {
    undo();
  } catch (const std::exception& e) {
    throw ApplierError(kRecoveryFailed, std::string("the previous installation could not be restored: ") + e.what() +
                                            "; the journal \"" + toUtf8(journalShownPath(tree_)) +
                                            "\" stays and the next run settles it");
  }
}

void Transaction::cleanup(const std::function<void()>& awaitCache) {
  // The new state is in place: what fails now is only left over, and the
  // journal stays so the next run tries again.
  bool complete = true;
  auto attempt = [&](const char* what, const std::function<void()>& action) {
    try {
      action();
    } catch (const std::exception& e) {
      complete = false;
      log_.log(MiniLog::WARNING, "Clean-up after the update: %s: %s", what, e.what());
    }
  };
  auto deleteAside = [&](const JournalOp& op) {
    if (op.kind == JournalOp::Kind::write && !op.hadOld) return;
    attempt(op.path.c_str(), [&] {
      TreePath p = split(op.path);
      BaseTree::Reach reach;
      std::string where;
      BaseTree::Folder folder = tree_.folder(p.folder, &reach, &where);
      if (folder == sys::invalidHandle || !present(folder, asideName(p.name), op.path)) return;
      if (!sys::deleteAt(folder, asideName(p.name))) systemFailure("remove the old copy of", op.path);
      hook_.step("remove old copy");
    });
  };
  auto removeEmptiedFolders = [&] {
    for (const auto& folder : journal_.emptiedFolders)
      attempt(folder.c_str(), [&] {
        if (tree_.removeFolderIfEmpty(folder)) hook_.step("remove emptied folder");
      });
  };
  // A whole removal ends with the applier and the database: their set-aside
  // copies go last, after the journal, the database's last of all. Until
  // then the next `uninstall *` finds the database and the program that
  // finishes the removal (see dropRemovalMarkers).
  const auto& ops = journal_.ops;
  const size_t markers = journal_.cache == CacheFate::drop && !ops.empty() &&
                                 ops.back().kind == JournalOp::Kind::remove && ops.back().path == "autoupdate.db"
                             ? std::min<size_t>(2, ops.size())
                             : 0;
  attempt("done mark", [&] { hook_.step("done mark"); });
  for (size_t i = 0; i + markers < ops.size(); ++i) deleteAside(ops[i]);
  removeEmptiedFolders();
  const std::string cache = toUtf8(joinPath(write_.path(), L"autoupdate.cache"));
  if (awaitCache)
    attempt("file cache", [&] {
      try {
        awaitCache();
      } catch (const std::exception& e) {
        // Without the new cache the next run hashes the installed files once.
        log_.log(MiniLog::WARNING, "Failed to save cache: %s", e.what());
      }
    });
  if (journal_.cache == CacheFate::pending)
    attempt("file cache", [&] {
      sys::EntryInfo pending;
      if (!sys::entryInfo(write_.scratchFolder(), L"applier.cache", &pending) || pending.type != sys::EntryType::file)
        return;
      if (!write_.install(L"applier.cache", L"autoupdate.cache")) systemFailure("put in place", cache);
      hook_.step("file cache");
    });
  if (journal_.cache == CacheFate::drop)
    attempt("file cache", [&] {
      if (!write_.remove(L"autoupdate.cache")) systemFailure("remove", cache);
      hook_.step("file cache");
    });
  if (!complete) return;
  attempt("journal", [&] {
    if (!file_->remove()) systemFailure("remove the journal", toUtf8(journalShownPath(tree_)));
    file_.reset();
    hook_.step("remove journal");
  });
  if (file_ || markers == 0) return;
  deleteAside(ops[ops.size() - markers]);
  removeEmptiedFolders();
  if (markers == 2) deleteAside(ops.back());
}

Transaction::Outcome Transaction::recover(const std::wstring& base, WriteFolder& write, MiniLog& log, TestHook& hook) {
  BaseTree tree(base);
  const std::wstring path = journalPath(tree), shown = journalShownPath(tree);
  std::optional<Journal> journal = readJournal(path, shown);
  if (!journal) return Outcome::none;
  static const char* const phases[] = {"staging", "commit", "rollback", "done"};
  log.log(MiniLog::INFO, "Settling the interrupted change of \"%s\" (journal phase: %s, %zu files)",
          toUtf8(journal->base).c_str(), phases[static_cast<int>(journal->phase)], journal->ops.size());
  // A journal only ever acts on the installation it was given with.
  if (journal->base != base)
    failWithCode(kRecoveryFailed, "the journal \"" + toUtf8(shown) + "\" of an interrupted run is damaged (it names " +
                                      "the base folder \"" + toUtf8(journal->base) +
                                      "\"); check the installation and remove the journal");
  try {
    Transaction tx(tree, write, log, hook);
    tx.journal_ = *journal;
    tx.file_ = std::make_unique<JournalFile>(path, shown, tx.journal_);
    switch (journal->phase) {
      case Phase::staging:
        tx.undo();
        log.log(MiniLog::INFO, "The interrupted change had not begun replacing files; its staged files are removed");
        return Outcome::undone;
      case Phase::commit: {
        bool complete = true;
        for (const auto& op : tx.journal_.ops)
          if (!tx.newContentIntact(op)) {
            log.log(MiniLog::WARNING, "New content of \"%s\" is gone or damaged", op.path.c_str());
            complete = false;
            break;
          }
        if (complete) {
          tx.replaceFiles();
          tx.finishCommitted();
          log.log(MiniLog::INFO, "The interrupted change is finished");
          return Outcome::finished;
        }
        tx.undo();
        log.log(MiniLog::INFO, "The interrupted change is undone");
        return Outcome::undone;
      }
      case Phase::rollback:
        tx.undo();
        log.log(MiniLog::INFO, "The interrupted change is undone");
        return Outcome::undone;
      case Phase::done:
        tx.cleanup();
        log.log(MiniLog::INFO, "The interrupted change was complete; its clean-up is finished");
        return Outcome::finished;
    }
  } catch (const ApplierError& e) {
    if (e.code == kRecoveryFailed) throw;
    throw ApplierError(kRecoveryFailed, std::string("cannot settle the interrupted change: ") + e.what());
  } catch (const std::exception& e) {
    throw ApplierError(kRecoveryFailed, std::string("cannot settle the interrupted change: ") + e.what());
  }
  return Outcome::none;
}

}  // namespace nx::applier
