#include "db/source_tag.h"

#include "base/paths.h"
#include "io/file_reader.h"
#include "sys/files.h"

namespace nx {

std::string readSourceTag(const std::wstring& baseFolder) {
  std::wstring path = joinPath(baseFolder, L"Config/autoupdate.tag");
  sys::FileInfo info;
  if (!sys::fileInfo(path, &info) || info.isFolder || info.isDevice) path = joinPath(baseFolder, L"Config/retail.cfg");
  std::string tag;
  for (char c : readFileHead(path, 64)) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-')
      tag.push_back(c);
  }
  return tag;
}

}  // namespace nx
