#pragma once
// Which offered version a version target names: the updater's `update 1.2`
// and the publisher's `image REPO 1.2` pick by the same rule.
#include <string>

namespace nx {

// The offered version equals the wanted one, or the wanted one is a prefix of
// it that ends just before a "." ("1.2" matches "1.2" and "1.2.5", not "1.20").
// Callers take the last match in offer order.
bool versionMatches(const std::string& offered, const std::string& wanted);

}  // namespace nx
