// Gzip streams (downloaded objects, compressed state files) through the
// gunzip writer, fed in pieces whose size the first byte chooses.
#include <algorithm>
#include <cstdint>
#include <string>

#include "fuzz_util.h"
#include "io/gunzip_writer.h"
#include "io/sha256_writer.h"

namespace {

// Checks the writer's promise on its output blocks.
struct Checked : nx::Writer {
  void write(const void*, size_t size) override {
    nx::fuzz::require(size <= 65536, "output blocks of at most 64 KiB");
    total += size;
  }
  uint64_t total = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t piece = data[0] + 1u;
  ++data, --size;
  Checked out;
  nx::Sha256Writer sha(out);
  try {
    nx::GunzipWriter gunzip(sha);
    for (size_t at = 0; at < size; at += piece) gunzip.write(data + at, std::min(piece, size - at));
    gunzip.write(nullptr, 0);
  } catch (const nx::GzipError&) {
  }
  std::string digest;
  sha.finish(digest);
  return 0;
}
