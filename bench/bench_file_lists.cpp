// Loading the file lists of a large update database: entries per second
// against Python's zipfile + json on the same archive, and the peak heap of
// the load against the size of the resulting file table.
//
// Times are CPU seconds. Heap use is counted by replacing the global operator new/delete (C++
// allocations, which is where the table lives); the process's peak resident
// size is printed as well, for the allocations of zlib and yajl.
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>

#include "base/text.h"
#include "db/database.h"
#include "db/install_state.h"
#include "io/zip_archive.h"

namespace {

std::atomic<size_t> liveBytes{0};
std::atomic<size_t> peakBytes{0};
constexpr size_t kHeader = alignof(std::max_align_t);

void* counted(size_t size) {
  void* block = std::malloc(size + kHeader);
  if (!block) throw std::bad_alloc();
  *static_cast<size_t*>(block) = size;
  size_t now = liveBytes += size;
  size_t peak = peakBytes.load();
  while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
  }
  return static_cast<char*>(block) + kHeader;
}

void release(void* p) {
  if (!p) return;
  void* block = static_cast<char*>(p) - kHeader;
  liveBytes -= *static_cast<size_t*>(block);
  std::free(block);
}

}  // namespace

void* operator new(size_t size) { return counted(size); }
void* operator new[](size_t size) { return counted(size); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, size_t) noexcept { release(p); }
void operator delete[](void* p, size_t) noexcept { release(p); }

namespace {

constexpr int kModules = 8;
constexpr int kTotalEntries = 200000;

// Writes a database whose lists hold kTotalEntries entries: per module a
// common list, an arch list and a language list (a quarter of which override
// common entries), and two modules with a single filelist.json.
void generate(const std::wstring& path) {
  nx::ZipFile zip(path);
  {
    std::string meta = R"({"format": 1, "timestamp": "t", "version": "1.0", "update_url": "http://u/", "tag": "s",
      "setup": [], "launch": "run", "apply": "applier", "lang": "en", "arch": "x86_64", "main": "m0", "modules": [)";
    for (int m = 0; m < kModules + 2; ++m) meta += (m ? ", \"m" : "\"m") + std::to_string(m) + "\"";
    meta += "]}";
    nx::ZipWriter member(zip, "metadata.json");
    member.write(meta.data(), meta.size());
  }
  const int perList = kTotalEntries / (kModules * 3 + 2);
  int written = 0;
  auto list = [&](const std::string& name, int module, int first, int count) {
    nx::ZipWriter member(zip, name.c_str());
    std::string chunk = "[\n";
    for (int i = 0; i < count; ++i) {
      int n = first + i;
      char hash[65];
      std::snprintf(hash, sizeof hash, "%016x%016x%016x%016x", n * 2654435761u, n, module, n ^ 0x5bd1e995);
      chunk += std::string(i ? ",\n" : "") + "[\"data/module" + std::to_string(module) + "/sub" +
               std::to_string(n % 97) + "/file_" + std::to_string(n) + ".dat\", \"" + hash + "\", " +
               std::to_string(n * 37 % 1000003) + "]";
      if (chunk.size() > 60000) {
        member.write(chunk.data(), chunk.size());
        chunk.clear();
      }
    }
    chunk += "\n]\n";
    member.write(chunk.data(), chunk.size());
    written += count;
  };
  for (int m = 0; m < kModules; ++m) {
    std::string folder = "modules/m" + std::to_string(m) + "/";
    list(folder + "common.json", m, 0, perList);
    list(folder + "arch_x86_64.json", m, perList * 3 / 4, perList);  // overrides a quarter of common
    list(folder + "lang_en.json", m, perList * 7 / 4, perList);
  }
  list("modules/m8/filelist.json", 8, 0, perList);
  list("modules/m9/filelist.json", 9, 0, kTotalEntries - written);
}

// Heap bytes the table holds: nodes (with the cached hash and the next
// pointer), bucket array, and the strings that do not fit in place.
size_t tableBytes(const nx::Database& db) {
  auto heap = [](const std::string& s) { return s.capacity() > 15 ? s.capacity() + 1 : 0; };
  size_t bytes = db.files.bucket_count() * sizeof(void*);
  for (const auto& [key, r] : db.files) {
    bytes += sizeof(void*) + sizeof(std::pair<const std::string, nx::FileRecord>) + sizeof(size_t);
    bytes += heap(key) + heap(r.path) + heap(r.hash) + heap(r.module) + heap(r.local_hash);
  }
  return bytes;
}

long maxRssKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// CPU seconds rather than wall time: the figures stay comparable on a busy
// machine. `children` selects the finished child processes.
double cpuSeconds(bool children = false) {
  rusage usage{};
  getrusage(children ? RUSAGE_CHILDREN : RUSAGE_SELF, &usage);
  auto sec = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return sec(usage.ru_utime) + sec(usage.ru_stime);
}

}  // namespace

