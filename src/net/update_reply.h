#pragma once
// The update reply: the update server's answer to a check, and the
// hand-over file of a self-update, which holds one in the same format.
//   {"download_url": "URL" or ["URL", ...],
//    "versions": [{"timestamp": "...", "version": "...", "database_id": "<64 hex>",
//                  "database_size": 123, "requirements": "linux:5.10"}, ...]}
// A reply comes from the network: it is read under a size limit and a
// nesting limit, and every id it carries is checked before it can name a
// file.
#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include "io/writer.h"
#include "net/autoupdater.h"

namespace nx {

// Most bytes of reply text (after gunzip) the updater accepts.
inline constexpr size_t kMaxReplyBytes = size_t{16} << 20;
// Deepest nesting of arrays and objects in a reply (a valid one needs 3).
inline constexpr int kMaxReplyDepth = 64;

struct UpdateReply {
  std::deque<std::string> downloadUrls;  // never empty
  std::vector<VersionEntry> versions;    // in reply order
};

// Reads a reply text. Throws std::runtime_error: "JSON error: ..." when the
// text is not JSON; errorText when it is too deeply nested, "download_url"
// is missing, empty or not strings, an entry of "versions" is not an object
// or lacks "timestamp", "version" or "database_id" (strings), or a
// database_id is not an object id. A missing "versions" (or one that is not
// an array) gives no versions; a "database_size" that cannot be read gives 0,
// "requirements" other than a string gives "".
UpdateReply parseUpdateReply(const std::string& text, const std::string& errorText);

// Collects text into a string up to a limit. A write that would pass it
// throws IOError and marks the writer, so the caller can word the failure.
class ReplyTextWriter : public Writer {
 public:
  explicit ReplyTextWriter(std::string& target, size_t limit = kMaxReplyBytes) : target_(&target), limit_(limit) {}
  void write(const void* data, size_t size) override;
  bool overflowed() const { return overflowed_; }

 private:
  std::string* target_;
  size_t limit_;
  bool overflowed_ = false;
};

}  // namespace nx
