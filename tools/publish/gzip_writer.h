#pragma once
// Compresses the bytes passing through into one gzip member (deflate level 9)
// and forwards the compressed stream. The header carries no name and a zero
// modification time, so the same input always gives the same bytes.
#include <zlib.h>

#include "io/writer.h"

namespace nx::publish {

class GzipWriter : public Writer {
 public:
  // Throws GzipError "deflateInit2".
  explicit GzipWriter(Writer& next);
  ~GzipWriter() override;
  GzipWriter(const GzipWriter&) = delete;
  GzipWriter& operator=(const GzipWriter&) = delete;

  void write(const void* data, size_t size) override;
  // Flushes the rest of the stream and the gzip trailer. Must be called once
  // after the last write; the writer is used up afterwards.
  void finish();

  Writer* next;

 private:
  void pump(int flush);

  z_stream stream_;
  bool finished_ = false;
};

}  // namespace nx::publish
