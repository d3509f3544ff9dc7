#pragma once
// Files and folders. Paths are wide strings; both '/' and '\' are accepted as
// separators. Failures return false / invalidHandle and set lastError().
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace nx::sys {

using Handle = intptr_t;
inline constexpr Handle invalidHandle = -1;

// The separator the system's paths use; the one inserted when joining paths.
extern const wchar_t pathSeparator;

// The bytes the system's own file calls take for a path (for libraries that
// open files themselves): UTF-8 on POSIX, with '\' turned into '/'.
std::string nativePath(const std::wstring& path);
// The wide form of a path or word in the system's own bytes (a program
// argument, a name a library returns); nativePath gives the same bytes back,
// also for names that are not valid UTF-8.
std::wstring fromNativePath(const std::string& native);

// Open an existing file for reading; others may read it too. Only a regular
// file opens: a folder fails with the "is a directory" error, a FIFO, socket
// or device with the "invalid argument" error, without ever blocking.
Handle openRead(const std::wstring& path);
// The write opens also take a device (a writer may aim at /dev/null); a FIFO
// that no one reads fails at once instead of blocking.
// Create a file for writing, truncating an existing one (create-always).
Handle createWrite(const std::wstring& path);
// Open a file for writing, creating it when missing, keeping its content.
Handle openAlways(const std::wstring& path);
// Open a file for appending, creating it when missing: every write lands at
// the end of the file, also while another process appends to it.
Handle openAppend(const std::wstring& path);

// Creates a new file whose name is prefix followed by a few unique
// characters, exclusively (never an existing file, never through a link), and
// opens it for writing; *path receives its name. For temporary files that
// are renamed into place once complete. When modeOf names an existing file,
// the new file gets that file's permissions (a private file stays private,
// also while the new one is being written); else the usual ones for a new file.
Handle createUnique(const std::wstring& prefix, std::wstring* path, const std::wstring& modeOf = {});

// Reads up to size bytes; *got is 0 at the end of the file.
bool read(Handle h, void* buffer, size_t size, size_t* got);
// Writes the block; *written may be less than size (a full disk).
bool write(Handle h, const void* data, size_t size, size_t* written);
bool seekToEnd(Handle h);
// Cuts the file at the current position.
bool truncateHere(Handle h);
// Last-write time of an open file as a FILETIME value.
bool fileTime(Handle h, uint64_t* filetime);
// Pushes written data to the disk.
bool flush(Handle h);
void close(Handle h);

struct FileInfo {
  bool exists = false;
  bool isFolder = false;
  bool isDevice = false;  // neither a regular file nor a folder
  uint64_t size = 0;
  uint64_t writeTime = 0;  // FILETIME: 100 ns units since 1601-01-01 UTC
};
// Attributes of a path; exists is false (and the result false) when it is missing.
bool fileInfo(const std::wstring& path, FileInfo* info);
bool exists(const std::wstring& path);

bool deleteFile(const std::wstring& path);
// Renames a file; fails when the target exists.
bool moveFile(const std::wstring& from, const std::wstring& to);
// Renames a file over an existing one in one step.
bool replaceFile(const std::wstring& from, const std::wstring& to);

// One level; fails with alreadyExists when the folder is there.
bool createFolder(const std::wstring& path);
// With all missing parents; an existing folder is success.
bool createFolders(const std::wstring& path);
// The same, but every level it creates is private to the user (POSIX mode
// 0700). Existing levels are never changed.
bool createPrivateFolders(const std::wstring& path);

// Whether a folder is fit to hold what the elevated applier runs (the temp and
// staging folders): a real folder, not a symbolic link, owned by the user,
// that neither the group nor others can write to.
enum class FolderTrust { Private, Missing, NotAFolder, SymbolicLink, OtherOwner, OthersCanWrite };
FolderTrust folderTrust(const std::wstring& path);
bool removeFolder(const std::wstring& path);

struct FolderEntry {
  std::wstring name;
  bool isFolder = false;
};
// Entries of a folder without "." and "..".
bool listFolder(const std::wstring& path, std::vector<FolderEntry>* entries);

// Absolute form of a path, taken from the current folder when relative.
bool fullPath(const std::wstring& path, std::wstring* full);
bool currentFolder(std::wstring* folder);
// The absolute path of an existing file or folder with every symbolic link
// resolved; false (fileNotFound) for a broken link.
bool realPath(const std::wstring& path, std::wstring* real);
bool executablePath(std::wstring* path);
// The per-user temporary folder, ending with a separator; false when the
// system names none. Levels of it that are missing are created private; an
// existing one is taken as it is, so what is kept below it must be created
// private and checked with folderTrust.
bool tempPath(std::wstring* path);
// The per-user folder for application data; empty when there is none.
std::wstring userDataFolder();

}  // namespace nx::sys
