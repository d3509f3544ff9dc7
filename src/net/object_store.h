#pragma once
// The object store of a staging folder: downloaded objects named by their id
// (the SHA-256 of their content after gunzip), kept as received (normally
// gzip) in fan-out folders named by the id's first two characters:
//   <store>/ab/abcdef0123...  (64 characters)
#include <string>

namespace nx {

// The path of an object; the id must be an object id (isObjectId).
std::wstring objectPath(const std::wstring& store, const std::string& id);
// The fan-out folder an object lives in.
std::wstring objectFolder(const std::wstring& store, const std::string& id);

}  // namespace nx
