#pragma once
// The end of a writer chain that puts bytes into a file already open. It
// does not own the handle; whoever opened the file closes it.
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

#include "io/writer.h"
#include "sys/files.h"

namespace nx {

// More bytes arrived than the file may hold.
class ContentTooLong : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class HandleWriter : public Writer {
 public:
  HandleWriter(sys::Handle handle, uint64_t limit, std::wstring name)
      : handle(handle), limit(limit), name(std::move(name)) {}

  // Throws IOError "write" naming `name`: a short write carries the
  // disk-full number, since that is what a full disk makes of a write.
  // Throws ContentTooLong past `limit` bytes in all. Does nothing without a
  // handle.
  void write(const void* data, size_t size) override;

  sys::Handle handle;
  uint64_t limit = std::numeric_limits<uint64_t>::max();
  std::wstring name;
  uint64_t written = 0;  // bytes the system reported as written
  bool failed = false;   // the file refused data (not the limit)
};

}  // namespace nx
