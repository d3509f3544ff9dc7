#include "db/object_id.h"

namespace nx {

bool isObjectId(std::string_view id) {
  if (id.size() != 64) return false;
  for (char c : id)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

bool isSafeRelativePath(std::string_view path) {
  if (path.empty()) return false;
  // "C:x" names a drive on Windows, whatever follows.
  if (path.size() >= 2 && path[1] == ':') return false;
  size_t start = 0;
  for (;;) {
    size_t end = path.find_first_of("/\\", start);
    std::string_view part = path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (part.empty() || part == "." || part == "..") return false;
    for (char c : part)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

}  // namespace nx
