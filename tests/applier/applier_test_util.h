#pragma once
// Shared pieces of the applier tests: real releases made by the real
// publish program, installations made by `publish image`, the applier run
// as a real process.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/io_test_util.h"
#include "support/temp_folder.h"
#include "support/update_fixture.h"

namespace nx::test {

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
    std::vector<std::string> options = {"--lang", "de"};
    for (const auto& m : modules) options.insert(options.end(), {"--module", m});
    ProgramResult run = imageRelease(repo, version, target, options);
    ASSERT_EQ(run.status, 0) << run.err;
  }

 private:
  Releases() {
    // The applier files change between the versions, so their execute bits
    // are carried through a replacement.
    for (int v : {1, 2}) {
      const std::string applier = toUtf8(folder_.path()) + "/applier-v" + std::to_string(v);
      writeAll(applier, "#!/bin/sh\necho applier " + std::to_string(v) + "\n");
      ProgramResult run = publishRelease(v, repo, fileUrl(repo), applier, applier, applier);
      EXPECT_EQ(run.status, 0) << run.err;
    }
    const std::string reply = readAll(repo + "/update/stable"), key = "\"database_id\": \"";
    const size_t first = reply.find(key) + key.size(), second = reply.find(key, first) + key.size();
    v1Id = reply.substr(first, 64);
    v2Id = reply.substr(second, 64);
  }
};

// An installation, its write folder, and the applier run on them.
class ApplierTest : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return toUtf8(dir.path()) + "/" + name; }
  void SetUp() override { fs::create_directories(write); }
  // A fresh installation of the version, and an empty write folder.
  void fresh(const std::string& version, const std::vector<std::string>& modules = {"maps"}) {
    fs::remove_all(base), fs::remove_all(write), fs::create_directories(write);
    rel.image(version, base, modules);
  }
  // The applier with these words after the two folders; a hook is what
  // NX_APPLIER_TEST_HOOK says.
  ProgramResult run(std::vector<std::string> words, const std::string& hook = "", Environment env = {}) {
    words.insert(words.begin(), {base, write});
    if (!hook.empty()) env.push_back({"NX_APPLIER_TEST_HOOK", hook});
    return runProgram(NX_BUILD_DIR "/applier", words, env);
  }
  ProgramResult apply(const std::string& id, std::vector<std::string> more = {}, const std::string& hook = "",
                      const Environment& env = {}) {
    more.insert(more.begin(), {staging, id});
    return run(more, hook, env);
  }
  ProgramResult uninstall(std::vector<std::string> modules, const std::string& hook = "") {
    modules.insert(modules.begin(), {path("temp"), "uninstall"});
    return run(modules, hook);
  }
  // What `publish image` makes of the version: the exact installation.
  Snapshot expected(const std::string& version, const std::vector<std::string>& modules = {"maps"}) {
    const std::string target = path("expected-" + version + (modules.empty() ? "" : "-" + modules[0]));
    if (!fs::exists(target)) rel.image(version, target, modules);
    return snapshot(target);
  }
  std::string object(const std::string& id) const { return staging + "/" + id.substr(0, 2) + "/" + id; }
  bool journalLeft() const { return fs::exists(base + "/applier.journal"); }
  std::string log(const char* name = "autoupdate.log") const { return readAll(write + "/Logs/" + name); }

  Releases& rel = Releases::get();
  TempFolder dir;
  std::string base = path("base"), write = path("write"), staging = rel.objects;
};

}  // namespace nx::test
