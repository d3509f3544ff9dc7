#pragma once
// Shared pieces of the benchmark programs: a scratch folder that is removed
// afterwards, wall-clock timing, running a standard tool through the shell,
// gzip data for object stores, and the common table row (see bench/run for
// the format).
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

namespace nx::bench {

class ScratchFolder {
 public:
  ScratchFolder() {
    path_ = std::filesystem::temp_directory_path() / ("nx_bench_" + std::to_string(::getpid()));
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// The gzip form of `data` at `level`, as the publisher stores objects.
inline std::string gzip(const std::string& data, int level = Z_DEFAULT_COMPRESSION) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// Seconds taken by the fastest of `runs` calls.
inline double bestSeconds(int runs, const std::function<void()>& work) {
  double best = 1e300;
  for (int i = 0; i < runs; ++i) {
    auto start = std::chrono::steady_clock::now();
    work();
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (took.count() < best) best = took.count();
  }
  return best;
}

// Runs a shell command; returns its standard output.
inline std::string shell(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

inline std::string quote(const std::string& path) { return "'" + path + "'"; }

// One table row for throughputs: ours and the reference in MB/s (10^6 bytes
// a second) and their ratio, above 1 when ours is faster.
inline void printThroughputRow(const std::string& name, uint64_t bytes, double ourSeconds, double referenceSeconds,
                               const std::string& referenceName) {
  double ours = bytes / 1e6 / ourSeconds, reference = bytes / 1e6 / referenceSeconds;
  std::printf("| %s | %.0f MB/s | %.0f MB/s (%s) | %.2f |\n", name.c_str(), ours, reference, referenceName.c_str(),
              ours / reference);
  std::fflush(stdout);
}

}  // namespace nx::bench
