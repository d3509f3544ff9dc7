#include "applier/content_stream.h"

#include <memory>

#include "io/io_error.h"
#include "io/sha256_writer.h"
#include "sys/errors.h"

namespace nx::applier {

void pumpHandle(sys::Handle in, Writer& out, const std::wstring& name) {
  // One buffer per call on the heap: the applier's stack stays small.
  std::unique_ptr<char[]> buffer(new char[kChunkSize]);
  for (;;) {
    size_t got = 0;
    if (!sys::read(in, buffer.get(), kChunkSize, &got)) throw IOError(L"read", name, sys::lastError());
    if (got == 0) return;
    out.write(buffer.get(), got);
  }
}

BoundedRead readBounded(sys::Handle in, uint64_t limit, std::string* bytes) {
  std::unique_ptr<char[]> buffer(new char[kChunkSize]);
  bytes->clear();
  for (;;) {
    size_t got = 0;
    if (!sys::read(in, buffer.get(), kChunkSize, &got)) return BoundedRead::failed;
    if (got == 0) return BoundedRead::ok;
    bytes->append(buffer.get(), got);
    if (bytes->size() > limit) return BoundedRead::tooLarge;
  }
}

std::string hashHandle(sys::Handle in, const std::wstring& name) {
  Sha256Writer sha;
  pumpHandle(in, sha, name);
  std::string digest;
  return sha.finish(digest);
}

}  // namespace nx::applier