int main() {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("bench_file_lists_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::wstring dbPath = (dir / "autoupdate.db").wstring();
  generate(dbPath);

  // Best of three loads for speed; heap and resident size from the first.
  double best = 1e9;
  size_t entries = 0, table = 0, peak = 0;
  long rssBefore = maxRssKiB(), rssGrowth = 0;
  for (int run = 0; run < 3; ++run) {
    size_t base = liveBytes.load();
    peakBytes = base;
    double start = cpuSeconds();
    {
      nx::Database db;
      nx::loadMetadata(nx::kInvalidStructure, db, dbPath);
      for (auto& [name, selected] : db.modules) selected = true;
      nx::loadFileLists(db, dbPath);
      best = std::min(best, cpuSeconds() - start);
      entries = db.files.size();
      if (run == 0) {
        peak = peakBytes - base;
        table = tableBytes(db);
        rssGrowth = maxRssKiB() - rssBefore;
      }
    }
  }
  double ours = kTotalEntries / best;

  // Python's standard library on the same archive, into a dict keyed by path;
  // the interpreter's start is timed apart and taken off.
  std::string archive = nx::toUtf8(dbPath);
  std::string script = "import zipfile,json\nz=zipfile.ZipFile('" + archive +
                       "')\nt={}\n"
                       "for n in z.namelist():\n"
                       "  if n.startswith('modules/'):\n"
                       "    for p,h,s in json.loads(z.read(n)): t[p]=(h,s,n)\n";
  fs::path scriptPath = dir / "load.py";
  std::FILE* f = std::fopen(scriptPath.c_str(), "w");
  std::fputs(script.c_str(), f);
  std::fclose(f);
  auto timeCommand = [](const std::string& command) {
    double fastest = 1e9;
    for (int i = 0; i < 3; ++i) {
      double start = cpuSeconds(true);
      if (std::system(command.c_str()) != 0) return -1.0;
      fastest = std::min(fastest, cpuSeconds(true) - start);
    }
    return fastest;
  };
  double python = timeCommand("python3 '" + scriptPath.string() + "'") - timeCommand("python3 -c pass");
  fs::remove_all(dir);

  std::fprintf(stderr,
               "bench_file_lists: %d entries listed, %zu in the table; load %.1f ms CPU; heap peak %.1f MiB, "
               "table %.1f MiB; max RSS growth %.1f MiB\n",
               kTotalEntries, entries, best * 1e3, peak / 1048576.0, table / 1048576.0, rssGrowth / 1024.0);
  if (python > 0)
    std::printf("| file lists load, 200k entries | %.0f entries/s | %.0f entries/s (python3 zipfile+json) | %.2f |\n",
                ours, kTotalEntries / python, ours / (kTotalEntries / python));
  else
    std::printf("| file lists load, 200k entries | %.0f entries/s | - (python3 unavailable) | - |\n", ours);
  // Lower is better here, as with times: the ratio is table / peak.
  std::printf("| file lists load, heap peak | %.1f MiB | %.1f MiB (file table size) | %.2f |\n", peak / 1048576.0,
              table / 1048576.0, static_cast<double>(table) / static_cast<double>(peak));
  return 0;
}
