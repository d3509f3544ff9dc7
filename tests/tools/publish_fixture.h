#pragma once
// Running the real publish program on real folders, and reading what it
// wrote with the system's own tools and the updater's own readers.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "app/text.h"
#include "support/temp_folder.h"

namespace nx::test {

namespace fs = std::filesystem;

inline std::string narrow(const std::wstring& path) { return toUtf8(path); }

inline std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeAll(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline std::string quote(const std::string& word) {
  std::string out = "'";
  for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs a shell command line; stdout and stderr are captured separately.
inline ToolRun shell(const std::string& command, const std::string& errFile) {
  ToolRun run;
  FILE* pipe = popen((command + " 2>" + quote(errFile)).c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, got);
  int raw = pclose(pipe);
  run.status = raw >= 0 && (raw & 0x7f) == 0 ? (raw >> 8) & 0xff : -1;
  run.err = readAll(errFile);
  return run;
}

// Every file below root (relative path -> bytes), for before/after checks.
inline std::map<std::string, std::string> snapshot(const std::string& root) {
  std::map<std::string, std::string> files;
  if (!fs::exists(root)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    std::string rel = fs::relative(entry.path(), root).generic_string();
    files[rel] = entry.is_regular_file() ? readAll(entry.path().string()) : std::string("<folder>");
  }
  return files;
}

class PublishTest : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return narrow(dir.path()) + "/" + name; }

  // Runs publish with the words (each quoted).
  ToolRun publish(const std::vector<std::string>& words) {
    std::string command = quote(NX_BUILD_DIR "/publish");
    for (const std::string& w : words) command += " " + quote(w);
    return shell(command, path("stderr.txt"));
  }

  // The applier files the sample release names, made up for the tests.
  std::vector<std::string> addApplier() {
    writeAll(path("applier"), "#!/bin/sh\nexit 0\n");
    return {"--add", "bin/applier=" + path("applier"), "--add", "bin/autoupdate=" + path("applier")};
  }

  // Publishes a sample version into repo with fixed addresses.
  ToolRun publishSample(int version, const std::string& repo, std::vector<std::string> extra = {}) {
    std::string v = std::to_string(version);
    std::vector<std::string> words{"release", std::string(NX_SOURCE_DIR "/examples/release-v") + v + ".json",
                                   std::string(NX_SOURCE_DIR "/examples/product-v") + v, repo,
                                   "--base-url", "file://" + repo};
    for (const std::string& w : addApplier()) words.push_back(w);
    for (const std::string& w : extra) words.push_back(w);
    return publish(words);
  }

  TempFolder dir;
};

}  // namespace nx::test
