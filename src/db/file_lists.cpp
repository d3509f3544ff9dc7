#include <algorithm>
#include <optional>
#include <stdexcept>

#include "app/text.h"
#include "db/database.h"
#include "db/json.h"
#include "io/io_error.h"
#include "io/zip_archive.h"

namespace nx {

namespace {

// A file list is an array of [path, hash, size] entries. Each grammar state
// is one handler set; anything a state has no handler for is rejected.
class FileListParser : public JsonEventParser {
 public:
  FileListParser(Database& db, const std::string& module) : db_(db), module_(module) {
    start_.startArray = [this] { return go(entries_); };
    entries_.startArray = [this] {
      record_ = FileRecord();
      committed_ = false;
      return go(path_);
    };
    entries_.endArray = [this] { return commit(); };
    path_.string = [this](const char* text, size_t length) {
      record_.path.assign(text, length);
      return go(hash_);
    };
    hash_.string = [this](const char* text, size_t length) {
      record_.hash.assign(text, length);
      return go(size_);
    };
    size_.integer = [this](int64_t value) {
      if (value < 0) return false;
      record_.size = static_cast<uint64_t>(value);
      return go(entries_);
    };
    current = &start_;
  }

 private:
  bool go(JsonHandlerSet& next) {
    current = &next;
    return true;
  }

  // Called at the end of every entry and once more at the end of the list;
  // the second call finds the last entry already stored and changes nothing.
  // The record is moved into the table, so `committed_` stands for it.
  bool commit() {
    if (committed_) return true;
    if (record_.path.empty() || record_.hash.empty()) return false;
    record_.module = module_;
    db_.files.try_emplace(record_.path).first->second = std::move(record_);
    committed_ = true;
    return true;
  }

  Database& db_;
  const std::string& module_;
  FileRecord record_;
  bool committed_ = false;
  JsonHandlerSet start_, entries_, path_, hash_, size_;
};

// Streams one member into the file table; false when the archive lacks it.
bool readList(UnzipFile& archive, const std::string& member, Database& db, const std::string& module) {
  std::optional<UnzipReader> reader;
  try {
    reader.emplace(archive, member);
  } catch (const OpenFileError&) {
    return false;
  }
  // An entry takes at least ~72 bytes of text with its 64-digit hash: grow
  // the table once for the whole list instead of rehashing on the way, and
  // geometrically, so many small lists do not rehash the table each time.
  size_t need = db.files.size() + static_cast<size_t>(reader->size() / 72);
  if (need > db.files.bucket_count() * db.files.max_load_factor())
    db.files.reserve(std::max(need, db.files.size() * 2));
  FileListParser parser(db, module);
  runEventParser(parser, *reader);
  return true;
}

}  // namespace

void loadFileLists(Database& db, const std::wstring& dbPath) {
  try {
    UnzipFile archive(dbPath);
    for (const auto& [name, selected] : db.modules) {
      if (!selected) continue;
      const std::string folder = "modules/" + name + "/";
      if (readList(archive, folder + "common.json", db, name)) {
        readList(archive, folder + "arch_" + db.arch + ".json", db, name);
        readList(archive, folder + "lang_" + db.lang + ".json", db, name);
      } else {
        readList(archive, folder + "filelist.json", db, name);
      }
    }
  } catch (const std::runtime_error& e) {
    throw IOError(L"parse_db_files", dbPath, fromUtf8(e.what()));
  }
}

}  // namespace nx
