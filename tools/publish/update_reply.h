#pragma once
// The update reply of one channel: the mirrors' base URLs and every version
// published on it, oldest first. The updater installs the last entry that is
// newer than its own, so keeping the list in timestamp order makes the newest
// version the one offered.
#include <cstdint>
#include <string>
#include <vector>

namespace nx::publish {

struct ReplyVersion {
  std::string timestamp;
  std::string version;
  std::string database_id;
  uint64_t database_size = 0;
  std::string requirements;
};

struct UpdateReply {
  std::vector<std::string> download_url;
  std::vector<ReplyVersion> versions;
};

// Reads a reply as the updater would. Throws PublishError naming origin when
// the text is not a valid reply.
UpdateReply parseReply(const std::string& text, const std::string& origin);
// Adds a version; an entry with the same version and timestamp is replaced.
// Entries are kept sorted by timestamp (byte order), equal ones in the order
// they were added.
void addVersion(UpdateReply& reply, const ReplyVersion& version);
// The reply as the updater's beautified JSON.
std::string generateReply(const UpdateReply& reply);

}  // namespace nx::publish
