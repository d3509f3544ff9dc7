#include "db/json.h"

#include <cmath>
#include <stdexcept>

#include "db/atomic_file.h"
#include "io/file_reader.h"
#include "io/gunzip_writer.h"
#include "io/zip_archive.h"

namespace nx {

JsonTree parseJsonText(const std::string& text) {
  char error[512];
  error[0] = 0;
  yajl_val tree = yajl_tree_parse(text.c_str(), error, sizeof error);
  if (!tree) throw std::runtime_error(std::string("JSON error: ") + error);
  return JsonTree(tree);
}

JsonTree parseJsonMember(const std::wstring& archivePath, const std::string& member) {
  UnzipFile archive(archivePath);
  std::string text;
  {
    UnzipReader reader(archive, member);
    text.reserve(reader.size());
    char buffer[kChunkSize];
    for (;;) {
      size_t got = reader.read(buffer, kChunkSize);
      text.append(buffer, got);
      if (got < kChunkSize) break;
    }
  }
  return parseJsonText(text);
}

JsonTree parseJsonFile(const std::wstring& path) {
  std::string text;
  StringWriter collect(text);
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
    if (!(value->u.number.flags & YAJL_NUMBER_INT_VALID)) return false;
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

// Each callback copies the slot first, so a handler may replace the set (or
// the slot) it was called from while it runs.
JsonHandlerSet& handlers(void* context) { return *static_cast<JsonEventParser*>(context)->current; }

int onNull(void* context) {
  auto handler = handlers(context).null;
  return handler ? handler() : 0;
}

int onBoolean(void* context, int value) {
  auto handler = handlers(context).boolean;
  return handler ? handler(value != 0) : 0;
}

int onInteger(void* context, long long value) {
  auto handler = handlers(context).integer;
  return handler ? handler(static_cast<int64_t>(value)) : 0;
}

int onDouble(void* context, double value) {
  // Truncated toward zero; a value no int64_t can hold is rejected rather
  // than converted with undefined results.
  if (!(value >= -9223372036854775808.0 && value < 9223372036854775808.0)) return 0;
  auto handler = handlers(context).integer;
  return handler ? handler(static_cast<int64_t>(value)) : 0;
}

int onString(void* context, const unsigned char* text, size_t length) {
  auto handler = handlers(context).string;
  return handler ? handler(reinterpret_cast<const char*>(text), length) : 0;
}

int onStartMap(void* context) {
  auto handler = handlers(context).startMap;
  return handler ? handler() : 0;
}

int onMapKey(void* context, const unsigned char* text, size_t length) {
  auto handler = handlers(context).mapKey;
  return handler ? handler(reinterpret_cast<const char*>(text), length) : 0;
}

int onEndMap(void* context) {
  auto handler = handlers(context).endMap;
  return handler ? handler() : 0;
}

int onStartArray(void* context) {
  auto handler = handlers(context).startArray;
  return handler ? handler() : 0;
}

int onEndArray(void* context) {
  auto handler = handlers(context).endArray;
  return handler ? handler() : 0;
}

const yajl_callbacks kCallbacks = {onNull,     onBoolean, onInteger, onDouble,     nullptr,   onString,
                                   onStartMap, onMapKey,  onEndMap,  onStartArray, onEndArray};

void checkStatus(JsonEventParser& parser, yajl_status status, const unsigned char* text, size_t length) {
  if (status == yajl_status_ok) return;
  if (status == yajl_status_client_canceled) throw std::runtime_error("invalid format");
  unsigned char* message = yajl_get_error(parser.handle, 0, text, length);
  std::string copy(reinterpret_cast<const char*>(message));
  yajl_free_error(parser.handle, message);
  throw std::runtime_error(copy);
}

}  // namespace

JsonEventParser::JsonEventParser() : current(&finished), handle(yajl_alloc(&kCallbacks, nullptr, this)) {
  if (!handle) throw std::bad_alloc();
}

JsonEventParser::~JsonEventParser() { yajl_free(handle); }

void runEventParser(JsonEventParser& parser, Reader& source) {
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[kChunkSize]);
  for (;;) {
    size_t got = source.read(buffer.get(), kChunkSize);
    if (got) checkStatus(parser, yajl_parse(parser.handle, buffer.get(), got), buffer.get(), got);
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

}  // namespace nx
