#include "publish/gzip_writer.h"

#include <cstring>

#include "io/gunzip_writer.h"

namespace nx::publish {

namespace {
constexpr int kGzipWindowBits = 15 + 16;  // 32 KiB window, gzip wrapper
constexpr int kMemLevel = 8;
}  // namespace

GzipWriter::GzipWriter(Writer& next) : next(&next) {
  std::memset(&stream_, 0, sizeof stream_);
  int status = deflateInit2(&stream_, Z_BEST_COMPRESSION, Z_DEFLATED, kGzipWindowBits, kMemLevel, Z_DEFAULT_STRATEGY);
  if (status != Z_OK) throw GzipError("deflateInit2", status, stream_.msg ? stream_.msg : "");
}

GzipWriter::~GzipWriter() { deflateEnd(&stream_); }

void GzipWriter::write(const void* data, size_t size) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  // avail_in is 32 bits wide; feed huge blocks in slices.
  while (size > 0) {
    uInt slice = size > 0x40000000u ? 0x40000000u : static_cast<uInt>(size);
    stream_.next_in = const_cast<unsigned char*>(p);
    stream_.avail_in = slice;
    pump(Z_NO_FLUSH);
    p += slice;
    size -= slice;
  }
}

void GzipWriter::finish() {
  if (finished_) return;
  stream_.next_in = nullptr;
  stream_.avail_in = 0;
  pump(Z_FINISH);
  finished_ = true;
}

void GzipWriter::pump(int flush) {
  unsigned char out[kChunkSize];
  for (;;) {
    stream_.next_out = out;
    stream_.avail_out = sizeof out;
    int status = deflate(&stream_, flush);
    if (status == Z_STREAM_ERROR) throw GzipError("deflate", status, stream_.msg ? stream_.msg : "");
    size_t produced = sizeof out - stream_.avail_out;
    if (produced > 0) next->write(out, produced);
    if (flush == Z_FINISH) {
      if (status == Z_STREAM_END) return;
    } else if (stream_.avail_in == 0 && stream_.avail_out != 0) {
      return;
    }
  }
}

}  // namespace nx::publish
