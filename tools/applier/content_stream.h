#pragma once
// Moving file content through writer chains by handle: the pieces the
// applier uses to stage new files and to check installed ones.
#include <cstdint>
#include <stdexcept>
#include <string>

#include "io/writer.h"
#include "sys/files.h"

namespace nx::applier {

// More bytes arrived than the database lists for the content.
class ContentTooLong : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Writes to an open file, at most `limit` bytes in all. Throws IOError
// "write" (a short write carries the disk-full number) naming `name`, and
// ContentTooLong past the limit.
class HandleWriter : public Writer {
 public:
  HandleWriter(sys::Handle handle, uint64_t limit, std::wstring name)
      : handle(handle), limit(limit), name(std::move(name)) {}
  void write(const void* data, size_t size) override;

  sys::Handle handle;
  uint64_t limit;
  std::wstring name;
  uint64_t written = 0;
  bool failed = false;  // the file refused data (not the limit)
};

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
