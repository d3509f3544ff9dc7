#pragma once
// Real installations for the cache and maintenance tests: the sample product
// of examples/ published with the real publish program and installed with
// its image command.
#include <filesystem>
#include <string>

#include "base/text.h"
#include "support/platform.h"
#include "support/program_run.h"
#include "support/update_fixture.h"

namespace nx::test {

// Publishes sample version v (1 or 2) into repo; the applier files are
// stand-in programs (another one may stand in for the updater). Returns
// publish's exit status.
inline int publishSample(int v, const std::wstring& repo, const std::string& updater = standInProgram(true)) {
  return publishRelease(v, toUtf8(repo), fileUrl(repo), standInProgram(true), updater, standInProgram(true)).status;
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

}  // namespace nx::test
