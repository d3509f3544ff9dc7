#pragma once
// The one JSON layer: whole documents as yajl trees (small files), an event
// parser for the large streamed lists, typed lookups on tree values, and a
// beautified generator. Parse and structure failures are std::runtime_error;
// each loader rethrows them as IOError with its own operation word.
#include <yajl/yajl_gen.h>
#include <yajl/yajl_parse.h>
#include <yajl/yajl_tree.h>

#include <cstdint>
#include <exception>
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

// Limits on hostile documents. Freeing a tree recurses once per level, so
// nesting is bounded before a tree is built. A tree document is read whole
// and its tree takes up to ~50 times its size, so what a file or archive
// member may hold (after gunzip) is bounded while it is read; the updater's
// own tree documents are a few KiB.
inline constexpr size_t kMaxJsonDepth = 1000;
inline constexpr size_t kMaxJsonDocument = size_t{1} << 20;
// A string or number of a streamed document (yajl buffers it whole).
inline constexpr size_t kMaxJsonToken = size_t{1} << 20;

// Tree parser (comments allowed). Throws runtime_error "JSON error: <yajl's
// verbose text>"; also for a NUL byte anywhere in the text and for nesting
// deeper than kMaxJsonDepth, which are refused before yajl sees the text.
JsonTree parseJsonText(const std::string& text);
// Parses one member of a zip archive. A missing archive or member throws
// OpenFileError; a member of more than limit bytes is a "JSON error". The
// member's claimed size is only a hint for the buffer.
JsonTree parseJsonMember(const std::wstring& archivePath, const std::string& member, size_t limit = kMaxJsonDocument);
// Parses a plain or gzip-compressed file. A missing file throws OpenFileError;
// a file that holds (or inflates to) more than limit bytes is a "JSON error",
// found without reading further.
JsonTree parseJsonFile(const std::wstring& path, size_t limit = kMaxJsonDocument);

// One-level lookup of key in object; type is yajl_t_string, yajl_t_number,
// yajl_t_array or yajl_t_any. A value of another type, or a null object,
// gives nullptr.
yajl_val findKey(yajl_val object, const char* key, yajl_type type);
// A number with a valid integer form (bit for bit; -2^63, which the library
// does not mark valid, reads as 2^63), or a decimal string as strtoull reads
// it. False for anything else.
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

  // For a handler that rejects an event for a reason other than the grammar
  // (a value the format does not allow): records the text runEventParser
  // throws, and returns false. Handlers never throw through the library.
  bool reject(const std::string& why) {
    rejection = why;
    return false;
  }

  JsonHandlerSet finished;  // every slot empty: nothing more is accepted
  JsonHandlerSet* current;
  yajl_handle handle;
  std::string rejection;       // set by reject()
  std::exception_ptr pending;  // what a handler threw, rethrown by runEventParser
};

// Feeds the source to the parser in kChunkSize requests until a short read.
// Throws runtime_error "invalid format" when a handler rejects an event (the
// handler's reject() text instead, when it gave one), or yajl's short error
// text on a syntax error. A token longer than kMaxJsonToken or nesting deeper
// than kMaxJsonDepth is a syntax error too ("lexical error: ..." / "parse
// error: ..."), found before the library buffers it.
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
// One member of an object: its key, then its value.
void jsonMember(yajl_gen gen, std::string_view key, std::string_view value);
void jsonMember(yajl_gen gen, std::string_view key, int64_t value);
// An array of the given strings (any container of them).
template <class Strings>
void jsonStringArray(yajl_gen gen, const Strings& items) {
  jsonArrayOpen(gen);
  for (const std::string& item : items) jsonString(gen, item);
  jsonArrayClose(gen);
}

}  // namespace nx
