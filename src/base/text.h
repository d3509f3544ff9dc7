#pragma once
// UTF-8 <-> wide text. Paths and command-line words are wide; JSON, logs and
// the network use UTF-8. Invalid input never throws: the whole result is then
// "#utf8_error". Characters outside the basic multilingual plane convert in
// both directions (wide strings hold one code point per element on POSIX and
// surrogate pairs on Windows).
#include <string>

namespace nx {

std::string toUtf8(const std::wstring& text);
std::wstring fromUtf8(const std::string& text);

}  // namespace nx
