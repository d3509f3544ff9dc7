// Applying an update that changes 2,000 of 20,000 files (about 50 MiB of
// 500 MiB) with the applier program, from a warm object store (gzip objects
// of the changed files only, as the updater leaves it) and a file cache that
// vouches for the installed files, against `rsync -a --delete` from an
// unpacked copy of the new version onto the same installation. The
// applier verifies the digest of everything it writes and makes its new
// files durable (one syncfs) before it replaces anything; rsync does
// neither, so `rsync -a --delete --fsync` (each file synced) is a second
// reference. Both start from an installation made of hard links to a pristine
// one (neither writes into an existing file), after a `sync`; the best of
// three runs counts for each.
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/paths.h"
#include "base/text.h"
#include "bench_util.h"
#include "db/database.h"
#include "io/sha256_writer.h"
#include "io/zip_archive.h"
#include "net/file_cache.h"
#include "sys/files.h"

namespace {

namespace fs = std::filesystem;
using nx::bench::gzip;
using nx::bench::quote;
using nx::bench::shell;

constexpr int kFiles = 20000;
constexpr int kChangedEvery = 10;  // 2,000 files change
constexpr int kFilesPerFolder = 100;

// Text-like content (compresses about 4:1 with gzip), different per seed.
std::string content(uint32_t seed, size_t size) {
  static const char* words[] = {"veltra",  "update", "object", "module", "digest",  "mirror",  "cache",   "lang",
                                "install", "repair", "base",   "write",  "staging", "applier", "version", "server"};
  std::string out;
  out.reserve(size + 64);
  uint32_t x = seed * 2654435761u + 1;
  while (out.size() < size) {
    x = x * 1664525u + 1013904223u;
    out += std::to_string(x >> 12);
    out += ' ';
    out += words[(x >> 4) & 15];
    out += '/';
    out += words[(x >> 24) & 15];
    out += '\n';
  }
  out.resize(size);
  return out;
}

std::string sha256(const std::string& bytes) {
  nx::Sha256Writer sha;
  sha.write(bytes.data(), bytes.size());
  std::string digest;
  return sha.finish(digest);
}

void writeFile(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
    std::fprintf(stderr, "bench_apply: cannot write %s\n", path.c_str());
    std::exit(1);
  }
  std::fclose(f);
}

struct Entry {
  std::string path, hash;
  uint64_t size;
};

// An update database of one module; returns its bytes.
std::string database(const std::string& version, const std::vector<Entry>& files, const std::string& scratch) {
  std::string list = "[";
  for (size_t i = 0; i < files.size(); ++i) {
    list += i ? ",\n[\"" : "\n[\"";
    list += files[i].path;
    list += "\", \"";
    list += files[i].hash;
    list += "\", ";
    list += std::to_string(files[i].size);
    list += "]";
  }
  list += "\n]\n";
  std::string metadata = R"({"format": 1, "timestamp": "2026-12-0)" + version + R"(", "version": ")" + version +
                         R"(", "update_url": "file:///none", "tag": "stable", "setup": [], "launch": ["run.sh"],
                         "apply": ["run.sh"], "modules": ["game"], "main": "game", "lang": "en", "arch": "x86_64"})";
  {
    nx::ZipFile zip(nx::fromUtf8(scratch));
    for (auto [name, text] : {std::pair<const char*, const std::string*>{"metadata.json", &metadata},
                              {"modules/game/common.json", &list}}) {
      nx::ZipWriter member(zip, name);
      member.write(text->data(), text->size());
      member.close();
    }
    zip.close();
  }
  return nx::bench::shell("cat " + quote(scratch));
}

}  // namespace

