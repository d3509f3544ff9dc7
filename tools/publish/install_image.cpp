#include "publish/install_image.h"

#include <minizip/unzip.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string_view>
#include <system_error>

#include "base/mini_log.h"
#include "base/paths.h"
#include "base/text.h"
#include "db/database.h"
#include "db/install_state.h"
#include "db/module_set.h"
#include "io/file_reader.h"
#include "io/file_writer.h"
#include "io/gunzip_writer.h"
#include "io/io_error.h"
#include "io/sha256_writer.h"
#include "io/zip_archive.h"
#include "net/version_match.h"
#include "publish/path_pattern.h"
#include "publish/publish_error.h"
#include "publish/release_content.h"
#include "publish/release_description.h"
#include "publish/update_reply.h"
#include "sys/errors.h"
#include "sys/files.h"

namespace nx::publish {

namespace {

// Keeps the lines of module choices so the caller can show them.
class NoteLog : public MiniLog {
 public:
  explicit NoteLog(std::vector<std::string>& notes) : notes_(notes) {}
  double elapsedSeconds() override { return 0.0; }
  void writeLine(const std::string& line) override {
    // Drop the time and level columns: "00000.000 INFO   : ".
    size_t colon = line.find(": ");
    std::string text = colon == std::string::npos ? line : line.substr(colon + 2);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    notes_.push_back(text);
  }

