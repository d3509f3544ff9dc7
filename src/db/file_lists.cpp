#include <algorithm>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <vector>

#include "base/text.h"
#include "db/database.h"
#include "db/install_state.h"
#include "db/json.h"
#include "db/object_id.h"
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
    entries_.startArray = [this] { return go(path_); };
    // The end of the list; a list without entries breaks the grammar.
    entries_.endArray = [this] { return stored_ && go(finished); };
    // The text goes into buffers that keep their capacity from entry to
    // entry: only what the table keeps is allocated.
    path_.string = [this](const char* text, size_t length) {
      pathText_.assign(text, length);
      return go(hash_);
    };
    hash_.string = [this](const char* text, size_t length) {
      hashText_.assign(text, length);
      return go(size_);
    };
    size_.integer = [this](int64_t value) {
      if (value < 0) return false;
      sizeValue_ = static_cast<uint64_t>(value);
      return go(end_);
    };
    // Exactly three values: a fourth is rejected, not read as the next entry.
    end_.endArray = [this] { return commit() && go(entries_); };
    current = &start_;
  }

 private:
  bool go(JsonHandlerSet& next) {
    current = &next;
    return true;
  }

  // Every later step appends the path to the base folder and names a file in
  // the object store by the hash: both are checked here, once, before they
  // reach the table. A later entry for a path replaces the earlier one whole.
  bool commit() {
    if (pathText_.empty() || hashText_.empty()) return false;
    if (!isSafeRelativePath(pathText_)) {
      db_.refusedPath = pathText_;  // named by the applier's refusal
      return reject(kInvalidStructure);
    }
    if (!isObjectId(hashText_)) return reject(kInvalidStructure);
    auto [at, added] = db_.files.try_emplace(pathText_);
    FileRecord& record = at->second;
    if (!added) record = FileRecord();
    record.path = pathText_;
    record.hash = hashText_;
    record.size = sizeValue_;
    record.module = module_;
    stored_ = true;
    return true;
  }

  Database& db_;
  const std::string& module_;
  std::string pathText_, hashText_;
  uint64_t sizeValue_ = 0;
  bool stored_ = false;
  JsonHandlerSet start_, entries_, path_, hash_, size_, end_;
};

// One file-list member to read, with its claimed uncompressed size.
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

// At most this many table entries are made ahead from the sizes the archive
// claims (a few MiB of buckets); a larger real list grows the table itself.
constexpr uint64_t kMaxReservedFiles = 1 << 20;

// The programs among a module's files, from its optional executable.json.
void markExecutables(Database& db, UnzipFile& archive, const std::string& module) {
  std::string text;
  try {
    UnzipReader reader(archive, "modules/" + module + "/executable.json");
    char buffer[4096];
    while (size_t got = reader.read(buffer, sizeof buffer)) {
      text.append(buffer, got);
      if (text.size() > (16u << 20)) throw std::runtime_error(kInvalidStructure);
    }
  } catch (const OpenFileError&) {
    return;
  }
  db.executablesListed = true;
  JsonTree tree = parseJsonText(text);
  std::vector<std::string> paths;
  getStringList(tree.get(), paths, kInvalidStructure);
  for (const auto& path : paths) {
    auto record = db.files.find(path);
    if (record != db.files.end() && record->second.module == module) record->second.executable = true;
  }
}

}  // namespace

void readFileList(Database& db, const std::string& module, Reader& source) {
  FileListParser parser(db, module);
  runEventParser(parser, source);
}

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
    // costs more than the whole parse. The sizes are only claimed, so what
    // they may reserve is bounded.
    uint64_t text = 0;
    for (const PlannedList& list : lists) text += std::min<uint64_t>(list.size, kMaxReservedFiles * 72);
    db.files.reserve(db.files.size() + static_cast<size_t>(std::min(text / 72, kMaxReservedFiles)));
    for (const PlannedList& list : lists) {
      UnzipReader reader(archive, list.member);
      readFileList(db, *list.module, reader);
    }
    for (const auto& [name, selected] : db.modules)
      if (selected) markExecutables(db, archive, name);
  } catch (const std::runtime_error& e) {
    throw IOError(L"parse_db_files", dbPath, fromUtf8(e.what()));
  } catch (const std::bad_alloc&) {
    throw IOError(L"parse_db_files", dbPath, L"out of memory");
  }
}

}  // namespace nx
