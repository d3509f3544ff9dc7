#pragma once
// Moving file content through writer chains by handle: the pieces the
// applier uses to stage new files and to check installed ones.
#include <cstdint>
#include <string>

#include "io/handle_writer.h"
#include "io/writer.h"
#include "sys/files.h"

namespace nx::applier {

// Hands everything from an open file to out, in chunks. Throws IOError
// "read" naming `name`, or what out throws.
void pumpHandle(sys::Handle in, Writer& out, const std::wstring& name);

// Reads an open file to its end into bytes, giving up once it holds more
// than `limit` bytes: what a hostile file can make this allocate is bounded.
enum class BoundedRead { ok, failed, tooLarge };
BoundedRead readBounded(sys::Handle in, uint64_t limit, std::string* bytes);

// SHA-256 of a file opened by handle (read to its end from where it is).
std::string hashHandle(sys::Handle in, const std::wstring& name);

}  // namespace nx::applier
