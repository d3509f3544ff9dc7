#pragma once
// Shared pieces of the applier tests: real releases made by the real
// publish program, installations made by `publish image`, the applier run
// as a real process.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/io_test_util.h"
#include "support/program_run.h"
#include "support/temp_folder.h"

namespace nx::test {

inline ProgramResult publish(const std::vector<std::string>& words) {
  return runProgram(NX_BUILD_DIR "/publish", words);
}

// The sample product's v1 and v2 published once for all tests.
class Releases {
  TempFolder folder_;  // first: the members below are made from its path

 public:
  static Releases& get() {
    static Releases releases;
    return releases;
  }
  std::string repo = toUtf8(folder_.path()) + "/repo", objects = repo + "/objects", v1Id, v2Id;

  // A fresh installation of `version` made by `publish image`.
  void image(const std::string& version, const std::string& target, const std::vector<std::string>& modules = {}) {
    std::vector<std::string> words = {"image", repo, version, target, "--lang", "de"};
    for (const auto& m : modules) words.insert(words.end(), {"--module", m});
    ProgramResult run = publish(words);
    ASSERT_EQ(run.status, 0) << run.err;
  }
  std::string object(const std::string& id) const { return objects + "/" + id.substr(0, 2) + "/" + id; }

 private:
  Releases() {
    // The applier files change between the versions, so their execute bits
    // are carried through a replacement.
    for (std::string v : {"1", "2"}) {
      std::string applier = toUtf8(folder_.path()) + "/applier-v" + v;
      writeAll(applier, "#!/bin/sh\necho applier " + v + "\n");
      ProgramResult run = publish({"release", NX_SOURCE_DIR "/examples/release-v" + v + ".json",
                                   NX_SOURCE_DIR "/examples/product-v" + v, repo, "--base-url", "file://" + repo,
                                   "--add", "bin/applier=" + applier, "--add", "bin/autoupdate=" + applier, "--add",
                                   "bin/autoupdate-gtk.so=" + applier});
      EXPECT_EQ(run.status, 0) << run.err;
    }
    const std::string reply = readAll(repo + "/update/stable"), key = "\"database_id\": \"";
    const size_t first = reply.find(key) + key.size(), second = reply.find(key, first) + key.size();
    v1Id = reply.substr(first, 64);
    v2Id = reply.substr(second, 64);
  }
};

}  // namespace nx::test
