#pragma once
// A whole update setting for tests that run the real programs: a release
// repository made by `publish` from the sample product in examples/, an
// installation made by `publish image`, and private write and temp folders
// (XDG_DATA_HOME, XDG_CACHE_HOME and HOME point into the test's folder), so
// `autoupdate` runs exactly as a user's would, without touching the real home.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/program_run.h"
#include "support/temp_folder.h"

namespace nx::test {

// Another updater, as far as a lock file is concerned: a real process
// (tests/programs/hold_lock) that holds the lock until the object goes.
class LockHolder {
 public:
  explicit LockHolder(const std::string& lockFile) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]), close(out[1]);
      const std::string program = std::string(NX_BUILD_DIR) + "/hold_lock";
      execl(program.c_str(), program.c_str(), lockFile.c_str(), "600", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    char buffer[16] = "";
    ssize_t n = read(out[0], buffer, sizeof buffer - 1);
    close(out[0]);
    held_ = n > 0 && std::string(buffer, static_cast<size_t>(n)).rfind("locked", 0) == 0;
  }
  ~LockHolder() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;
  bool held() const { return held_; }

 private:
  pid_t pid_ = -1;
  bool held_ = false;
};

class UpdateFixture : public ::testing::Test {
 protected:
  static std::string build(const std::string& name) { return std::string(NX_BUILD_DIR) + "/" + name; }
  static std::string examples() { return std::string(NX_SOURCE_DIR) + "/examples"; }

  std::string path(const std::string& rel) const { return root() + "/" + rel; }
  std::string root() const { return std::filesystem::path(dir.path()).string(); }
  std::string repo() const { return path("repo"); }
  std::string install() const { return path("install"); }
  std::string writeFolder(const std::string& name = "VELTRA") const { return path("data/" + name); }
  std::string stagingFolder(const std::string& name = "VELTRA") const { return path("cache/" + name + "/update"); }

  // The applier files a release names: the real programs of this build.
  static std::string applierProgram() {
    return std::filesystem::exists(build("applier")) ? build("applier") : "/bin/true";
  }

  // Publishes sample version v (1 or 2) into repo(), served as baseUrl
  // (default: the repository as a file:// URL), with this build's programs
  // as its applier files (another updater program when given).
  void publish(int v, const std::string& baseUrl = "", const std::string& updater = "") {
    const std::string n = std::to_string(v);
    // Compressing the programs of this build is most of a publish; objects
    // are named by their content, so every test may start from the objects
    // that earlier ones made (publish never rewrites an object it finds).
    // They are hard links: a test must never change an object in place.
    const std::string shared = build("e2e-objects");
    std::filesystem::create_directories(repo() + "/objects");
    std::filesystem::create_directories(shared);
    runProgram("/bin/cp", {"-alnT", shared, repo() + "/objects"});
    ProgramResult r = runProgram(build("publish"), {"release", examples() + "/release-v" + n + ".json",
                                                     examples() + "/product-v" + n, repo(), "--base-url",
                                                     baseUrl.empty() ? "file://" + repo() : baseUrl, "--add",
                                                     "bin/applier=" + applierProgram(), "--add",
                                                     "bin/autoupdate=" + (updater.empty() ? build("autoupdate") : updater)});
    ASSERT_EQ(r.status, 0) << r.err;
    runProgram("/bin/cp", {"-alnT", repo() + "/objects", shared});
  }
  // An installation of a published version.
  void image(const std::string& version, const std::vector<std::string>& options = {}) {
    std::vector<std::string> args{"image", repo(), version, install()};
    args.insert(args.end(), options.begin(), options.end());
    ProgramResult r = runProgram(build("publish"), args);
    ASSERT_EQ(r.status, 0) << r.err;
  }

  Environment environment() const {
    Environment env{{"XDG_DATA_HOME", path("data")}, {"XDG_CACHE_HOME", path("cache")}, {"HOME", root()},
                    {"AUTOUPDATE_UI", "plain"}};
    env.insert(env.end(), extraEnvironment.begin(), extraEnvironment.end());
    return env;
  }
  // Runs the installation's own updater (or another program) with arguments.
  ProgramResult autoupdate(const std::vector<std::string>& arguments, const Environment& more = {}) {
    Environment env = environment();
    env.insert(env.end(), more.begin(), more.end());
    return runProgram(install() + "/bin/autoupdate", arguments, env, 120);
  }

  std::string read(const std::string& file) const {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void write(const std::string& file, const std::string& bytes) const {
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
  }
  std::string log(const std::string& name = "VELTRA") const { return read(writeFolder(name) + "/Logs/autoupdate.log"); }

  Environment extraEnvironment;
  TempFolder dir;
};

}  // namespace nx::test
