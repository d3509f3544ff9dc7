// The per-user settings file, plain or gzip. Loading never throws.
#include <cstdint>

#include "db/settings.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  nx::fuzz::NullLog log;
  nx::UpdaterSettings settings(nx::fuzz::scratch().write("autoupdate.settings", data, size), log);
  nx::loadSettings(settings);
  return 0;
}
