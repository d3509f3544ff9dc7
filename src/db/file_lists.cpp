#include <cstdint>
#include <stdexcept>
#include <vector>

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

// One file-list member to read, with its uncompressed size.
struct PlannedList {
  std::string member;
  const std::string* module;
  uint64_t size;
};

// Adds the member to the plan when the archive has it; false when it lacks it.
bool plan(UnzipFile& archive, std::string member, const std::string& module, std::vector<PlannedList>& lists) {
  try {
    UnzipReader reader(archive, member);
    lists.push_back({std::move(member), &module, reader.size()});
    return true;
  } catch (const OpenFileError&) {
    return false;
  }
}

void readList(UnzipFile& archive, const PlannedList& list, Database& db) {
  UnzipReader reader(archive, list.member);
  FileListParser parser(db, *list.module);
  runEventParser(parser, reader);
}

}  // namespace

void loadFileLists(Database& db, const std::wstring& dbPath) {
  try {
    UnzipFile archive(dbPath);
    std::vector<PlannedList> lists;
    for (const auto& [name, selected] : db.modules) {
      if (!selected) continue;
      const std::string folder = "modules/" + name + "/";
      if (plan(archive, folder + "common.json", name, lists)) {
        plan(archive, folder + "arch_" + db.arch + ".json", name, lists);
        plan(archive, folder + "lang_" + db.lang + ".json", name, lists);
      } else {
        plan(archive, folder + "filelist.json", name, lists);
      }
    }
    // Size the table once for every list: an entry takes at least ~72 bytes
    // of text with its 64-digit hash, and growing a large table on the way
    // costs more than the whole parse.
    uint64_t text = 0;
    for (const PlannedList& list : lists) text += list.size;
    db.files.reserve(db.files.size() + static_cast<size_t>(text / 72));
    for (const PlannedList& list : lists) readList(archive, list, db);
  } catch (const std::runtime_error& e) {
    throw IOError(L"parse_db_files", dbPath, fromUtf8(e.what()));
  }
}

}  // namespace nx
