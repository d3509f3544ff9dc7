// Loads one file the way the updater does and prints what the loader said,
// so tests can run the loaders as a real process (under a memory limit, say).
//   state_loader database PATH   metadata, then every module's file lists
//   state_loader cfg PATH        autoupdate.cfg
//   state_loader settings PATH   the settings file
// Prints "ok" or the loader's error per step (settings: the log lines); exit
// code 0 when every step succeeded, 1 when a loader reported a failure.
#include <cstdio>
#include <functional>
#include <string>

#include "base/text.h"
#include "db/database.h"
#include "db/install_state.h"
#include "db/settings.h"
#include "io/io_error.h"

namespace {

class PrintLog : public nx::MiniLog {
 public:
  double elapsedSeconds() override { return 0; }
  void writeLine(const std::string& line) override {
    std::fputs(line.c_str(), stdout);
    ++lines;
  }
  int lines = 0;
};

// Runs one loader; prints "NAME: ok" or "NAME: <its error>".
bool step(const char* name, const std::function<void()>& run) {
  try {
    run();
    std::printf("%s: ok\n", name);
    return true;
  } catch (const nx::IOError& e) {
    std::printf("%s: %s\n", name, e.what());
    return false;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: state_loader database|cfg|settings PATH\n", stderr);
    return 2;
  }
  const std::string kind = argv[1];
  const std::wstring path = nx::fromUtf8(argv[2]);
  nx::Database db;
  if (kind == "database") {
    bool ok = step("metadata", [&] { loadMetadata(nx::kInvalidStructure, db, path); });
    // The lists are read even after a failed metadata load: both readers
    // face the archive's claims.
    db.modules["main"] = true;
    for (auto& [name, selected] : db.modules) selected = true;
    return step("file lists", [&] { loadFileLists(db, path); }) && ok ? 0 : 1;
  }
  if (kind == "cfg") return step("cfg", [&] { loadInstallState(nx::kInvalidStructure, db, path); }) ? 0 : 1;
  if (kind == "settings") {
    PrintLog log;
    nx::UpdaterSettings settings(path, log);
    loadSettings(settings);
    return log.lines == 0 ? 0 : 1;
  }
  std::fputs("state_loader: unknown kind\n", stderr);
  return 2;
}
