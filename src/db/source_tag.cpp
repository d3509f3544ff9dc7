#include "db/source_tag.h"

#include "db/install_state.h"
#include "io/file_reader.h"
#include "io/io_error.h"
#include "sys/files.h"

namespace nx {

std::string readSourceTag(const std::wstring& baseFolder) {
  std::wstring path = inFolder(baseFolder, L"Config/autoupdate.tag");
  sys::FileInfo info;
  if (!sys::fileInfo(path, &info) || info.isFolder || info.isDevice) path = inFolder(baseFolder, L"Config/retail.cfg");
  std::string tag;
  char bytes[64];
  size_t got = 0;
  try {
    FileReader reader(path);
    got = reader.read(bytes, sizeof bytes);
  } catch (const IOError&) {
    return tag;
  }
  for (size_t i = 0; i < got; ++i) {
    char c = bytes[i];
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-')
      tag.push_back(c);
  }
  return tag;
}

}  // namespace nx
