#pragma once
// The write folder as the applier uses it. It belongs to the user who
// started the applier, so everything in it is that user's to change at any
// moment, also while the applier (perhaps with administrator rights) works:
// the folder is opened once, refused when it is a link or belongs to
// someone else, and every entry is then reached from its handle without
// following a link. What the applier leaves in it belongs to the folder's
// owner, with explicit permissions.
//
// Scratch files (the new database, the new file cache) live in a folder of
// their own inside the write folder that only this process can write to,
// and are handed to path-taking readers by handle paths; the user can
// neither change them after they were checked nor turn them into links.
#include <cstdint>
#include <string>

#include "base/mini_log.h"
#include "sys/files.h"
#include "sys/owned_handle.h"

namespace nx::applier {

class WriteFolder {
 public:
  // Throws ApplierError kBadArguments for a missing folder, a link, or a
  // folder that does not belong to `user`.
  WriteFolder(const std::wstring& path, uint32_t user);
  ~WriteFolder();
  WriteFolder(const WriteFolder&) = delete;
  WriteFolder& operator=(const WriteFolder&) = delete;

  const std::wstring& path() const { return path_; }
  uint32_t owner() const { return owner_; }

  // Logs/autoupdate.log opened for appending (invalidHandle when it cannot
  // be: a link, a file with other names, a folder...).
  sys::Handle openLog();
  // Replaces Logs/<name> with text as one new file. False on failure.
  bool replaceLogFile(const std::wstring& name, const std::string& text);
  // Takes autoupdate.lock, trying every tenth of a second for `seconds`.
  // Throws ApplierError kLockHeld.
  void lock(uint32_t seconds, MiniLog& log);
  // Removes what killed runs left: scratch folders and files.
  void dropLeftovers();

  // A regular file of the write folder opened for reading, never through a
  // link; invalidHandle when there is none.
  sys::Handle openFile(const std::wstring& name);
  // The path of `name` in the private scratch folder (made on first use).
  // Throws ApplierError kReplaceFailed when it cannot be made.
  std::wstring scratchPath(const std::wstring& name);
  sys::Handle scratchFolder();
  // Moves a scratch file into the write folder as `target`, owned by the
  // folder's owner. False on failure (lastError() says why).
  bool install(const std::wstring& scratchName, const std::wstring& target);
  // Deletes a file of the write folder; true when it is gone.
  bool remove(const std::wstring& name);

 private:
  void adopt(sys::Handle handle);
  sys::Handle logsFolder();

  std::wstring path_;
  sys::OwnedHandle folder_;
  sys::OwnedHandle logs_;
  sys::OwnedHandle scratch_;
  sys::Handle lock_ = sys::invalidHandle;
  std::wstring scratchName_;
  uint32_t owner_ = 0, group_ = 0;
};

}  // namespace nx::applier
