#include "publish/update_reply.h"

#include <algorithm>

#include "db/json.h"
#include "publish/publish_error.h"
#include "publish/user_json.h"

namespace nx::publish {

UpdateReply parseReply(const std::string& text, const std::string& origin) {
  auto fail = [&](const std::string& what) -> void { throw PublishError(origin + ": " + what); };
  UpdateReply reply;
  JsonTree tree;
  try {
    tree = parseUserJson(text);
    getStringList(findKey(tree.get(), "download_url", yajl_t_any), reply.download_url, "bad \"download_url\"");
  } catch (const PublishError&) {
    throw;
  } catch (const std::runtime_error& e) {
    fail(std::string("not a valid update reply (") + e.what() + ")");
  }
  if (reply.download_url.empty()) fail("not a valid update reply (empty \"download_url\")");
  yajl_val versions = findKey(tree.get(), "versions", yajl_t_array);
  if (!versions) return reply;
  for (size_t i = 0; i < versions->u.array.len; ++i) {
    yajl_val entry = versions->u.array.values[i];
    ReplyVersion v;
    yajl_val timestamp = findKey(entry, "timestamp", yajl_t_string);
    yajl_val version = findKey(entry, "version", yajl_t_string);
    yajl_val id = findKey(entry, "database_id", yajl_t_string);
    if (!YAJL_IS_OBJECT(entry) || !timestamp || !version || !id)
      fail("not a valid update reply (version entry " + std::to_string(i + 1) + ")");
    v.timestamp = YAJL_GET_STRING(timestamp);
    v.version = YAJL_GET_STRING(version);
    v.database_id = YAJL_GET_STRING(id);
    if (!getUnsigned(findKey(entry, "database_size", yajl_t_any), v.database_size)) v.database_size = 0;
    yajl_val requirements = findKey(entry, "requirements", yajl_t_any);
    if (YAJL_IS_STRING(requirements)) v.requirements = YAJL_GET_STRING(requirements);
    reply.versions.push_back(std::move(v));
  }
  return reply;
}

void addVersion(UpdateReply& reply, const ReplyVersion& version) {
  auto same = [&](const ReplyVersion& v) { return v.version == version.version && v.timestamp == version.timestamp; };
  auto it = std::find_if(reply.versions.begin(), reply.versions.end(), same);
  if (it != reply.versions.end())
    *it = version;
  else
    reply.versions.push_back(version);
  std::stable_sort(reply.versions.begin(), reply.versions.end(),
                   [](const ReplyVersion& a, const ReplyVersion& b) { return a.timestamp < b.timestamp; });
}

std::string generateReply(const UpdateReply& reply) {
  return generateJson([&](yajl_gen gen) {
    jsonMapOpen(gen);
    jsonString(gen, "download_url");
    jsonStringArray(gen, reply.download_url);
    jsonString(gen, "versions");
    jsonArrayOpen(gen);
    for (const ReplyVersion& v : reply.versions) {
      jsonMapOpen(gen);
      jsonMember(gen, "timestamp", v.timestamp);
      jsonMember(gen, "version", v.version);
      jsonMember(gen, "database_id", v.database_id);
      jsonMember(gen, "database_size", static_cast<int64_t>(v.database_size));
      jsonMember(gen, "requirements", v.requirements);
      jsonMapClose(gen);
    }
    jsonArrayClose(gen);
    jsonMapClose(gen);
  });
}

}  // namespace nx::publish
