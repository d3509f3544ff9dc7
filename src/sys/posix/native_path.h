#pragma once
// Wide paths to the bytes POSIX calls take and back.
//
// File names on POSIX are bytes, usually but not always UTF-8. Valid UTF-8
// decodes to its code points; every byte that is not part of a valid UTF-8
// sequence (a stray byte, an overlong form such as C0 AF, an encoded
// surrogate, a truncated sequence) becomes the lone surrogate U+DC00 + byte,
// which maps back to that byte. A backslash byte is escaped the same way
// (U+DC5C): in the wide form '\' is a separator. So any name read from the
// disk converts to a wide name and back to the same bytes, and no byte of a
// name can decode into '/', '\', '.' or NUL that it did not hold. Such a name
// holds surrogates, which toUtf8 rejects as "#utf8_error".
#include <string>

namespace nx::sys::posix {

// The bytes of a wide word: UTF-8, escaped bytes restored. Nothing else
// changes.
std::string narrow(const std::wstring& word);
// narrow, with every '\' character turned into '/' (an escaped backslash
// byte stays one).
std::string nativePath(const std::wstring& path);
// The wide form of bytes from the system (names, paths, arguments).
std::wstring widePath(const std::string& native);

}  // namespace nx::sys::posix
