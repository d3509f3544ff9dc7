// Gunzip and SHA-256 of one gzip file, as the check of a stored object does
// it (file pump -> gunzip -> hash), against `gzip -dc FILE | sha256sum`.
#include <cstdio>
#include <fstream>
#include <string>

#include "base/text.h"
#include "bench_util.h"
#include "io/file_reader.h"
#include "io/file_writer.h"
#include "io/gunzip_writer.h"
#include "io/sha256_writer.h"

namespace {

constexpr uint64_t kPlainSize = 256ull << 20;

// Compressible but not trivial: numbered lines of varying words and numbers,
// about a quarter of the size after gzip -6.
void writeTextFile(const std::string& path) {
  static const char* words[] = {"veltra",  "update", "object", "module", "digest",  "mirror",  "cache",   "lang",
                                "install", "repair", "base",   "write",  "staging", "applier", "version", "server"};
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::string chunk;
  uint32_t x = 12345;
  uint64_t done = 0;
  while (done < kPlainSize) {
    chunk.clear();
    while (chunk.size() < (1 << 20)) {
      x = x * 1664525u + 1013904223u;
      chunk += std::to_string(x >> 12);
      chunk += ' ';
      chunk += words[(x >> 4) & 15];
      chunk += '/';
      chunk += words[(x >> 24) & 15];
      chunk += '\n';
    }
    if (chunk.size() > kPlainSize - done) chunk.resize(kPlainSize - done);
    out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    done += chunk.size();
  }
}

std::string ourDigest(const std::wstring& path) {
  nx::Sha256Writer hash;
  nx::GunzipWriter gunzip(hash);
  nx::readFileToWriter(path, gunzip, nx::neverCancelled);
  std::string digest;
  return hash.finish(digest);
}

// The chain of an object download: the body goes to the object file as it
// arrives and, beside it, through gunzip into the hash.
std::string downloadChainDigest(const std::wstring& path, const std::wstring& copy) {
  nx::FileWriter file(copy);
  nx::Sha256Writer hash;
  nx::GunzipWriter gunzip(hash);
  nx::SplitWriter split(file, gunzip);
  nx::readFileToWriter(path, split, nx::neverCancelled);
  file.close();
  std::string digest;
  return hash.finish(digest);
}

}  // namespace

int main() {
  nx::bench::ScratchFolder scratch;
  std::string plain = scratch.file("gunzip_input.txt");
  std::string gz = plain + ".gz";
  writeTextFile(plain);
  nx::bench::shell("gzip -6 " + nx::bench::quote(plain));  // replaces the text file by the .gz
  std::wstring widePath = nx::fromUtf8(gz);
  std::string ours = ourDigest(widePath), reference;

  double ourSeconds = nx::bench::bestSeconds(3, [&] { ours = ourDigest(widePath); });
  double referenceSeconds = nx::bench::bestSeconds(
      3, [&] { reference = nx::bench::shell("gzip -dc " + nx::bench::quote(gz) + " | sha256sum").substr(0, 64); });
  if (ours != reference) {
    std::fprintf(stderr, "bench_gunzip: digests differ: %s / %s\n", ours.c_str(), reference.c_str());
    return 1;
  }
  nx::bench::printThroughputRow("gunzip+sha256 256 MiB (output bytes)", kPlainSize, ourSeconds, referenceSeconds,
                                "gzip -dc piped to sha256sum");

  // The same object through the whole download chain, against the fastest
  // standard pipeline.
  std::wstring copy = nx::fromUtf8(scratch.file("object_copy"));
  ourSeconds = nx::bench::bestSeconds(3, [&] { ours = downloadChainDigest(widePath, copy); });
  referenceSeconds = nx::bench::bestSeconds(3, [&] {
    reference = nx::bench::shell("pigz -dc " + nx::bench::quote(gz) + " | openssl dgst -sha256 -r").substr(0, 64);
  });
  if (ours != reference) {
    std::fprintf(stderr, "bench_gunzip: digests differ: %s / %s\n", ours.c_str(), reference.c_str());
    return 1;
  }
  nx::bench::printThroughputRow("download chain: store + gunzip + sha256, 256 MiB object", kPlainSize, ourSeconds,
                                referenceSeconds, "pigz -dc piped to openssl dgst -sha256");
  return 0;
}
