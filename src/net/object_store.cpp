#include "net/object_store.h"

#include "base/paths.h"

namespace nx {

std::wstring objectFolder(const std::wstring& store, const std::string& id) { return joinPath(store, id.substr(0, 2)); }

std::wstring objectPath(const std::wstring& store, const std::string& id) {
  return joinPath(objectFolder(store, id), id);
}

}  // namespace nx
