#include "io/handle_writer.h"

#include "io/io_error.h"
#include "sys/errors.h"

namespace nx {

void HandleWriter::write(const void* data, size_t size) {
  if (handle == sys::invalidHandle || size == 0) return;
  if (size > limit - written) throw ContentTooLong("more bytes than listed");
  size_t done = 0;
  const bool ok = sys::write(handle, data, size, &done);
  written += done;
  if (!ok) {
    failed = true;
    throw IOError(L"write", name, 0u);
  }
  if (done < size) {
    failed = true;
    throw IOError(L"write", name, sys::diskFull);
  }
}

}  // namespace nx