 private:
  std::vector<std::string>& notes_;
};

std::string chooseChannel(const ImageOptions& options) {
  if (!options.channel.empty()) return options.channel;
  std::vector<sys::FolderEntry> entries;
  std::vector<std::string> channels;
  if (sys::listFolder(options.repository + L"/update", &entries))
    for (const auto& e : entries)
      if (!e.isFolder && !toUtf8(e.name).ends_with(".tmp")) channels.push_back(toUtf8(e.name));
  if (channels.size() == 1) return channels.front();
  if (channels.empty()) throw PublishError("repository \"" + toUtf8(options.repository) + "\" has no channel");
  throw PublishError("repository \"" + toUtf8(options.repository) +
                     "\" has several channels; choose one with --channel");
}

// Empties a folder this command filled (it holds no links of its own).
void removeContents(const std::wstring& path) {
  std::vector<sys::FolderEntry> entries;
  if (!sys::listFolder(path, &entries)) return;
  for (const auto& e : entries) {
    std::wstring child = path + L"/" + e.name;
    if (e.isFolder) {
      removeContents(child);
      sys::removeFolder(child);
    } else {
      sys::deleteFile(child);
    }
  }
}

void makeExecutable(const std::wstring& path) {
  // Objects carry content only; the programs the updater starts need the
  // execute permission back.
  std::error_code ec;
  namespace fs = std::filesystem;
  fs::permissions(sys::nativePath(path), fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                  fs::perm_options::add, ec);
}

// A zip archive without a single member: nothing but its end record (and
// perhaps a comment). The zip reader cannot tell it from other bytes.
bool isEmptyZip(const std::wstring& path) {
  const std::string bytes = readFileHead(path, 22 + 65535 + 1);
  if (bytes.size() < 22 || bytes.compare(0, 4, "PK\x05\x06") != 0) return false;
  auto u16 = [&](size_t at) { return static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8; };
  for (size_t at = 4; at < 20; ++at)  // disk numbers, member counts, directory size and offset
    if (bytes[at] != 0) return false;
  return bytes.size() == 22u + u16(20);
}

// The modules that have a language list (member "modules/<m>/lang_<lang>.json").
std::set<std::string> modulesWithLanguageLists(const std::wstring& dbPath) {
  std::set<std::string> modules;
  UnzipFile archive(dbPath);
  unzFile zip = static_cast<unzFile>(archive.handle);
  for (int more = unzGoToFirstFile(zip); more == UNZ_OK; more = unzGoToNextFile(zip)) {
    char name[512] = {};  // a longer name is cut: still not terminated by the library
    if (unzGetCurrentFileInfo64(zip, nullptr, name, sizeof name - 1, nullptr, 0, nullptr, 0) != UNZ_OK) break;
    const std::string_view member(name);
    const size_t slash = member.find('/', 8);
    if (member.starts_with("modules/") && slash != std::string_view::npos &&
        member.substr(slash + 1).starts_with("lang_"))
      modules.emplace(member.substr(8, slash - 8));
  }
  return modules;
}

void writeText(const std::wstring& path, const std::string& text) {
  FileWriter file(path);
  file.write(text.data(), text.size());
  file.close();
}

}  // namespace

void extractObject(const std::wstring& objectPath, const std::string& id, uint64_t expectedSize,
                   const std::wstring& target) {
  FileWriter file(target);  // removed again unless closed
  Sha256Writer sha(file);
  GunzipWriter gunzip(sha);
  try {
    readFileToWriter(objectPath, gunzip, neverCancelled);
  } catch (const OpenFileError&) {
    throw PublishError("object " + id + " is missing from the repository (\"" + toUtf8(objectPath) + "\")");
  } catch (const GzipError& e) {
    throw PublishError("object " + id + " is damaged: " + e.what());
  }
  std::string digest;
  sha.finish(digest);
  if (digest != id) throw PublishError("object " + id + " is damaged: its content hashes to " + digest);
  if (file.written != expectedSize)
    throw PublishError("object " + id + " has " + std::to_string(file.written) + " bytes, the database lists " +
                       std::to_string(expectedSize));
  file.close();
}

ImageResult makeImage(const ImageOptions& options) {
  ImageResult result;
  result.channel = chooseChannel(options);
  if (!isPlainWord(result.channel)) throw PublishError("channel \"" + result.channel + "\" is not a plain word");

  const std::wstring replyPath = options.repository + L"/update/" + fromUtf8(result.channel);
  std::string text;
  {
    StringWriter out(text);
    try {
      readFileToWriter(replyPath, out, neverCancelled);
    } catch (const std::runtime_error&) {
      throw PublishError("channel \"" + result.channel + "\" is not published in \"" + toUtf8(options.repository) +
                         "\"");
    }
  }
  UpdateReply reply = parseReply(text, "reply file \"" + toUtf8(replyPath) + "\"");
  // As the updater picks `update VERSION`: the last match, here the newest.
  const ReplyVersion* chosen = nullptr;
  std::vector<std::string> published;
  for (const ReplyVersion& v : reply.versions) {
    if (versionMatches(v.version, options.version)) chosen = &v;
    if (std::find(published.begin(), published.end(), v.version) == published.end()) published.push_back(v.version);
  }
  if (!chosen) {
    std::string list;
    for (const std::string& v : published) list += (list.empty() ? "" : ", ") + v;
    throw PublishError("version \"" + options.version + "\" is not published on channel \"" + result.channel +
                       "\" (published: " + (list.empty() ? "none" : list) + ")");
  }
  result.version = chosen->version;
  result.timestamp = chosen->timestamp;
  result.databaseId = chosen->database_id;
  if (result.databaseId.size() != 64 || result.databaseId.find_first_not_of("0123456789abcdef") != std::string::npos)
    throw PublishError("reply names a malformed database id \"" + result.databaseId + "\"");

  sys::FileInfo info;
  bool targetExisted = sys::fileInfo(options.target, &info);
  if (targetExisted) {
    std::vector<sys::FolderEntry> entries;
    if (!info.isFolder || !sys::listFolder(options.target, &entries) || !entries.empty())
      throw PublishError("target \"" + toUtf8(options.target) + "\" exists and is not an empty folder");
  } else if (!sys::createFolders(options.target)) {
    throw PublishError("cannot create the target \"" + toUtf8(options.target) +
                       "\": " + sys::errorMessage(sys::lastError()));
  }

  auto objectPath = [&](const std::string& id) {
    return options.repository + L"/objects/" + fromUtf8(id.substr(0, 2)) + L"/" + fromUtf8(id);
  };
  try {
    const std::wstring dbPath = joinPath(options.target, L"autoupdate.db");
    extractObject(objectPath(result.databaseId), result.databaseId, chosen->database_size, dbPath);

    Database db;
    try {
      loadMetadata(kInvalidStructure, db, dbPath);
    } catch (const IOError&) {
      if (isEmptyZip(dbPath))
        throw PublishError("database object " + result.databaseId +
                           " is an empty zip archive: it holds no metadata.json");
      throw;
    }
    if (!options.arch.empty()) db.arch = options.arch;
    if (db.arch.empty()) db.arch = "x86_64";
    if (!options.lang.empty()) db.lang = options.lang;
    for (char c : db.lang)
      if (c < 'a' || c > 'z') throw PublishError("language \"" + db.lang + "\" must be lower-case letters a-z");
    if (!isPlainWord(db.arch)) throw PublishError("arch \"" + db.arch + "\" is not a plain word");

    NoteLog log(result.notes);
    selectModule(db, db.main, log);
    for (const std::string& name : options.modules)
      if (!selectModule(db, name, log))
        throw PublishError("version \"" + options.version + "\" has no module \"" + name + "\"");
    if (db.lang.empty())
      for (const std::string& module : modulesWithLanguageLists(dbPath))
        if (db.modules.count(module) && db.modules[module])
          throw PublishError("module \"" + module +
                             "\" has language files and the release names no default language; choose one with --lang");
    loadFileLists(db, dbPath);

    std::vector<const FileRecord*> records;
    for (const auto& [path, record] : db.files) records.push_back(&record);
    std::sort(records.begin(), records.end(), [](auto* a, auto* b) { return a->path < b->path; });
    for (const FileRecord* record : records) {
      std::string problem = pathProblem(record->path);
      if (!problem.empty()) throw PublishError("database path \"" + record->path + "\" is refused: " + problem);
      if (isStateFileName(record->path))
        throw PublishError("database path \"" + record->path + "\" would overwrite the installation state");
      std::wstring target = joinPath(options.target, fromUtf8(record->path));
      size_t slash = record->path.rfind('/');
      if (slash != std::string::npos &&
          !sys::createFolders(joinPath(options.target, fromUtf8(record->path.substr(0, slash)))))
        throw PublishError("cannot create the folder for \"" + record->path +
                           "\": " + sys::errorMessage(sys::lastError()));
      sys::FileInfo existing;
      if (sys::fileInfo(target, &existing) && existing.isFolder)
        throw PublishError("database path \"" + record->path + "\" is also a folder");
      extractObject(objectPath(record->hash), record->hash, record->size, target);
    }
    for (const auto* list : {&db.launch, &db.apply})
      for (const std::string& entry : *list)
        if (db.files.count(entry)) makeExecutable(joinPath(options.target, fromUtf8(entry)));

    saveInstallState(joinPath(options.target, L"autoupdate.cfg"), db);
    if (!sys::createFolders(joinPath(options.target, L"Config")))
      throw PublishError("cannot create the Config folder: " + sys::errorMessage(sys::lastError()));
    if (!db.lang.empty()) writeText(joinPath(options.target, L"Config/lang.cfg"), db.lang);

    result.arch = db.arch;
    result.lang = db.lang;
    result.modules = selectedModules(db);
    std::sort(result.modules.begin(), result.modules.end());
    result.files = records.size();
  } catch (...) {
    // The target was empty: everything in it is ours.
    removeContents(options.target);
    if (!targetExisted) sys::removeFolder(options.target);
    throw;
  }
  return result;
}

}  // namespace nx::publish
