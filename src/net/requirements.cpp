#include "net/requirements.h"

#include <stdexcept>

namespace nx {

namespace {

// A version number as the standard library reads one (leading number, rest
// ignored); false when none can be read or it does not fit.
bool readNumber(const std::string& text, uint64_t& out) {
  try {
    out = std::stoull(text, nullptr, 10);
    return true;
  } catch (const std::invalid_argument&) {
    return false;
  } catch (const std::out_of_range&) {
    return false;
  }
}

bool itemMet(const std::string& item, const sys::OsVersion& system) {
  size_t colon = item.find(':');
  std::string key = item.substr(0, colon);
  std::string value = colon == std::string::npos ? std::string() : item.substr(colon + 1);
  if (key.empty() || key != system.key) return false;
  if (value.empty()) return true;
  size_t dot = value.find('.');
  if (dot == std::string::npos) return false;
  uint64_t major = 0, minor = 0;
  if (!readNumber(value.substr(0, dot), major) || !readNumber(value.substr(dot + 1), minor)) return false;
  return major < system.major || (major == system.major && minor <= system.minor);
}

}  // namespace

bool requirementsMet(const std::string& requirements, const sys::OsVersion& system) {
  size_t start = 0;
  while (start <= requirements.size()) {
    size_t end = requirements.find(';', start);
    if (end == std::string::npos) end = requirements.size();
    if (end > start && !itemMet(requirements.substr(start, end - start), system)) return false;
    start = end + 1;
  }
  return true;
}

}  // namespace nx
