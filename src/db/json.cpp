#include "db/json.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <utility>

#include "db/atomic_file.h"
#include "io/file_reader.h"
#include "io/gunzip_writer.h"
#include "io/zip_archive.h"

namespace nx {

namespace {

[[noreturn]] void tooLarge(size_t limit) {
  throw std::runtime_error("JSON error: document larger than " + std::to_string(limit) + " bytes");
}

// Refuses what the tree parser must never see: a NUL byte (the parser would
// stop there and accept what came before) and nesting deeper than
// kMaxJsonDepth. Strings and comments are skipped as the parser reads them;
// anything malformed is left for the parser to report.
void checkTreeText(const std::string& text) {
  const size_t nul = text.find('\0');
  if (nul != std::string::npos) throw std::runtime_error("JSON error: NUL byte at offset " + std::to_string(nul));
  const size_t n = text.size();
  size_t depth = 0;
  for (size_t i = 0; i < n; ++i) {
    switch (text[i]) {
      case '"':
        for (++i; i < n && text[i] != '"'; ++i)
          if (text[i] == '\\') ++i;
        break;
      case '/':
        if (i + 1 < n && text[i + 1] == '/') {
          i = text.find('\n', i + 2);
        } else if (i + 1 < n && text[i + 1] == '*') {
          i = text.find("*/", i + 2);
          if (i != std::string::npos) ++i;
        }
        if (i == std::string::npos) return;
        break;
      case '[':
      case '{':
        if (++depth > kMaxJsonDepth)
          throw std::runtime_error("JSON error: nested deeper than " + std::to_string(kMaxJsonDepth) +
                                   " levels (at offset " + std::to_string(i) + ")");
        break;
      case ']':
      case '}':
        if (depth) --depth;
        break;
    }
  }
}

// Collects text up to a limit; more is an error at once, so a gzip bomb is
// never inflated further than the limit.
class BoundedStringWriter : public Writer {
 public:
  BoundedStringWriter(std::string& target, size_t limit) : target_(target), limit_(limit) {}
  void write(const void* data, size_t size) override {
    if (size == 0) return;
    if (size > limit_ - target_.size()) tooLarge(limit_);
    target_.append(static_cast<const char*>(data), size);
  }

