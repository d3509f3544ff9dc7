#pragma once
// mkdtemp on every system: replaces the trailing "XXXXXX" of pattern with
// random digits until a new folder by that name could be made (owner only).
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace nx::fuzz {

inline bool makeUniqueFolder(std::string& pattern) {
  if (pattern.size() < 6) return false;
  static std::mt19937_64 random{std::random_device{}()};
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string digits = std::to_string(random() % 1000000 + 1000000).substr(1);
    pattern.replace(pattern.size() - 6, 6, digits);
    std::error_code ec;
    if (std::filesystem::create_directory(pattern, ec)) {
      std::filesystem::permissions(pattern, std::filesystem::perms::owner_all, ec);
      return true;
    }
  }
  return false;
}

}  // namespace nx::fuzz
