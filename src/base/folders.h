#pragma once
// The three working folders, resolved once at start. None of these fails:
// each falls back as far as the current folder (or, for the base folder, to
// empty, which the loading of the installation then reports).
#include <string>

namespace nx {

// The per-user folder the write folder lives in: the user's data folder,
// else the current folder.
std::wstring userBaseFolder();

// The installation: the folder that holds `file`. The argument, when given,
// is taken (as a full path) if it holds the file; without an argument the
// current folder is tried. Failing that, the program's folder and each
// folder above it are searched; the result then ends with a separator.
// Empty when the file is found nowhere.
std::wstring resolveBaseFolder(const std::wstring& file, const std::wstring& argument);

// userBaseFolder joined with the name; created (a failure shows at the first
// write into it).
std::wstring resolveWriteFolder(const std::wstring& name);

// The per-user temporary folder joined with the name, else the write folder's
// "Temp"; created private to the user when missing. An existing folder is
// taken as it is: check it with unsafeFolderMessage before writing into it.
std::wstring resolveTempFolder(const std::wstring& name);

// Empty when the folder may hold the staged update (the elevated applier
// runs from it): it exists, is no symbolic link, is the user's own and
// nobody else can write to it. Otherwise the message to report, and nothing
// may be written there, for example
//   Unsafe temp directory "/home/u/.cache/VELTRA": it belongs to another
//   user. The updater keeps ... remove it and try again.
// For the temp folder (before the named lock is taken in it) and the staging
// folder (once created).
std::string unsafeFolderMessage(const std::wstring& folder);

}  // namespace nx
