#pragma once
// File operations below an open folder that never follow a symbolic link.
// An entry is reached from a folder handle by its name alone (one path
// component), so a link planted anywhere on the way to a file can neither
// redirect a write or a delete nor be noticed too late: a link is refused
// where it stands, whatever it points to. Renames stay within one folder and
// are atomic; a crash leaves either name in place, never neither.
//
// Folder handles are ordinary Handles (close them with sys::close). Failures
// return false / invalidHandle and set lastError(): linkRefused for a link
// where a file or folder was expected, notAFolder for a file where a folder
// was expected.
#include <cstdint>
#include <string>
#include <vector>

#include "sys/files.h"

namespace nx::sys {

extern const uint32_t linkRefused;
extern const uint32_t notAFolder;

// Opens a folder named by a full path for the operations below. The path
// itself is the caller's choice and may pass through links.
Handle openFolder(const std::wstring& path);
// The same, but a link at the last piece of the path is refused
// (linkRefused): for folders another user may have made.
Handle openFolderNoLink(const std::wstring& path);
// Opens the subfolder `name` of an open folder; refuses a link (linkRefused)
// and anything that is not a folder (notAFolder).
Handle openSubfolder(Handle folder, const std::wstring& name);

enum class EntryType { missing, file, folder, link, other };
struct EntryInfo {
  EntryType type = EntryType::missing;
  uint64_t size = 0;        // files only
  uint64_t writeTime = 0;   // FILETIME
  bool executable = false;  // the owner may execute it
  uint32_t mode = 0;        // permission bits
  uint32_t owner = 0;       // user id
  uint32_t group = 0;       // group id
  uint32_t links = 0;       // hard links to the file
};
// What `name` is inside the folder, without following a link. A missing
// entry is success with type missing.
bool entryInfo(Handle folder, const std::wstring& name, EntryInfo* info);

// Opens a regular file for reading; refuses links, folders, pipes and
// devices (never blocks on a FIFO).
Handle openFileAt(Handle folder, const std::wstring& name);
// Creates a new file for writing with exactly the permissions rw-r--r--, or
// rwxr-xr-x when executable. Fails when the name exists in any form.
Handle createFileAt(Handle folder, const std::wstring& name, bool executable);
// The same for an open file or folder.
bool handleEntryInfo(Handle handle, EntryInfo* info);
// Opens an existing regular file with no other hard link for writing at its
// end, or creates it (with `mode`); refuses links, pipes and devices.
// *created tells which happened.
Handle openAppendAt(Handle folder, const std::wstring& name, uint32_t mode, bool* created);
// Size and last-write time of an open file.
bool handleInfo(Handle file, uint64_t* size, uint64_t* writeTime);

// Takes the lock file `name` (created when missing, never through a link):
// an exclusive lock that lasts while the handle is open. A lock another
// process holds fails with sharingViolation; *created tells whether the file
// was made now.
Handle lockFileAt(Handle folder, const std::wstring& name, bool* created);
// The names in an open folder, without "." and "..".
bool listEntries(Handle folder, std::vector<std::wstring>* names);
// Moves an entry from one open folder to another on the same file system;
// replaces a file at `to`.
bool renameBetween(Handle from, const std::wstring& fromName, Handle to, const std::wstring& toName);
// Renames an entry within the folder; replaces a file at `to`.
bool renameAt(Handle folder, const std::wstring& from, const std::wstring& to);
// Deletes a file or a link (never what a link points to); refuses folders.
bool deleteAt(Handle folder, const std::wstring& name);
// Creates a subfolder with exactly `mode` (0755 when 0), whatever the umask.
bool createSubfolder(Handle folder, const std::wstring& name, uint32_t mode = 0);
// Removes an empty subfolder; fails when it holds anything.
bool removeSubfolder(Handle folder, const std::wstring& name);

// Gives an open file or folder an owner and exact permission bits.
bool setOwner(Handle handle, uint32_t owner, uint32_t group);
bool setMode(Handle handle, uint32_t mode);

// A path that names an open file or folder itself, or an entry of an open
// folder, for libraries that only take paths: it leads to the same object
// even when the path it was opened by now leads elsewhere.
std::wstring handlePath(Handle handle, const std::wstring& name = {});

// The user an elevated run works for: when this process runs with
// administrator rights, the user named by the elevation helper (PKEXEC_UID,
// else SUDO_UID), else the real user. A value that is not a plain number is
// ignored.
uint32_t invokingUser();
// The user this process acts as.
uint32_t effectiveUser();
// True when this process has more rights than the user it works for.
bool elevatedForOtherUser();

// Pushes the file system's pending writes that concern this handle's file
// system to the disk (one call for many files).
bool syncFileSystem(Handle anyHandleOnIt);

}  // namespace nx::sys
