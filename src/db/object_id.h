#pragma once
// Names that come from documents (a server reply, a database, a hand-over
// file, a command line) and later become paths. Checked before use, so a
// hostile document can never make the updater read or write outside the
// folder a name belongs to.
#include <string_view>

namespace nx {

// Exactly 64 lowercase hexadecimal digits: the SHA-256 of an object's content.
bool isObjectId(std::string_view id);

// A path relative to the base folder that stays inside it: not empty, not
// absolute, no drive prefix ("C:"), no empty, "." or ".." component ('/' and
// '\' both separate components), no control character.
bool isSafeRelativePath(std::string_view path);

}  // namespace nx
