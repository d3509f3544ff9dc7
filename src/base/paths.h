#pragma once
// Path helpers. Both '/' and '\' count as separators when a path is split;
// the separator inserted when joining is the system's own.
#include <string>

namespace nx {

// a, one separator unless a is empty, a ends with one or b starts with one,
// then b. No folding of "." or ".."; an absolute b is simply appended.
std::wstring joinPath(const std::wstring& a, const std::wstring& b);
// b given in UTF-8.
std::wstring joinPath(const std::wstring& a, const std::string& b);

// The folder part of p with its trailing separator ("/a/b" -> "/a/",
// "/a/" -> "/"), or empty when p names no folder above it.
std::wstring parentFolder(const std::wstring& p);

// The part after the last separator, or the whole path.
std::wstring fileNamePart(const std::wstring& path);
std::string fileNamePart(const std::string& path);

// The process's current folder; empty on failure.
std::wstring currentFolder();
// Full path of the running program; "UNKNOWNDIR\UNKNOWNEXE" on failure.
std::wstring executablePath();
// parentFolder of executablePath.
std::wstring executableFolder();

}  // namespace nx
