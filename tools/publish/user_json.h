#pragma once
// JSON that a person wrote or may have edited (release descriptions, reply
// files): a syntax error says where it is, so it can be found in an editor.
#include <string>

#include "db/json.h"

namespace nx::publish {

// As parseJsonText, but a syntax error throws std::runtime_error
// "JSON error at line L, column C: <parser's short text>" (both counted from
// 1, columns in characters), one line.
JsonTree parseUserJson(const std::string& text);

}  // namespace nx::publish