int main() {
  nx::bench::ScratchFolder scratch;
  const std::string pristine = scratch.file("pristine"), newCopy = scratch.file("new"), store = scratch.file("store"),
                    cacheFile = scratch.file("autoupdate.cache");

  // The installed version 1 and the changed contents of version 2.
  std::vector<Entry> v1, v2;
  uint64_t totalBytes = 0, changedBytes = 0;
  fs::create_directories(pristine);
  for (int i = 0; i < kFiles; ++i) {
    std::string folder = "data/set" + std::to_string(i / kFilesPerFolder);
    if (i % kFilesPerFolder == 0) fs::create_directories(pristine + "/" + folder);
    std::string path = i == 0 ? "run.sh" : folder + "/file" + std::to_string(i) + ".dat";
    size_t size = 1024 + (static_cast<uint32_t>(i) * 2654435761u) % 51200;
    std::string bytes = content(static_cast<uint32_t>(i), size);
    writeFile(pristine + "/" + path, bytes);
    v1.push_back({path, sha256(bytes), size});
    totalBytes += size;
    if (i % kChangedEvery == 5) {
      std::string next = content(static_cast<uint32_t>(i) + 7777777u, size + 100);
      std::string id = sha256(next);
      fs::create_directories(store + "/" + id.substr(0, 2));
      writeFile(store + "/" + id.substr(0, 2) + "/" + id, gzip(next, Z_BEST_COMPRESSION));
      v2.push_back({path, id, next.size()});
      changedBytes += next.size();
    } else {
      v2.push_back(v1.back());
    }
  }
  std::string db1 = database("1", v1, scratch.file("db1.zip")), db2 = database("2", v2, scratch.file("db2.zip"));
  std::string db2Id = sha256(db2);
  writeFile(pristine + "/autoupdate.db", db1);
  writeFile(pristine + "/autoupdate.cfg", "{\"arch\": \"x86_64\", \"lang\": \"en\", \"modules\": [\"game\"]}");
  fs::create_directories(store + "/" + db2Id.substr(0, 2));
  writeFile(store + "/" + db2Id.substr(0, 2) + "/" + db2Id, db2);

  // The file cache the updater writes just before it starts the applier.
  {
    nx::Database db;
    db.version = "1";
    for (const Entry& e : v1) {
      nx::FileRecord& r = db.files[e.path];
      r.path = e.path;
      r.hash = r.local_hash = e.hash;
      nx::sys::FileInfo info;
      nx::sys::fileInfo(nx::fromUtf8(pristine + "/" + e.path), &info);
      r.local_size = info.size;
      r.local_time = info.writeTime;
    }
    nx::saveFileCache(nx::fromUtf8(cacheFile), db);
  }

  // The unpacked new version for rsync: unchanged files keep their times,
  // so rsync's quick check skips them as the applier's cache does.
  shell("cp -a " + quote(pristine) + " " + quote(newCopy));
  for (size_t i = 0; i < v2.size(); ++i)
    if (v2[i].hash != v1[i].hash)
      writeFile(newCopy + "/" + v2[i].path, content(static_cast<uint32_t>(i) + 7777777u, v2[i].size));
  writeFile(newCopy + "/autoupdate.db", db2);

  // Every run gets its own installation, all made before the first one
  // starts: hard links only, so no inode is freed between the runs (ext4
  // scans long for a free inode right after many were freed, which would
  // weigh on whichever tool runs next).
  constexpr int kRuns = 3;
  for (int run = 0; run < kRuns; ++run)
    for (const char* tool : {"applier", "rsync", "rsyncfsync"}) {
      std::string at = scratch.file(std::string(tool) + std::to_string(run));
      shell("mkdir -p " + quote(at + "/write") + " && cp -al " + quote(pristine) + " " + quote(at + "/install") +
            " && cp " + quote(cacheFile) + " " + quote(at + "/write/"));
    }
  const std::string applier = nx::toUtf8(nx::executableFolder()) + "applier";
  std::string failure;
  double ours = 1e300, reference = 1e300, synced = 1e300;
  for (int run = 0; run < kRuns; ++run) {
    const std::string mine = scratch.file("applier" + std::to_string(run)),
                      theirs = scratch.file("rsync" + std::to_string(run));
    shell("sync");
    ours = std::min(ours, nx::bench::bestSeconds(1, [&] {
                      std::string out =
                          shell(quote(applier) + " " + quote(mine + "/install") + " " + quote(mine + "/write") + " " +
                                quote(store) + " " + db2Id + " 2>&1; echo rc=$?");
                      if (out.find("rc=0") == std::string::npos) failure = out;
                    }));
    if (run == 0) {
      // The result is the new version, byte for byte.
      std::string diff =
          shell("diff -r -x autoupdate.cfg " + quote(newCopy) + " " + quote(mine + "/install") + " | head -3");
      if (!diff.empty()) failure += "differs from the new version: " + diff;
    }
    shell("sync");
    reference = std::min(reference, nx::bench::bestSeconds(1, [&] {
                           shell("rsync -a --delete " + quote(newCopy + "/") + " " + quote(theirs + "/install/"));
                         }));
    const std::string syncing = scratch.file("rsyncfsync" + std::to_string(run));
    shell("sync");
    synced = std::min(synced, nx::bench::bestSeconds(1, [&] {
                        shell("rsync -a --delete --fsync " + quote(newCopy + "/") + " " + quote(syncing + "/install/"));
                      }));
  }
  if (!failure.empty()) {
    std::fprintf(stderr, "bench_apply: %s\n", failure.c_str());
    return 1;
  }
  std::fprintf(stderr, "bench_apply: %llu of %llu bytes changed in %d of %d files\n",
               static_cast<unsigned long long>(changedBytes), static_cast<unsigned long long>(totalBytes),
               kFiles / kChangedEvery, kFiles);
  std::printf(
      "| apply 2,000 of 20,000 files (50 of 500 MiB), digests verified | %.2f s | %.2f s (rsync -a --delete) | %.2f "
      "|\n",
      ours, reference, reference / ours);
  std::printf(
      "| apply 2,000 of 20,000 files (50 of 500 MiB), digests verified | %.2f s | %.2f s (rsync -a --delete --fsync) | "
      "%.2f |\n",
      ours, synced, synced / ours);
  return 0;
}
