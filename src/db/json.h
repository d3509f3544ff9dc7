#pragma once
// The one JSON layer: whole documents as yajl trees (small files), an event
// parser for the large streamed lists, typed lookups on tree values, and a
// beautified generator. Parse and structure failures are std::runtime_error;
// each loader rethrows them as IOError with its own operation word.
#include <yajl/yajl_gen.h>
#include <yajl/yajl_parse.h>
#include <yajl/yajl_tree.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "io/writer.h"

namespace nx {

struct JsonTreeDeleter {
  void operator()(yajl_val value) const { yajl_tree_free(value); }
};
// An owned parsed document.
using JsonTree = std::unique_ptr<std::remove_pointer_t<yajl_val>, JsonTreeDeleter>;

// Tree parser (comments allowed). Throws runtime_error "JSON error: <yajl's
// verbose text>".
JsonTree parseJsonText(const std::string& text);
// Parses one member of a zip archive. A missing archive or member throws
// OpenFileError.
JsonTree parseJsonMember(const std::wstring& archivePath, const std::string& member);
// Parses a plain or gzip-compressed file. A missing file throws OpenFileError.
JsonTree parseJsonFile(const std::wstring& path);

// One-level lookup of key in object; type is yajl_t_string, yajl_t_number,
// yajl_t_array or yajl_t_any. A value of another type, or a null object,
// gives nullptr.
yajl_val findKey(yajl_val object, const char* key, yajl_type type);
// A number with a valid integer form (bit for bit), or a decimal string as
// strtoull reads it. False for anything else.
bool getUnsigned(yajl_val value, uint64_t& out);
// JSON true/false; anything else throws runtime_error(errorText).
bool getBool(yajl_val value, const std::string& errorText);
// A string (one element) or an array of strings; anything else throws
// runtime_error(errorText).
void getStringList(yajl_val value, std::vector<std::string>& out, const std::string& errorText);

// Handlers for the events of a streamed document; an empty slot rejects its
// event. Numbers arrive in `integer` (reals truncated toward zero); `real` is
// reserved and never called.
struct JsonHandlerSet {
  std::function<bool()> null;
  std::function<bool(bool)> boolean;
  std::function<bool(int64_t)> integer;
  std::function<bool(double)> real;
  std::function<bool(const char*, size_t)> string;
  std::function<bool()> startArray;
  std::function<bool()> endArray;
  std::function<bool()> startMap;
  std::function<bool(const char*, size_t)> mapKey;
  std::function<bool()> endMap;
};

// Base of the streamed-format readers: a concrete parser adds one handler set
// per state of its grammar and moves `current` between them. Comments are not
// allowed and strings must be valid UTF-8.
class JsonEventParser {
 public:
  JsonEventParser();
  virtual ~JsonEventParser();
  JsonEventParser(const JsonEventParser&) = delete;
  JsonEventParser& operator=(const JsonEventParser&) = delete;

  JsonHandlerSet finished;  // every slot empty: nothing more is accepted
  JsonHandlerSet* current;
  yajl_handle handle;
};

// Feeds the source to the parser in kChunkSize requests until a short read.
// Throws runtime_error "invalid format" when a handler rejects an event, or
// yajl's short error text on a syntax error.
void runEventParser(JsonEventParser& parser, Reader& source);

// Runs the generation steps on a beautified generator (one-blank indent) and
// returns the text. Throws runtime_error when the steps break JSON's rules.
std::string generateJson(const std::function<void(yajl_gen)>& steps);
// Writes the generated document to path in one piece. The text goes to a
// temporary file beside path first and replaces path only when complete, so
// a failed write leaves the previous file intact. Throws IOError "create" /
// "write" naming path.
void writeJsonFile(const std::wstring& path, const std::function<void(yajl_gen)>& steps);

// Generation helpers that throw runtime_error on a generator error.
void jsonString(yajl_gen gen, std::string_view text);
void jsonInteger(yajl_gen gen, int64_t value);
void jsonBool(yajl_gen gen, bool value);
void jsonMapOpen(yajl_gen gen);
void jsonMapClose(yajl_gen gen);
void jsonArrayOpen(yajl_gen gen);
void jsonArrayClose(yajl_gen gen);

}  // namespace nx
