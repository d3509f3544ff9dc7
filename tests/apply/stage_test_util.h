#pragma once
// Helpers for the hand-over tests: programs that record how they were started,
// small update databases, gzip objects, private staging folders.
#include <sys/stat.h>
#include <zlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/text.h"
#include "io/sha256_writer.h"
#include "io/zip_archive.h"

namespace nx::test {

namespace fs = std::filesystem;

inline std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

inline void putFile(const std::string& path, const std::string& bytes, fs::perms mode = fs::perms(0644)) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  fs::permissions(path, mode);
}

// A program that writes its arguments, one a line, to record (complete once
// it appears) and exits with code.
inline void recorder(const std::string& path, const std::string& record, int code = 0) {
  putFile(path,
          "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + record + ".part'\nmv '" + record + ".part' '" + record +
              "'\nexit " + std::to_string(code) + "\n",
          fs::perms(0755));
}

// Whether a file that another process writes appears within ten seconds.
inline bool appears(const std::string& path) {
  for (int i = 0; i < 2000 && !fs::exists(path); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return fs::exists(path);
}

// Contents of a file that another process writes; empty after ten seconds.
inline std::string waitForFile(const std::string& path) {
  appears(path);
  return fileBytes(path);
}

inline std::string lines(const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& w : words) out += w + "\n";
  return out;
}

inline std::string sha256Of(const std::string& bytes) {
  Sha256Writer sha;
  sha.write(bytes.data(), bytes.size());
  std::string digest;
  return sha.finish(digest);
}

// The bytes as one gzip member, as objects are published.
inline std::string gzipped(const std::string& data) {
  z_stream s{};
  deflateInit2(&s, 9, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&s, data.size()) + 32, '\0');
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = reinterpret_cast<Bytef*>(out.data());
  s.avail_out = static_cast<uInt>(out.size());
  deflate(&s, Z_FINISH);
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

// An update database holding only metadata.json; keys map to JSON values.
inline void writeDatabase(const std::string& path, std::map<std::string, std::string> keys) {
  std::map<std::string, std::string> all = {{"format", "1"}, {"version", "\"2.0\""}, {"timestamp", "\"t2\""},
                                            {"tag", "\"stable\""}, {"main", "\"main\""}, {"setup", "[]"},
                                            {"update_url", "[\"file:///nowhere\"]"},
                                            {"modules", "[\"main\", \"maps\", \"music\"]"},
                                            {"launch", "[\"run.sh\"]"}, {"apply", "[\"bin/fake_applier\"]"}};
  for (auto& [key, value] : keys) all[key] = value;
  std::string json;
  for (const auto& [key, value] : all) json += (json.empty() ? "{" : ", ") + ("\"" + key + "\": " + value);
  json += "}";
  fs::create_directories(fs::path(path).parent_path());
  ZipFile zip(fromUtf8(path));
  ZipWriter member(zip, "metadata.json");
  member.write(json.data(), json.size());
  member.close();
  zip.close();
}

// A folder private to the user, as a staging folder must be.
inline std::string privateFolder(const std::string& path) {
  fs::create_directories(path);
  fs::permissions(path, fs::perms::owner_all);
  return path;
}

}  // namespace nx::test
