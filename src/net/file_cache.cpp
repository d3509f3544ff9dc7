#include "net/file_cache.h"

#include <stdexcept>

#include "base/text.h"
#include "db/install_state.h"
#include "db/json.h"
#include "io/io_error.h"
#include "io/zip_archive.h"
#include "sys/errors.h"
#include "sys/files.h"
#include "sys/owned_handle.h"

namespace nx {

namespace {

struct GenDeleter {
  void operator()(yajl_gen gen) const { yajl_gen_free(gen); }
};
using Generator = std::unique_ptr<std::remove_pointer_t<yajl_gen>, GenDeleter>;

Generator makeGenerator() {
  Generator gen(yajl_gen_alloc(nullptr));
  if (!gen) throw IOError("yajl_gen_alloc failed", IOError::kNoCode);
  yajl_gen_config(gen.get(), yajl_gen_beautify, 1);
  yajl_gen_config(gen.get(), yajl_gen_indent_string, " ");
  return gen;
}

// Moves what the generator has produced so far into the member.
void drain(yajl_gen gen, Writer& out) {
  const unsigned char* text = nullptr;
  size_t length = 0;
  yajl_gen_get_buf(gen, &text, &length);
  if (length) out.write(text, length);
  yajl_gen_clear(gen);
}

void writeInfo(ZipFile& archive, const Database& db) {
  Generator gen = makeGenerator();
  jsonMapOpen(gen.get());
  jsonString(gen.get(), "version");
  jsonString(gen.get(), db.version);
  jsonMapClose(gen.get());
  ZipWriter member(archive, "cacheinfo.json");
  drain(gen.get(), member);
  member.close();
}

void writeRows(ZipFile& archive, const Database& db, int level) {
  Generator gen = makeGenerator();
  ZipWriter member(archive, "filecache.json", level);
  jsonArrayOpen(gen.get());
  size_t pending = 0;
  for (const auto& [path, record] : db.files) {
    if (record.local_hash.empty()) continue;
    jsonArrayOpen(gen.get());
    jsonString(gen.get(), record.path);
    jsonString(gen.get(), record.local_hash);
    jsonInteger(gen.get(), static_cast<int64_t>(record.local_size));
    jsonInteger(gen.get(), static_cast<int64_t>(record.local_time));
    jsonArrayClose(gen.get());
    // The text goes to the archive as it is produced, a few hundred rows at a time.
    if (++pending == 256) {
      drain(gen.get(), member);
      pending = 0;
    }
  }
  jsonArrayClose(gen.get());
  drain(gen.get(), member);
  member.close();
}

// filecache.json: an array of [path, hash, size, time] rows. A row is
// applied when it is complete, so a row that breaks off never leaves a
// digest paired with another row's size and time.
class CacheRowParser : public JsonEventParser {
 public:
  explicit CacheRowParser(Database& db) : db_(db) {
    start_.startArray = [this] { return go(rows_); };
    start_.endArray = [this] { return go(finished); };
    rows_.startArray = [this] {
      record_ = nullptr;
      return go(path_);
    };
    rows_.endArray = [this] { return go(start_); };
    path_.string = [this](const char* text, size_t length) {
      auto found = db_.files.find(std::string(text, length));
      record_ = found == db_.files.end() ? nullptr : &found->second;
      return go(hash_);
    };
    hash_.string = [this](const char* text, size_t length) {
      if (record_) hash_text_.assign(text, length);
      return go(size_);
    };
    size_.integer = [this](int64_t value) {
      size_value_ = static_cast<uint64_t>(value);
      return value >= 0 && go(time_);
    };
    time_.integer = [this](int64_t value) {
      time_value_ = static_cast<uint64_t>(value);
      return value >= 0 && go(close_);
    };
    close_.endArray = [this] {
      if (record_) {
        record_->local_hash.swap(hash_text_);
        record_->local_size = size_value_;
        record_->local_time = time_value_;
      }
      return go(rows_);
    };
    current = &start_;
  }

 private:
  bool go(JsonHandlerSet& next) {
    current = &next;
    return true;
  }

  Database& db_;
  FileRecord* record_ = nullptr;  // of the row being read; null for an unknown path
  std::string hash_text_;
  uint64_t size_value_ = 0;
  uint64_t time_value_ = 0;
  JsonHandlerSet start_, rows_, path_, hash_, size_, time_, close_;
};

// cacheinfo.json is one small object. It is read with a bound, so a member
// that claims or inflates to gigabytes costs nothing, and its nesting stays
// shallow enough for the tree parser.
constexpr size_t kInfoLimit = 16384;

std::string readInfo(UnzipFile& archive) {
  UnzipReader reader(archive, "cacheinfo.json");
  std::string text(kInfoLimit + 1, '\0');
  size_t filled = 0;
  while (filled < text.size()) {
    size_t got = reader.read(text.data() + filled, text.size() - filled);
    if (got == 0) break;
    filled += got;
  }
  if (filled > kInfoLimit) throw std::runtime_error(kInvalidStructure);
  text.resize(filled);
  return text;
}

// Pushes the finished archive to the disk before it replaces the old one.
void syncToDisk(const std::wstring& temp, const std::wstring& path) {
  sys::OwnedHandle file(sys::openAlways(temp));
  // The error is read while building the exception, before the handle closes.
  if (!file.valid() || !sys::flush(file.get())) throw IOError(L"write", path, 0u);
}

}  // namespace

void saveFileCache(const std::wstring& path, const Database& db, int level) {
  std::wstring temp;
  if (!sys::OwnedHandle(sys::createUnique(path, &temp)).valid()) throw IOError(L"create", path, 0u);
  try {
    try {
      ZipFile archive(temp);
      writeInfo(archive, db);
      writeRows(archive, db, level);
      archive.close();
    } catch (const std::runtime_error& e) {
      // The zip layer names no file, or the temporary one: say which cache failed.
      throw IOError(L"write", path, fromUtf8(e.what()));
    }
    syncToDisk(temp, path);
    if (!sys::replaceFile(temp, path)) throw IOError(L"create", path, 0u);
  } catch (...) {
    sys::deleteFile(temp);
    throw;
  }
}

bool readFileCache(const std::wstring& path, Database& db) {
  try {
    UnzipFile archive(path);
    JsonTree info = parseJsonText(readInfo(archive));
    yajl_val version = findKey(info.get(), "version", yajl_t_string);
    if (!version) throw std::runtime_error(kInvalidStructure);
    if (db.version != version->u.string) return false;
    UnzipReader rows(archive, "filecache.json");
    CacheRowParser parser(db);
    runEventParser(parser, rows);
    return true;
  } catch (const std::runtime_error& e) {
    throw IOError(L"parse_cache", path, fromUtf8(e.what()));
  }
}

}  // namespace nx
