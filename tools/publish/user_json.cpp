#include "publish/user_json.h"

#include <memory>
#include <stdexcept>

namespace nx::publish {

namespace {

// Where the parser stops on text, and its short reason; false when it finds
// no syntax error (the tree parser refused the text for another reason).
bool findSyntaxError(const std::string& text, size_t& at, std::string& reason) {
  // The tree parser reports the place after its final pass over an empty
  // tail, so it always points at the start: parse again without a tree.
  std::unique_ptr<yajl_handle_t, void (*)(yajl_handle)> parser(yajl_alloc(nullptr, nullptr, nullptr), yajl_free);
  yajl_config(parser.get(), yajl_allow_comments, 1);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  if (yajl_parse(parser.get(), bytes, text.size()) == yajl_status_ok) {
    if (yajl_complete_parse(parser.get()) == yajl_status_ok) return false;
    at = text.size();  // the text ends too early
  } else {
    const size_t consumed = yajl_get_bytes_consumed(parser.get());
    at = consumed ? consumed - 1 : 0;  // the byte the parser stopped on
  }
  unsigned char* message = yajl_get_error(parser.get(), 0, bytes, text.size());
  reason = reinterpret_cast<const char*>(message);
  yajl_free_error(parser.get(), message);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
  return true;
}

}  // namespace

JsonTree parseUserJson(const std::string& text) {
  try {
    return parseJsonText(text);
  } catch (const std::runtime_error& e) {
    size_t at = 0;
    std::string reason;
    if (!findSyntaxError(text, at, reason)) throw;
    size_t line = 1, column = 1;
    for (size_t i = 0; i < at && i < text.size(); ++i) {
      if (text[i] == '\n') {
        ++line;
        column = 1;
      } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {  // not a UTF-8 continuation byte
        ++column;
      }
    }
    throw std::runtime_error("JSON error at line " + std::to_string(line) + ", column " + std::to_string(column) +
                             ": " + reason);
  }
}

}  // namespace nx::publish
