#include "app/folders.h"

#include "app/paths.h"
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
  sys::createFolders(folder);
  return folder;
}

}  // namespace nx