 private:
  std::string& target_;
  size_t limit_;
};

}  // namespace

JsonTree parseJsonText(const std::string& text) {
  checkTreeText(text);
  char error[512];
  error[0] = 0;
  yajl_val tree = yajl_tree_parse(text.c_str(), error, sizeof error);
  if (!tree) throw std::runtime_error(std::string("JSON error: ") + error);
  return JsonTree(tree);
}

JsonTree parseJsonMember(const std::wstring& archivePath, const std::string& member, size_t limit) {
  UnzipFile archive(archivePath);
  std::string text;
  {
    UnzipReader reader(archive, member);
    // The claimed size only saves regrowing the buffer; real data decides.
    text.reserve(static_cast<size_t>(std::min<uint64_t>(reader.size(), limit)));
    BoundedStringWriter collect(text, limit);
    char buffer[kChunkSize];
    for (;;) {
      size_t got = reader.read(buffer, kChunkSize);
      if (got) collect.write(buffer, got);
      if (got < kChunkSize) break;
    }
  }
  return parseJsonText(text);
}

JsonTree parseJsonFile(const std::wstring& path, size_t limit) {
  std::string text;
  BoundedStringWriter collect(text, limit);
  GunzipWriter gunzip(collect);
  readFileToWriter(path, gunzip, neverCancelled);
  return parseJsonText(text);
}

yajl_val findKey(yajl_val object, const char* key, yajl_type type) {
  if (!object) return nullptr;
  const char* path[] = {key, nullptr};
  return yajl_tree_get(object, path, type);
}

bool getUnsigned(yajl_val value, uint64_t& out) {
  if (!value) return false;
  if (YAJL_IS_NUMBER(value)) {
    if (!(value->u.number.flags & YAJL_NUMBER_INT_VALID)) {
      // The library calls -2^63 out of range, yet it is what the generator
      // writes for an unsigned 2^63: read it back as that.
      if (value->u.number.r && std::strcmp(value->u.number.r, "-9223372036854775808") == 0) {
        out = uint64_t{1} << 63;
        return true;
      }
      return false;
    }
    out = static_cast<uint64_t>(value->u.number.i);
    return true;
  }
  if (YAJL_IS_STRING(value)) {
    try {
      out = std::stoull(value->u.string, nullptr, 10);
      return true;
    } catch (const std::invalid_argument&) {
      return false;
    } catch (const std::out_of_range&) {
      return false;
    }
  }
  return false;
}

bool getBool(yajl_val value, const std::string& errorText) {
  if (YAJL_IS_TRUE(value)) return true;
  if (YAJL_IS_FALSE(value)) return false;
  throw std::runtime_error(errorText);
}

void getStringList(yajl_val value, std::vector<std::string>& out, const std::string& errorText) {
  out.clear();
  if (YAJL_IS_STRING(value)) {
    out.emplace_back(value->u.string);
    return;
  }
  if (!YAJL_IS_ARRAY(value)) throw std::runtime_error(errorText);
  for (size_t i = 0; i < value->u.array.len; ++i) {
    yajl_val element = value->u.array.values[i];
    if (!YAJL_IS_STRING(element)) throw std::runtime_error(errorText);
    out.emplace_back(element->u.string);
  }
}

// ---- event parser ----

namespace {

// Calls the current set's handler for one event. The slot is copied first,
// so a handler may replace the set (or the slot) it was called from while it
// runs. Nothing may unwind through the library's C frames: an exception is
// kept and rethrown once the library has returned.
template <class Slot, class... Args>
int dispatch(void* context, Slot JsonHandlerSet::*slot, Args... args) {
  auto* parser = static_cast<JsonEventParser*>(context);
  try {
    auto handler = parser->current->*slot;
    return handler && handler(args...) ? 1 : 0;
  } catch (...) {
    parser->pending = std::current_exception();
    return 0;
  }
}

int onNull(void* context) { return dispatch(context, &JsonHandlerSet::null); }

int onBoolean(void* context, int value) { return dispatch(context, &JsonHandlerSet::boolean, value != 0); }

int onInteger(void* context, long long value) {
  return dispatch(context, &JsonHandlerSet::integer, static_cast<int64_t>(value));
}

int onDouble(void* context, double value) {
  // Truncated toward zero; a value no int64_t can hold is rejected rather
  // than converted with undefined results.
  if (!(value >= -9223372036854775808.0 && value < 9223372036854775808.0)) return 0;
  return dispatch(context, &JsonHandlerSet::integer, static_cast<int64_t>(value));
}

int onString(void* context, const unsigned char* text, size_t length) {
  return dispatch(context, &JsonHandlerSet::string, reinterpret_cast<const char*>(text), length);
}

int onStartMap(void* context) { return dispatch(context, &JsonHandlerSet::startMap); }

int onMapKey(void* context, const unsigned char* text, size_t length) {
  return dispatch(context, &JsonHandlerSet::mapKey, reinterpret_cast<const char*>(text), length);
}

int onEndMap(void* context) { return dispatch(context, &JsonHandlerSet::endMap); }

int onStartArray(void* context) { return dispatch(context, &JsonHandlerSet::startArray); }

int onEndArray(void* context) { return dispatch(context, &JsonHandlerSet::endArray); }

const yajl_callbacks kCallbacks = {onNull,     onBoolean, onInteger, onDouble,     nullptr,   onString,
                                   onStartMap, onMapKey,  onEndMap,  onStartArray, onEndArray};

void checkStatus(JsonEventParser& parser, yajl_status status, const unsigned char* text, size_t length) {
  if (status == yajl_status_ok) return;
  if (status == yajl_status_client_canceled) {
    if (parser.pending) std::rethrow_exception(std::exchange(parser.pending, nullptr));
    throw std::runtime_error(parser.rejection.empty() ? "invalid format" : parser.rejection);
  }
  unsigned char* message = yajl_get_error(parser.handle, 0, text, length);
  std::string copy(reinterpret_cast<const char*>(message));
  yajl_free_error(parser.handle, message);
  throw std::runtime_error(copy);
}

// Watches the raw text for what the library would buffer without bound
// before any handler sees it: a string or number that runs on, and nesting.
// Keeps its place across chunks.
class StreamGuard {
 public:
  void scan(const unsigned char* text, size_t size) {
    for (size_t i = 0; i < size; ++i) {
      const unsigned char c = text[i];
      if (inString_) {
        if (escape_) {
          escape_ = false;
        } else if (c == '\\') {
          escape_ = true;
        } else if (c == '"') {
          inString_ = false;
          token_ = 0;
          continue;
        }
        grow();
        continue;
      }
      switch (c) {
        case '"':
          inString_ = true;
          token_ = 0;
          break;
        case '[':
        case '{':
          if (++depth_ > kMaxJsonDepth)
            throw std::runtime_error("parse error: nested deeper than " + std::to_string(kMaxJsonDepth) + " levels");
          token_ = 0;
          break;
        case ']':
        case '}':
          if (depth_) --depth_;
          token_ = 0;
          break;
        case ',':
        case ':':
        case ' ':
        case '\t':
        case '\n':
        case '\r':
          token_ = 0;
          break;
        default:
          grow();
      }
    }
  }

