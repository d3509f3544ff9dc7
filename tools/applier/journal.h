#pragma once
// The journal of one change to an installation, kept in the base folder
// (where only the installation's owner can write, so no other user can
// forge one for an elevated run to act on) while the change runs, so that a run that was killed can be finished or
// undone by the next one. It is written whole (under a temporary name,
// flushed, renamed into place) before anything in the base folder changes;
// afterwards only phase marks are appended to it.
//
// Text, one item a line; paths last on their line, UTF-8 with '/':
//   VELTRA applier journal 1
//   base <base folder, %-escaped>
//   cache keep|pending|drop
//   created <folder>           folders made for new files, parents first
//   emptied <folder>           folders to remove when empty at the end, deepest first
//   write <digest> <size> <0|1 an installed file is replaced> <path>
//   remove <path>
//   end
// then the marks: "commit" (every new file is staged and verified; the
// replacements begin), "rollback" (the change is being undone), "done" (the
// new state is in place; what is left is clean-up).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "applier/base_tree.h"
#include "sys/files.h"
#include "sys/owned_handle.h"

namespace nx::applier {

struct JournalOp {
  enum class Kind { write, remove };
  Kind kind = Kind::write;
  std::string path;     // split with splitTreePath
  std::string digest;   // write: SHA-256 of the new content
  uint64_t size = 0;    // write: its size
  bool hadOld = false;  // write: an installed file is set aside and replaced
};

enum class Phase { staging, commit, rollback, done };
// What happens to the write folder's file cache at the end.
enum class CacheFate { keep, pending, drop };

struct Journal {
  std::wstring base;
  CacheFate cache = CacheFate::keep;
  std::vector<std::string> createdFolders;
  std::vector<std::string> emptiedFolders;
  std::vector<JournalOp> ops;
  Phase phase = Phase::staging;
};

// The journal file of the base folder (the name the next run looks for), as
// a path through the tree's open base folder, and as shown to the user.
std::wstring journalPath(BaseTree& tree);
std::wstring journalShownPath(const BaseTree& tree);

class JournalFile {
 public:
  // Writes the whole journal (with its phase) and puts it in place. Throws
  // ApplierError kReplaceFailed when it cannot be written.
  JournalFile(const std::wstring& path, const std::wstring& shown, const Journal& journal);
  ~JournalFile();
  JournalFile(const JournalFile&) = delete;
  JournalFile& operator=(const JournalFile&) = delete;

  // Appends a phase mark and flushes it to the disk. Throws ApplierError
  // kReplaceFailed (kRecoveryFailed for the rollback mark).
  void mark(Phase phase);
  // Deletes the journal: the change is complete. False when that failed.
  bool remove();

 private:
  std::wstring path_, shown_;
  sys::OwnedHandle handle_;
};

// Reads the journal at path; nothing when there is none. A damaged journal
// throws ApplierError kRecoveryFailed naming `shown`.
std::optional<Journal> readJournal(const std::wstring& path, const std::wstring& shown);

}  // namespace nx::applier
