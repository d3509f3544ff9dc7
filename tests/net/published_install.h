#pragma once
// Real installations for the cache and maintenance tests: the sample product
// of examples/ published with the real publish program and installed with
// its image command.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "base/text.h"
#include "support/program_run.h"

namespace nx::test {

inline std::string shellQuote(const std::wstring& path) { return "'" + toUtf8(path) + "'"; }

// Exit status of a shell command line; -1 when it did not exit normally.
inline int runShell(const std::string& command) {
  int raw = std::system(command.c_str());
  return raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// Standard output of a shell command line.
inline std::string shellOutput(const std::string& command) { return runProgram("/bin/sh", {"-c", command}).out; }

// Publishes sample version v (1 or 2) into repo; the applier files are
// stand-in programs (another one may stand in for the updater). Returns
// publish's exit status.
inline int publishSample(int v, const std::wstring& repo, const std::string& updater = "/bin/true") {
  const std::string n = std::to_string(v);
  const std::string examples = NX_SOURCE_DIR "/examples";
  return runShell(std::string(NX_BUILD_DIR "/publish release ") + examples + "/release-v" + n + ".json " + examples +
                  "/product-v" + n + " " + shellQuote(repo) + " --base-url file://" + toUtf8(repo) +
                  " --add bin/applier=/bin/true --add bin/autoupdate=" + updater +
                  " --add bin/autoupdate-gtk.so=/bin/true 2>/dev/null");
}

// SHA-256 of a file's content after gunzip (when it starts with the gzip
// magic), by the standard tools.
inline std::string contentDigest(const std::wstring& path) {
  const std::string f = shellQuote(path);
  return shellOutput("if [ \"$(head -c2 " + f + " | od -An -tx1 | tr -d ' ')\" = 1f8b ]; then gzip -dc " + f +
                     "; else cat " + f + "; fi | sha256sum")
      .substr(0, 64);
}

// Installs a published version into target; options such as "--module maps".
inline int installImage(const std::wstring& repo, const std::string& version, const std::wstring& target,
                        const std::string& options = "") {
  return runShell(std::string(NX_BUILD_DIR "/publish image ") + shellQuote(repo) + " " + version + " " +
                  shellQuote(target) + " " + options + " >/dev/null 2>&1");
}

inline std::string fileText(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeText(const std::wstring& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(std::filesystem::path(path), std::ios::binary | std::ios::trunc) << text;
}

}  // namespace nx::test
