#include "io/gunzip_writer.h"

#include <climits>
#include <string>

namespace nx {

namespace {

std::string gzipMessage(const char* function, int status, const char* message) {
  std::string text;
  if (message && *message) {
    text = message;
  } else if (status >= Z_VERSION_ERROR && status <= Z_NEED_DICT) {
    // zError indexes a table: only the statuses zlib defines have a text.
    const char* standard = zError(status);
    text = standard && *standard ? standard : "unknown error";
  } else {
    text = "unknown error";
  }
  return std::string(function) + ": (" + std::to_string(static_cast<uint32_t>(status)) + ") " + text;
}

}  // namespace

GzipError::GzipError(const char* function, int status, const char* message)
    : IOError(gzipMessage(function, status, message), kNoCode) {}

GunzipWriter::GunzipWriter(Writer& next) : next(&next), stream{} {
  // Window bits 31: a 32 KiB window and the gzip wrapper only.
  int status = inflateInit2(&stream, 31);
  if (status != Z_OK) throw GzipError("inflateInit2", status, stream.msg);
}

GunzipWriter::~GunzipWriter() { inflateEnd(&stream); }

void GunzipWriter::write(const void* data, size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  if (mode == 0) mode = (size >= 2 && bytes[0] == 0x1F && bytes[1] == 0x8B) ? 1 : 2;
  if (mode == 2) {
    next->write(data, size);
    return;
  }
  // zlib counts input in 32 bits; larger blocks go in pieces.
  do {
    size_t piece = size < UINT_MAX ? size : UINT_MAX;
    stream.next_in = const_cast<unsigned char*>(bytes);
    stream.avail_in = static_cast<uInt>(piece);
    bytes += piece;
    size -= piece;
    if (piece == 0) return;
    unsigned char out[65536];
    do {
      stream.next_out = out;
      stream.avail_out = sizeof out;
      int status = inflate(&stream, Z_SYNC_FLUSH);
      size_t produced = sizeof out - stream.avail_out;
      if (produced) next->write(out, produced);
      if (status == Z_STREAM_END) return;
      if (status != Z_OK) throw GzipError("inflate", status, stream.msg);
    } while (stream.avail_in > 0);
  } while (size > 0);
}

}  // namespace nx
