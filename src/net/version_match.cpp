#include "net/version_match.h"

namespace nx {

bool versionMatches(const std::string& offered, const std::string& wanted) {
  if (offered.size() < wanted.size() || offered.compare(0, wanted.size(), wanted) != 0) return false;
  return offered.size() == wanted.size() || offered[wanted.size()] == '.';
}

}  // namespace nx
