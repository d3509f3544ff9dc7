#pragma once
// One all-or-nothing change of an installation: new files staged beside
// their targets, old files set aside, everything recorded in the journal.
//
//   begin     the journal is put in place; folders for new files are made
//   (staging) the caller writes each new file under stagedName() and checks it
//   commit    mark "commit"; per op: the installed file is renamed aside
//             (<name>.nxapply-old), the staged one renamed into place; mark
//             "done"; then the aside files and emptied folders go, the
//             pending file cache replaces the old one, the journal goes (a
//             whole removal's last two aside files, the applier's and the
//             database's, go after the journal)
//   rollback  every step undone in reverse; the journal goes
//
// A run killed anywhere is settled by recover() at the start of the next
// one: before "commit" the staged files are dropped (old installation);
// after it, the change is finished when every new file is still there and
// intact (new installation), else undone; after "done" only the clean-up is
// repeated. Every rename stays within one folder, so each is atomic.
#include <functional>
#include <memory>
#include <string>

#include "applier/base_tree.h"
#include "applier/journal.h"
#include "applier/test_hook.h"
#include "applier/write_folder.h"
#include "base/mini_log.h"

namespace nx::applier {

class Transaction {
 public:
  Transaction(BaseTree& tree, WriteFolder& write, MiniLog& log, TestHook& hook);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // The name a new file is staged under, and the one an installed file is set aside under.
  static std::wstring stagedName(const std::string& name);
  static std::wstring asideName(const std::string& name);
  // True for names this class makes (a database must not list them).
  static bool isWorkName(const std::string& name);
  // Where the caller saves the new file cache before commit (CacheFate::pending).
  std::wstring pendingCachePath();

  // Writes the journal and creates its folders. Throws ApplierError.
  void begin(const Journal& journal);
  // Makes the staged files durable, replaces, cleans up. `awaitCache` is
  // called before the pending file cache replaces the old one (the caller
  // may still be writing it); its failure is only logged. Throws
  // ApplierError (or an I/O error) while the change can still be undone.
  void commit(const std::function<void()>& awaitCache = {});
  // Undoes whatever begin, the staging and commit did. Throws ApplierError
  // kRecoveryFailed when the previous state cannot be restored (the journal
  // then stays for the next run).
  void rollback();

  // Settles the journal a killed run left in the base folder, if any. A
  // journal that names another base folder, or a path that would leave it,
  // is damaged: ApplierError kRecoveryFailed, and nothing is done. A new
  // file cache that a killed run had not yet put in place is lost (the next
  // updater hashes the installed files once).
  enum class Outcome { none, finished, undone };
  static Outcome recover(const std::wstring& base, WriteFolder& write, MiniLog& log, TestHook& hook);

 private:
  // One journal entry, on disk: the installed file set aside and the staged
  // one renamed into place (a removed file only set aside), in its folder
  // (invalidHandle: a removed file's folder is gone).
  void replaceFile(const JournalOp& op, sys::Handle folder);
  // Undoes replaceFile: the aside file renamed back, a staged or added file deleted.
  void restoreFile(const JournalOp& op);
  // Deletes the staged copy of a written file, if there is one.
  void deleteStagedCopy(const JournalOp& op);
  // True when the new content of a written file (staged or in place) has its
  // listed size and digest.
  bool newContentIntact(const JournalOp& op);
  void replaceFiles();
  // Before "commit": the staged copies go. After it: every file is restored.
  // Both then remove the folders begin made, and the journal.
  void deleteStagedFiles();
  void restoreFiles();
  void removeCreatedFoldersAndJournal();
  // Undoes the change from whatever phase it reached.
  void undo();
  // From the "done" mark on: the clean-up.
  void finishCommitted(const std::function<void()>& awaitCache = {});
  void cleanup(const std::function<void()>& awaitCache = {});
  // Marks the journal, then the in-memory phase.
  void setPhase(Phase phase);

  BaseTree& tree_;
  WriteFolder& write_;
  MiniLog& log_;
  TestHook& hook_;
  Journal journal_;
  std::unique_ptr<JournalFile> file_;
};

}  // namespace nx::applier
