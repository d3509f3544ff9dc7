// Refreshing the local fields of an installation of 20,000 files (about
// 500 MiB, in the page cache):
//  - with a valid file cache (nothing changed: one attribute query a file),
//    against find's stat pass over the same tree;
//  - with no cache (every file hashed on the pool), against openssl hashing
//    the same files from xargs with one process per core.
// Times are wall-clock seconds, the best of several runs taken in turns.
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "base/paths.h"
#include "base/text.h"
#include "bench_util.h"
#include "db/settings.h"
#include "net/autoupdater.h"
#include "net/installed_file.h"

namespace {

constexpr int kFiles = 20000;
constexpr int kFolders = 200;

class NullLog : public nx::MiniLog {
 public:
  double elapsedSeconds() override { return 0; }
  void writeLine(const std::string&) override {}
};

// Sizes from 1 KiB to about 51 KiB, 26 KiB on average: 500 MiB in all.
void generate(const std::string& root, nx::Database& db) {
  uint64_t x = 0x9E3779B97F4A7C15ull;
  auto next = [&] {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return x;
  };
  std::vector<uint64_t> block(52 * 1024 / 8);
  for (int f = 0; f < kFolders; ++f)
    std::filesystem::create_directories(root + "/data" + std::to_string(f % 20) + "/set" + std::to_string(f));
  for (int i = 0; i < kFiles; ++i) {
    std::string path = "data" + std::to_string(i % kFolders % 20) + "/set" + std::to_string(i % kFolders) + "/file" +
                       std::to_string(i) + ".bin";
    size_t size = 1024 + next() % (50 * 1024);
    for (auto& word : block) word = next();
    std::ofstream(root + "/" + path, std::ios::binary)
        .write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(size));
    db.files[path] = nx::FileRecord{path, std::string(64, '0'), size, "m", "", 0, 0};
  }
  db.modules["m"] = true;
}

void printTimeRow(const std::string& name, double ours, double reference, const std::string& referenceName) {
  std::printf("| %s | %.3f s | %.3f s (%s) | %.2f |\n", name.c_str(), ours, reference, referenceName.c_str(),
              reference / ours);
  std::fflush(stdout);
}

}  // namespace

int main() {
  nx::bench::ScratchFolder scratch;
  const std::string root = scratch.file("install");
  NullLog log;
  nx::UpdaterSettings settings(nx::fromUtf8(scratch.file("settings")), log);
  nx::Autoupdater updater(log, settings);
  updater.baseFolder = nx::fromUtf8(root);
  updater.writeFolder = nx::fromUtf8(scratch.file(""));
  generate(root, updater.database);
  const std::string quoted = nx::bench::quote(root);

  auto refresh = [&](bool fromScratch) {
    if (fromScratch)
      for (auto& [path, record] : updater.database.files) record.local_hash.clear();
    updater.refreshInstalledFiles();
  };

  // A first pass warms the page cache; its digests are checked against
  // openssl's (one process at a time, so its lines do not interleave).
  refresh(true);
  std::istringstream lines(
      nx::bench::shell("cd " + quoted + " && find . -type f -print0 | xargs -0 openssl dgst -sha256 -r"));
  size_t matched = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.size() < 68) continue;
    auto found = updater.database.files.find(line.substr(68));  // "<digest> *./<path>"
    if (found != updater.database.files.end() && found->second.local_hash == line.substr(0, 64)) ++matched;
  }
  if (matched != updater.database.files.size()) {
    std::fprintf(stderr, "bench_refresh: %zu of %zu digests match openssl's\n", matched, updater.database.files.size());
    return 1;
  }

  double hashOurs = 1e300, hashReference = 1e300, statOurs = 1e300, statReference = 1e300;
  for (int run = 0; run < 3; ++run) {
    hashOurs = std::min(hashOurs, nx::bench::bestSeconds(1, [&] { refresh(true); }));
    hashReference = std::min(
        hashReference, nx::bench::bestSeconds(1, [&] {
          nx::bench::shell("find " + quoted + " -type f -print0 | xargs -0 -P$(nproc) openssl dgst -sha256 >/dev/null");
        }));
  }
  for (int run = 0; run < 7; ++run) {
    statOurs = std::min(statOurs, nx::bench::bestSeconds(1, [&] { refresh(false); }));
    statReference = std::min(statReference, nx::bench::bestSeconds(1, [&] {
                               nx::bench::shell("find " + quoted + " -type f -printf '%s %T@\\n' >/dev/null");
                             }));
  }
  updater.cacheDirty = false;

  std::fprintf(stderr, "bench_refresh: %d files, %u hashing threads\n", kFiles, nx::hashThreadCount());
  printTimeRow("refresh 20000 files, valid cache (goal >= 0.67)", statOurs, statReference, "find -printf '%s %T@'");
  printTimeRow("refresh 20000 files (500 MiB), no cache (goal >= 1)", hashOurs, hashReference,
               "xargs -P$(nproc) openssl dgst -sha256");
  return 0;
}