 private:
  void grow() {
    if (++token_ > kMaxJsonToken)
      throw std::runtime_error("lexical error: a string or number longer than " + std::to_string(kMaxJsonToken) +
                               " bytes");
  }

  bool inString_ = false;
  bool escape_ = false;
  size_t token_ = 0;
  size_t depth_ = 0;
};

}  // namespace

JsonEventParser::JsonEventParser() : current(&finished), handle(yajl_alloc(&kCallbacks, nullptr, this)) {
  if (!handle) throw std::bad_alloc();
}

JsonEventParser::~JsonEventParser() { yajl_free(handle); }

void runEventParser(JsonEventParser& parser, Reader& source) {
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[kChunkSize]);
  StreamGuard guard;
  for (;;) {
    size_t got = source.read(buffer.get(), kChunkSize);
    if (got) {
      guard.scan(buffer.get(), got);
      checkStatus(parser, yajl_parse(parser.handle, buffer.get(), got), buffer.get(), got);
    }
    if (got < kChunkSize) break;
  }
  checkStatus(parser, yajl_complete_parse(parser.handle), nullptr, 0);
}

// ---- generation ----

namespace {

void check(yajl_gen_status status) {
  if (status != yajl_gen_status_ok)
    throw std::runtime_error("JSON generator error " + std::to_string(static_cast<int>(status)));
}

struct GenDeleter {
  void operator()(yajl_gen gen) const { yajl_gen_free(gen); }
};

}  // namespace

std::string generateJson(const std::function<void(yajl_gen)>& steps) {
  std::unique_ptr<std::remove_pointer_t<yajl_gen>, GenDeleter> gen(yajl_gen_alloc(nullptr));
  if (!gen) throw std::bad_alloc();
  yajl_gen_config(gen.get(), yajl_gen_beautify, 1);
  yajl_gen_config(gen.get(), yajl_gen_indent_string, " ");
  steps(gen.get());
  const unsigned char* text = nullptr;
  size_t length = 0;
  check(yajl_gen_get_buf(gen.get(), &text, &length));
  return std::string(reinterpret_cast<const char*>(text), length);
}

void writeJsonFile(const std::wstring& path, const std::function<void(yajl_gen)>& steps) {
  writeFileAtomically(path, generateJson(steps));
}

void jsonString(yajl_gen gen, std::string_view text) {
  check(yajl_gen_string(gen, reinterpret_cast<const unsigned char*>(text.data()), text.size()));
}
void jsonInteger(yajl_gen gen, int64_t value) { check(yajl_gen_integer(gen, static_cast<long long>(value))); }
void jsonBool(yajl_gen gen, bool value) { check(yajl_gen_bool(gen, value ? 1 : 0)); }
void jsonMapOpen(yajl_gen gen) { check(yajl_gen_map_open(gen)); }
void jsonMapClose(yajl_gen gen) { check(yajl_gen_map_close(gen)); }
void jsonArrayOpen(yajl_gen gen) { check(yajl_gen_array_open(gen)); }
void jsonArrayClose(yajl_gen gen) { check(yajl_gen_array_close(gen)); }

void jsonMember(yajl_gen gen, std::string_view key, std::string_view value) {
  jsonString(gen, key);
  jsonString(gen, value);
}

void jsonMember(yajl_gen gen, std::string_view key, int64_t value) {
  jsonString(gen, key);
  jsonInteger(gen, value);
}

}  // namespace nx
