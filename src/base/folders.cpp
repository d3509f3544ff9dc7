#include "base/folders.h"

#include "base/paths.h"
#include "base/system_error_text.h"
#include "base/text.h"
#include "sys/errors.h"
#include "sys/files.h"

namespace nx {

std::wstring userBaseFolder() {
  std::wstring folder = sys::userDataFolder();
  if (!folder.empty()) return folder;
  return currentFolder();
}

std::wstring resolveBaseFolder(const std::wstring& file, const std::wstring& argument) {
  if (!argument.empty()) {
    std::wstring full;
    if (sys::fullPath(argument, &full) && sys::exists(joinPath(full, file))) return full;
  } else {
    std::wstring current = currentFolder();
    if (!current.empty() && sys::exists(joinPath(current, file))) return current;
  }
  for (std::wstring folder = executableFolder(); !folder.empty(); folder = parentFolder(folder)) {
    if (sys::exists(joinPath(folder, file))) return folder;
  }
  return {};
}

std::wstring resolveWriteFolder(const std::wstring& name) {
  std::wstring folder = joinPath(userBaseFolder(), name);
  sys::createFolders(folder);
  return folder;
}

std::wstring resolveTempFolder(const std::wstring& name) {
  std::wstring temp;
  std::wstring folder = sys::tempPath(&temp) ? joinPath(temp, name) : joinPath(resolveWriteFolder(name), L"Temp");
  // Ours and private when we make it; one that is already there is left as
  // it is, and unsafeFolderMessage tells whether it may be used.
  sys::createPrivateFolders(folder);
  return folder;
}

std::string unsafeFolderMessage(const std::wstring& folder) {
  const char* reason = nullptr;
  switch (sys::folderTrust(folder)) {
    case sys::FolderTrust::Private:
      return {};
    case sys::FolderTrust::Missing:
      return "Can't create temp directory \"" + toUtf8(folder) + "\": " + systemErrorText(sys::lastError());
    case sys::FolderTrust::NotAFolder:
      reason = "it is not a folder";
      break;
    case sys::FolderTrust::SymbolicLink:
      reason = "it is a symbolic link";
      break;
    case sys::FolderTrust::OtherOwner:
      reason = "it belongs to another user";
      break;
    case sys::FolderTrust::OthersCanWrite:
      reason = "other users can write to it";
      break;
  }
  return "Unsafe temp directory \"" + toUtf8(folder) + "\": " + reason +
         ". The updater keeps the programs it runs there only in a folder of your own that nobody else can change; "
         "remove it and try again.";
}

}  // namespace nx
