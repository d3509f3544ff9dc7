#pragma once
// Wide paths to the bytes POSIX calls take: UTF-8, every '\' turned into '/'.
#include <string>

namespace nx::sys::posix {

// UTF-8 of a wide word, unchanged otherwise.
std::string narrow(const std::wstring& word);
std::string nativePath(const std::wstring& path);
std::wstring widePath(const std::string& native);

}  // namespace nx::sys::posix
