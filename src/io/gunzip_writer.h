#pragma once
// Decompresses a gzip stream and forwards the result, or forwards the bytes
// untouched when the first write does not start with the gzip magic 1F 8B.
// Bytes after the end of the first gzip member are dropped; a stream cut
// short yields fewer bytes without an error (callers check size and digest).
#include <zlib.h>

#include "io/io_error.h"
#include "io/writer.h"

namespace nx {

// A zlib failure: "inflate: (<status as unsigned>) <text>"; code is always -1.
struct GzipError : public IOError {
  GzipError(const char* function, int status, const char* message);
};

class GunzipWriter : public Writer {
 public:
  // Throws GzipError "inflateInit2".
  explicit GunzipWriter(Writer& next);
  ~GunzipWriter() override;
  GunzipWriter(const GunzipWriter&) = delete;
  GunzipWriter& operator=(const GunzipWriter&) = delete;

  // Throws GzipError "inflate" on corrupt data; downstream errors pass through.
  void write(const void* data, size_t size) override;

  Writer* next;
  z_stream stream;
  int mode = 0;  // 0 undecided, 1 gzip, 2 pass-through
};

}  // namespace nx
