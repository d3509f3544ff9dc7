// The hand-over file reader on arbitrary file contents (plain or gzip). Its
// documented failures are std::runtime_error: the I/O errors (IOError,
// OpenFileError, GzipError), JSON errors and the structural error text.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "base/mini_log.h"
#include "db/settings.h"
#include "net/autoupdater.h"
#include "unique_folder.h"

namespace {

class QuietLog : public nx::MiniLog {
 public:
  double elapsedSeconds() override { return 0; }
  void writeLine(const std::string&) override {}
};

// One private folder and one updater per process.
struct Context {
  Context() {
    std::string name = (std::filesystem::temp_directory_path() / "fuzz_hand_over_XXXXXX").string();
    if (!nx::fuzz::makeUniqueFolder(name)) abort();
    folder = name;
    file = folder / "_update_info";
  }
  ~Context() {
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
  }
  std::filesystem::path folder, file;
  QuietLog log;
  nx::UpdaterSettings settings{L"", log};
  nx::Autoupdater updater{log, settings};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Context context;
  {
    std::ofstream out(context.file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  try {
    context.updater.readHandOverFile(context.file.wstring());
  } catch (const std::runtime_error&) {
  }
  return 0;
}
