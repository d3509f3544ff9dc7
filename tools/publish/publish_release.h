#pragma once
// The release command: publishes one version of a product folder into a
// repository (objects, update database, channel reply). Everything is read
// and checked first; objects are written next, the database after them and
// the reply last, each under a temporary name and renamed into place. A
// failure removes what this run wrote, so the repository stays as it was.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace nx::publish {

struct ReleaseOptions {
  std::wstring description;
  std::wstring product;
  std::wstring repository;
  std::string channel;  // empty: the description's tag
  // Empty: the description's; without one, the current time, or a second
  // after the channel's newest. A timestamp another version of the channel
  // has is refused.
  std::string timestamp;
  // When set, replaces the description's addresses by the repository's own:
  // update URL baseUrl/update/<channel>, download URL baseUrl/objects (a
  // trailing '/' of baseUrl is dropped; what a URL cannot hold is
  // percent-encoded).
  std::string baseUrl;
  // Files from outside the product folder: installed path -> source file.
  std::vector<std::pair<std::string, std::wstring>> extraFiles;
  // Publish what symbolic links that leave the product folder point to
  // (otherwise such a link is refused).
  bool followLinks = false;
};

struct ReleaseResult {
  std::string channel;
  std::string version;
  std::string timestamp;
  std::string databaseId;
  uint64_t databaseSize = 0;
  size_t files = 0;
  uint32_t newObjects = 0;
  std::vector<std::string> warnings;
};

ReleaseResult publishRelease(const ReleaseOptions& options);

}  // namespace nx::publish
