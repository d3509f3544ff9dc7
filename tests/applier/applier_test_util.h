#pragma once
// Shared pieces of the applier tests: real releases made by the real
// publish program, installations made by `publish image`, the applier run
// as a real process, and installations compared file by file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/text.h"
#include "io/file_reader.h"
#include "io/sha256_writer.h"
#include "support/temp_folder.h"

namespace nx::test {

namespace fs = std::filesystem;

inline std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

inline void writeAll(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string sha256(const std::string& bytes) {
  Sha256Writer sha;
  sha.write(bytes.data(), bytes.size());
  std::string digest;
  return sha.finish(digest);
}

struct Outcome {
  int code = -1;
  std::string err;
};

// Runs a program and waits for it; env entries "NAME=value" are added to
// the environment; stderr is captured.
inline Outcome runProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env = {}) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return {};
  pid_t pid = ::fork();
  if (pid == 0) {
    for (const auto& entry : env) ::putenv(const_cast<char*>(entry.c_str()));
    ::dup2(pipeFds[1], 2);
    int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::close(pipeFds[0]);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  Outcome run;
  char buffer[4096];
  for (ssize_t got; (got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) run.err.append(buffer, size_t(got));
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

inline Outcome publish(std::vector<std::string> words) {
  words.insert(words.begin(), NX_BUILD_DIR "/publish");
  return runProgram(words);
}

// Every entry below root: files as their bytes with "[x]" in front when the
// owner may execute them, folders as "<folder>", links as "<link>".
using Snapshot = std::map<std::string, std::string>;
inline Snapshot snapshot(const std::string& root) {
  Snapshot out;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    std::string rel = fs::relative(it->path(), root).generic_string();
    if (it->is_symlink()) out[rel] = "<link>";
    else if (it->is_directory()) out[rel] = "<folder>";
    else {
      bool exec = (fs::status(it->path()).permissions() & fs::perms::owner_exec) != fs::perms::none;
      out[rel] = (exec ? "[x]" : "") + readAll(it->path().string());
    }
  }
  return out;
}

// A release repository of the sample product (v1 and v2) and of a small
// generated product, published once for all tests.
class Releases {
 public:
  static Releases& get() {
    static Releases releases;
    return releases;
  }
  std::string repo, objects, v1Id, v2Id;

  // A fresh installation of `version` made by `publish image`.
  void image(const std::string& version, const std::string& target, const std::vector<std::string>& modules = {}) {
    std::vector<std::string> words = {"image", repo, version, target, "--lang", "de"};
    for (const auto& m : modules) words.insert(words.end(), {"--module", m});
    Outcome run = publish(words);
    ASSERT_EQ(run.code, 0) << run.err;
  }
  std::string object(const std::string& id) const { return objects + "/" + id.substr(0, 2) + "/" + id; }

 private:
  Releases() {
    repo = toUtf8(folder_.path()) + "/repo";
    objects = repo + "/objects";
    // The applier files change between the versions, so their execute bits
    // are carried through a replacement.
    for (std::string v : {"1", "2"}) {
      std::string applier = toUtf8(folder_.path()) + "/applier-v" + v;
      writeAll(applier, "#!/bin/sh\necho applier " + v + "\n");
      Outcome run = publish({"release", NX_SOURCE_DIR "/examples/release-v" + v + ".json",
                         NX_SOURCE_DIR "/examples/product-v" + v, repo, "--base-url", "file://" + repo,
                         "--add", "bin/applier=" + applier, "--add", "bin/autoupdate=" + applier});
      EXPECT_EQ(run.code, 0) << run.err;
    }
    std::string reply = readAll(repo + "/update/stable");
    size_t first = reply.find("\"database_id\": \"");
    size_t second = reply.find("\"database_id\": \"", first + 1);
    v1Id = reply.substr(first + 16, 64);
    v2Id = reply.substr(second + 16, 64);
  }
  TempFolder folder_;
};

}  // namespace nx::test
