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

#include "sys/files.h"

namespace nx::sys {

extern const uint32_t linkRefused;
extern const uint32_t notAFolder;

// Opens a folder named by a full path for the operations below. The path
// itself is the caller's choice and may pass through links.
Handle openFolder(const std::wstring& path);
// Opens the subfolder `name` of an open folder; refuses a link (linkRefused)
// and anything that is not a folder (notAFolder).
Handle openSubfolder(Handle folder, const std::wstring& name);

enum class EntryType { missing, file, folder, link, other };
struct EntryInfo {
  EntryType type = EntryType::missing;
  uint64_t size = 0;        // files only
  uint64_t writeTime = 0;   // FILETIME
  bool executable = false;  // the owner may execute it
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
// Size and last-write time of an open file.
bool handleInfo(Handle file, uint64_t* size, uint64_t* writeTime);

// Renames an entry within the folder; replaces a file at `to`.
bool renameAt(Handle folder, const std::wstring& from, const std::wstring& to);
// Deletes a file or a link (never what a link points to); refuses folders.
bool deleteAt(Handle folder, const std::wstring& name);
bool createSubfolder(Handle folder, const std::wstring& name);
// Removes an empty subfolder; fails when it holds anything.
bool removeSubfolder(Handle folder, const std::wstring& name);

// Pushes the file system's pending writes that concern this handle's file
// system to the disk (one call for many files).
bool syncFileSystem(Handle anyHandleOnIt);

}  // namespace nx::sys
