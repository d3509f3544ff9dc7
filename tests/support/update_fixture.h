#pragma once
// A whole update setting for tests that run the real programs: a release
// repository made by `publish` from the sample product in examples/, an
// installation made by `publish image`, and private write and temp folders
// (XDG_DATA_HOME, XDG_CACHE_HOME and HOME point into the test's folder), so
// `autoupdate` runs exactly as a user's would, without touching the real home.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "support/lock_holder.h"
#include "support/platform.h"
#include "support/program_run.h"
#include "support/temp_folder.h"
#include "sys/files.h"

namespace nx::test {

inline std::string fileText(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
// Creates the folders the file needs; replaces what was there.
inline void writeText(const std::filesystem::path& file, const std::string& bytes) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

// Publishes sample version v (1 or 2) of examples/ into repo with the real
// publish program, served as baseUrl, with these programs as the release's
// applier, updater and window module, and more options.
inline ProgramResult publishRelease(int v, const std::string& repo, const std::string& baseUrl,
                                    const std::string& applier, const std::string& updater, const std::string& gtk,
                                    const std::vector<std::string>& more = {}) {
  const std::string n = std::to_string(v), examples = NX_SOURCE_DIR "/examples";
  std::vector<std::string> words{"release",
                                 examples + "/release-v" + n + ".json",
                                 examples + "/product-v" + n,
                                 repo,
                                 "--base-url",
                                 baseUrl,
                                 "--add",
                                 "bin/applier=" + applier,
                                 "--add",
                                 "bin/autoupdate=" + updater,
                                 "--add",
                                 "bin/autoupdate-gtk.so=" + gtk};
  words.insert(words.end(), more.begin(), more.end());
  return runProgram(NX_BUILD_DIR "/publish", words);
}

// The same for the platform's own release of the sample: on Windows its
// Windows flavour (programs named .exe, a launcher program, no window module).
inline ProgramResult publishPlatformRelease(int v, const std::string& repo, const std::string& baseUrl,
                                            const std::string& applier, const std::string& updater,
                                            const std::string& gtk) {
  if (!onWindows) return publishRelease(v, repo, baseUrl, applier, updater, gtk);
  const std::string n = std::to_string(v), examples = NX_SOURCE_DIR "/examples";
  return runProgram(NX_BUILD_DIR "/publish",
                    {"release", examples + "/windows/release-v" + n + ".json", examples + "/product-v" + n, repo,
                     "--base-url", baseUrl, "--add", "bin/applier.exe=" + applier, "--add",
                     "bin/autoupdate.exe=" + updater, "--add", "veltra.exe=" NX_BUILD_DIR "/veltra-v" + n + ".exe"});
}

// Hard-links every file of from that to lacks (both folders are made).
inline void linkMissing(const std::filesystem::path& from, const std::filesystem::path& to) {
  std::filesystem::create_directories(from);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(from)) {
    const std::filesystem::path target = to / std::filesystem::relative(entry.path(), from);
    std::error_code alreadyThere;  // a file to has is kept
    if (entry.is_directory())
      std::filesystem::create_directories(target);
    else
      std::filesystem::create_hard_link(entry.path(), target, alreadyThere);
  }
  std::filesystem::create_directories(to);
}

// Installs a published version into target; options such as "--module", "maps".
inline ProgramResult imageRelease(const std::string& repo, const std::string& version, const std::string& target,
                                  const std::vector<std::string>& options = {}) {
  std::vector<std::string> args{"image", repo, version, target};
  args.insert(args.end(), options.begin(), options.end());
  return runProgram(NX_BUILD_DIR "/publish", args);
}

// Publishes sample version v (1 or 2) into repo; the applier files are
// stand-in programs (another one may stand in for the updater). Returns
// publish's exit status.
inline int publishSample(int v, const std::wstring& repo, const std::string& updater = standInProgram(true)) {
  return publishPlatformRelease(v, toUtf8(repo), fileUrl(repo), standInProgram(true), updater, standInProgram(true))
      .status;
}

// SHA-256 of a file's content after gunzip (when it starts with the gzip
// magic), by the standard tools as independent judges (POSIX only: tests that
// need them skip themselves on Windows).
inline std::string contentDigest(const std::wstring& path) {
  const std::string f = "'" + toUtf8(path) + "'";
  return runProgram("/bin/sh",
                    {"-c", "if [ \"$(head -c2 " + f + " | od -An -tx1 | tr -d ' ')\" = 1f8b ]; then gzip -dc " + f +
                               "; else cat " + f + "; fi | sha256sum"})
      .out.substr(0, 64);
}

// A whole update setting for tests that run the real programs (the comment
// at the top of this file).
class UpdateFixture : public ::testing::Test {
 protected:
  UpdateFixture() { clearWindowsWriteFolder(); }
  ~UpdateFixture() override { clearWindowsWriteFolder(); }
  void clearWindowsWriteFolder() const {
    if (onWindows) std::filesystem::remove_all(writeFolder());
  }
  // A file of the build; a program by its name without ".exe" on Windows too.
  static std::string build(const std::string& name) {
    const std::string file = std::string(NX_BUILD_DIR) + "/" + name;
    return std::filesystem::exists(file + exeSuffix) ? file + exeSuffix : file;
  }
  static std::string examples() { return std::string(NX_SOURCE_DIR) + "/examples"; }
  // The product's launch entry: a script, or on Windows a launcher program.
  static std::string launcher() { return onWindows ? "veltra.exe" : "veltra.sh"; }
  // What the product printed when the run started it. On Windows it has a
  // console of its own: its launcher notes its first line in a file instead.
  // (It starts on its own there: give it five seconds.)
  std::string started(const ProgramResult& r) const {
    if (!onWindows) return r.out;
    for (int i = 0; i < 500 && !std::filesystem::exists(path("started.txt")); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // its one line written
    const std::string text = fileText(path("started.txt"));
    std::filesystem::remove(path("started.txt"));
    return text;
  }
  // A path as the updater shows it: with Windows' own separators there.
  static std::string shown(std::string path) {
    if (onWindows) std::replace(path.begin(), path.end(), '/', '\\');
    return path;
  }

  std::string root() const { return std::filesystem::path(dir.path()).string(); }
  std::string path(const std::string& rel) const { return root() + "/" + rel; }
  // A URL cannot hold this name as it stands. (On Windows the loopback test
  // server opens files by their ANSI names: no accent there.)
  std::string repo() const { return path(onWindows ? "repo 1" : "r\xC3\xA9po 1"); }
  std::string install() const { return path("install"); }
  // On Windows the user's own: a process has no home of its own there, so
  // these tests run one at a time and clear it before and after.
  std::string writeFolder(const std::string& name = "VELTRA") const {
    return onWindows ? toUtf8(sys::userDataFolder()) + "/" + name : path("data/" + name);
  }
  std::string stagingFolder() const { return path("cache/VELTRA/update"); }

  // Publishes sample version v (1 or 2) into repo(), served as baseUrl
  // (default: the repository as a file:// URL), with this build's applier
  // and updater (another updater program when given) as its applier files.
  void publish(int v, const std::string& baseUrl = "", const std::string& updater = "") {
    // Compressing the programs of this build is most of a publish; objects
    // are named by their content, so every test may start from the objects
    // that earlier ones made (publish never rewrites an object it finds).
    // They are hard links: a test must never change an object in place.
    const std::string shared = build("e2e-objects");
    linkMissing(shared, repo() + "/objects");
    ProgramResult r = publishPlatformRelease(v, repo(), baseUrl.empty() ? fileUrl(repo()) : baseUrl, build("applier"),
                                             updater.empty() ? build("autoupdate") : updater, gtkModule());
    ASSERT_EQ(r.status, 0) << r.err;
    linkMissing(repo() + "/objects", shared);
  }
  // The window module of this build; where GTK was not found, an empty file
  // stands in (the updater then falls back to plain lines).
  std::string gtkModule() const {
    if (std::filesystem::exists(build("autoupdate-gtk.so"))) return build("autoupdate-gtk.so");
    std::ofstream(path("autoupdate-gtk.so"), std::ios::app).flush();
    return path("autoupdate-gtk.so");
  }
  // An installation of a published version.
  void image(const std::string& version, const std::vector<std::string>& options = {}) {
    ProgramResult r = imageRelease(repo(), version, install(), options);
    ASSERT_EQ(r.status, 0) << r.err;
  }

  // A user's environment, with its home inside the test's folder (on
  // Windows the temp folder).
  Environment environment(const Environment& more = {}) const {
    Environment env{{"XDG_DATA_HOME", path("data")}, {"XDG_CACHE_HOME", path("cache")},       {"HOME", root()},
                    {"TEMP", path("cache")},         {"VELTRA_STARTED", path("started.txt")}, {"TMP", path("cache")},
                    {"AUTOUPDATE_UI", "plain"}};
    env.insert(env.end(), more.begin(), more.end());
    return env;
  }
  // Runs the installation's own updater with arguments.
  ProgramResult autoupdate(const std::vector<std::string>& arguments, const Environment& more = {}) {
    return runProgram(install() + "/bin/autoupdate" + exeSuffix, arguments, environment(more), 120);
  }

  std::string log(const std::string& name = "VELTRA") const {
    return fileText(writeFolder(name) + "/Logs/autoupdate.log");
  }
  static size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }

  TempFolder dir;
};

}  // namespace nx::test
