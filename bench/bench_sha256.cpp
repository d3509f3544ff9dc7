// SHA-256 of one 1 GiB file that sits in the page cache: the file pump into
// our hashing writer, against `openssl dgst -sha256` on the same file.
#include <cstdio>
#include <fstream>
#include <vector>

#include "base/text.h"
#include "bench_util.h"
#include "io/file_reader.h"
#include "io/sha256_compress.h"
#include "io/sha256_writer.h"

namespace {

constexpr uint64_t kFileSize = 1ull << 30;

void writeRandomFile(const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::vector<uint64_t> block(1 << 17);
  uint64_t x = 0x9E3779B97F4A7C15ull;
  for (uint64_t done = 0; done < kFileSize; done += block.size() * 8) {
    for (auto& word : block) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      word = x;
    }
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size() * 8));
  }
}

std::string ourDigest(const std::wstring& path) {
  nx::Sha256Writer hash;
  nx::readFileToWriter(path, hash, nx::neverCancelled);
  std::string digest;
  return hash.finish(digest);
}

}  // namespace

int main() {
  nx::bench::ScratchFolder scratch;
  std::string path = scratch.file("sha256_input.bin");
  std::wstring widePath = nx::fromUtf8(path);
  writeRandomFile(path);
  std::string ours, reference;
  ours = ourDigest(widePath);  // brings the file into the page cache

  double ourSeconds = nx::bench::bestSeconds(3, [&] { ours = ourDigest(widePath); });
  double referenceSeconds = nx::bench::bestSeconds(
      3, [&] { reference = nx::bench::shell("openssl dgst -sha256 -r " + nx::bench::quote(path)).substr(0, 64); });
  if (ours != reference) {
    std::fprintf(stderr, "bench_sha256: digests differ: %s / %s\n", ours.c_str(), reference.c_str());
    return 1;
  }
  nx::bench::printThroughputRow(
      nx::sha256::cpuHasShaExtensions() ? "sha256 1 GiB file (SHA extensions)" : "sha256 1 GiB file", kFileSize,
      ourSeconds, referenceSeconds, "openssl dgst -sha256");

  // The portable path for comparison, once.
  nx::sha256::forcePortable(true);
  double portableSeconds = nx::bench::bestSeconds(1, [&] { ours = ourDigest(widePath); });
  nx::sha256::forcePortable(false);
  if (ours != reference) {
    std::fprintf(stderr, "bench_sha256: portable digest differs\n");
    return 1;
  }
  nx::bench::printThroughputRow("sha256 1 GiB file (portable code)", kFileSize, portableSeconds, referenceSeconds,
                                "openssl dgst -sha256");
  return 0;
}
