#include "publish/publish_release.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "base/text.h"
#include "db/atomic_file.h"
#include "db/database.h"
#include "db/install_state.h"
#include "io/file_reader.h"
#include "io/writer.h"
#include "publish/path_pattern.h"
#include "publish/publish_error.h"
#include "publish/release_content.h"
#include "publish/release_description.h"
#include "publish/repository.h"
#include "publish/update_database_writer.h"
#include "publish/update_reply.h"
#include "sys/files.h"

namespace nx::publish {

namespace {

std::vector<std::pair<std::string, std::wstring>> collectFiles(const ReleaseOptions& options) {
  auto files = listProductFiles(options.product, options.followLinks);
  for (const auto& [path, source] : options.extraFiles) {
    std::string problem = pathProblem(path);
    if (!problem.empty()) throw PublishError("added path \"" + path + "\" is refused: " + problem);
    sys::FileInfo info;
    if (!sys::fileInfo(source, &info) || info.isFolder || info.isDevice)
      throw PublishError("added file \"" + toUtf8(source) + "\" does not exist or is not a file");
    for (const auto& [existing, unused] : files)
      if (existing == path || existing.starts_with(path + "/") || path.starts_with(existing + "/"))
        throw PublishError("added path \"" + path + "\" collides with \"" + existing + "\" of the product folder");
    files.emplace_back(path, source);
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Reads the database back as the updater will, with every module selected,
// once for each arch and language list, so every member written is read and
// compared with what was meant to be written.
void checkDatabase(const std::wstring& path, const ReleaseDescription& description, const ReleaseContent& content) {
  std::vector<std::string> arches, langs;
  for (const ModuleRule& module : description.modules) {
    for (const auto& [arch, unused] : module.arch)
      if (std::find(arches.begin(), arches.end(), arch) == arches.end()) arches.push_back(arch);
    for (const auto& [lang, unused] : module.lang)
      if (std::find(langs.begin(), langs.end(), lang) == langs.end()) langs.push_back(lang);
  }
  const size_t passes = std::max<size_t>({1, arches.size(), langs.size()});
  for (size_t pass = 0; pass < passes; ++pass) {
    Database db;
    const std::string arch = pass < arches.size() ? arches[pass] : "", lang = pass < langs.size() ? langs[pass] : "";
    try {
      loadMetadata(kInvalidStructure, db, path);
      for (auto& [name, selected] : db.modules) selected = true;
      db.arch = arch;
      db.lang = lang;
      loadFileLists(db, path);
    } catch (const std::runtime_error& e) {
      throw PublishError(std::string("the written update database does not read back: ") + e.what());
    }
    size_t expected = 0;
    for (const ReleaseFile& file : content.files) {
      if (file.list != "common" && file.list != "arch_" + arch && file.list != "lang_" + lang) continue;
      ++expected;
      auto it = db.files.find(file.path);
      if (it == db.files.end() || it->second.hash != file.hash || it->second.size != file.size ||
          it->second.module != file.module)
        throw PublishError("the written update database does not read back: \"" + file.path + "\" is missing or wrong");
    }
    if (db.files.size() != expected)
      throw PublishError("the written update database does not read back: it lists " + std::to_string(db.files.size()) +
                         " files for arch \"" + arch + "\" and language \"" + lang + "\", not " +
                         std::to_string(expected));
  }
}

// What a URL cannot hold as it stands (blanks, control bytes, bytes above
// 127 and the characters " < > \ ^ ` { | }) and what would end the path that
// "/update/..." is appended to (? and #) become %XX; a % followed by two hex
// digits is kept as an escape, any other becomes %25. So "file://$folder"
// works for any folder.
std::string encodeBaseUrl(const std::string& url) {
  auto hexDigit = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
  std::string out;
  for (size_t i = 0; i < url.size(); ++i) {
    const auto c = static_cast<unsigned char>(url[i]);
    const bool escape = c == '%' && i + 2 < url.size() && hexDigit(url[i + 1]) && hexDigit(url[i + 2]);
    if (c > ' ' && c < 0x7F && std::string_view("\"<>\\^`{|}?#").find(static_cast<char>(c)) == std::string_view::npos &&
        (c != '%' || escape)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += "0123456789ABCDEF"[c >> 4];
      out += "0123456789ABCDEF"[c & 15];
    }
  }
  return out;
}

// The updater offers only a version whose timestamp is newer than the
// installed one, so two versions of a channel with one timestamp would hide
// each other: a given timestamp must be free (the same version may take its
// own again), and without one the version takes the current time, or one
// second after the channel's newest when that is not older.
std::string channelTimestamp(const UpdateReply& reply, const std::string& version, const std::string& given,
                             const std::string& channel) {
  if (!given.empty()) {
    for (const ReplyVersion& v : reply.versions)
      if (v.timestamp == given && v.version != version)
        throw PublishError("version \"" + version + "\" cannot take the timestamp \"" + given + "\": version \"" +
                           v.version + "\" of channel \"" + channel +
                           "\" has it already (give another with --timestamp)");
    return given;
  }
  const ReplyVersion* newest = nullptr;
  for (const ReplyVersion& v : reply.versions)
    if (!newest || newest->timestamp < v.timestamp) newest = &v;
  const std::string now = timestampNow();
  if (!newest || newest->timestamp < now) return now;
  const std::string later = timestampAfter(newest->timestamp);
  if (later.empty())
    throw PublishError("the newest version of channel \"" + channel + "\", \"" + newest->version +
                       "\", has the timestamp \"" + newest->timestamp +
                       "\", and no later one can be made from it; give one with --timestamp");
  return later;
}

}  // namespace

ReleaseResult publishRelease(const ReleaseOptions& options) {
  ReleaseDescription description = loadReleaseDescription(options.description);
  ReleaseResult result;
  result.version = description.version;
  const std::string givenTimestamp = !options.timestamp.empty() ? options.timestamp : description.timestamp;
  result.channel = options.channel.empty() ? description.tag : options.channel;
  if (!isPlainWord(result.channel))
    throw PublishError("channel \"" + result.channel + "\" must be a word of letters, digits, \"_\", \"-\" or \".\"");

  if (!options.baseUrl.empty()) {
    std::string base = encodeBaseUrl(options.baseUrl);
    while (base.ends_with("/")) base.pop_back();
    description.update_url = {base + "/update/" + result.channel};
    description.download_url = {base + "/objects"};
  }
  if (description.update_url.empty())
    throw PublishError("the release description has no \"update_url\" (or give --base-url)");
  if (description.download_url.empty())
    throw PublishError("the release description has no \"download_url\" (or give --base-url)");

  ReleaseContent content = buildReleaseContent(description, collectFiles(options));
  result.files = content.files.size();
  result.warnings = content.warnings;

  Repository repo(options.repository);
  repo.open();
  try {
    const std::wstring replyPath = repo.replyPath(result.channel);
    UpdateReply reply;
    if (sys::exists(replyPath)) {
      std::string text;
      StringWriter out(text);
      readFileToWriter(replyPath, out, neverCancelled);
      reply = parseReply(text, "reply file \"" + toUtf8(replyPath) + "\"");
    }
    result.timestamp = channelTimestamp(reply, result.version, givenTimestamp, result.channel);

    for (const ReleaseFile& file : content.files) repo.putGzipObject(file.hash, file.source);

    const std::wstring scratch = repo.scratchPath("database.partial");
    try {
      writeUpdateDatabase(scratch, description, result.timestamp, content);
      checkDatabase(scratch, description, content);
    } catch (...) {
      sys::deleteFile(scratch);
      throw;
    }
    result.databaseId = repo.putPlainObject(scratch, &result.databaseSize);

    reply.download_url = description.download_url;
    addVersion(reply,
               {result.timestamp, result.version, result.databaseId, result.databaseSize, description.requirements});
    writeFileAtomically(replyPath, generateReply(reply));
  } catch (...) {
    repo.rollback();
    throw;
  }
  result.newObjects = repo.objectsWritten;
  repo.commit();
  return result;
}

}  // namespace nx::publish
