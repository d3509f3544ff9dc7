#include "net/update_reply.h"

#include <stdexcept>

#include "db/json.h"
#include "db/object_id.h"
#include "io/io_error.h"

namespace nx {

namespace {

// True when no array or object in the text lies deeper than limit. The tree
// of a deeper document is freed by recursion, which a hostile reply of a few
// MiB of "[" would drive through the stack. Strings and comments are skipped
// as the parser reads them.
bool nestingWithin(const std::string& text, int limit) {
  int depth = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') {
      for (++i; i < text.size() && text[i] != '"'; ++i)
        if (text[i] == '\\') ++i;
    } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
      i = text.find('\n', i);
      if (i == std::string::npos) return true;
    } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
      i = text.find("*/", i + 2);
      if (i == std::string::npos) return true;
      ++i;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return false;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return true;
}

std::string requiredString(yajl_val entry, const char* key, const std::string& errorText) {
  yajl_val value = findKey(entry, key, yajl_t_string);
  if (!value) throw std::runtime_error(errorText);
  return YAJL_GET_STRING(value);
}

}  // namespace

UpdateReply parseUpdateReply(const std::string& text, const std::string& errorText) {
  if (!nestingWithin(text, kMaxReplyDepth)) throw std::runtime_error(errorText);
  JsonTree tree = parseJsonText(text);
  UpdateReply reply;

  std::vector<std::string> urls;
  getStringList(findKey(tree.get(), "download_url", yajl_t_any), urls, errorText);
  if (urls.empty()) throw std::runtime_error(errorText);
  reply.downloadUrls.assign(urls.begin(), urls.end());

  yajl_val versions = findKey(tree.get(), "versions", yajl_t_array);
  if (!versions) return reply;
  reply.versions.reserve(versions->u.array.len);
  for (size_t i = 0; i < versions->u.array.len; ++i) {
    yajl_val entry = versions->u.array.values[i];
    if (!YAJL_IS_OBJECT(entry)) throw std::runtime_error(errorText);
    VersionEntry& v = reply.versions.emplace_back();
    v.timestamp = requiredString(entry, "timestamp", errorText);
    v.version = requiredString(entry, "version", errorText);
    v.database_id = requiredString(entry, "database_id", errorText);
    // The id names the database's file in the object store.
    if (!isObjectId(v.database_id)) throw std::runtime_error(errorText);
    if (!getUnsigned(findKey(entry, "database_size", yajl_t_any), v.database_size)) v.database_size = 0;
    yajl_val requirements = findKey(entry, "requirements", yajl_t_any);
    if (YAJL_IS_STRING(requirements)) v.requirements = YAJL_GET_STRING(requirements);
  }
  return reply;
}

void ReplyTextWriter::write(const void* data, size_t size) {
  if (size > limit_ - target_->size()) {
    overflowed_ = true;
    throw IOError("text larger than " + std::to_string(limit_) + " bytes", IOError::kNoCode);
  }
  target_->append(static_cast<const char*>(data), size);
}

}  // namespace nx
