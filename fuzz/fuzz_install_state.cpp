// autoupdate.cfg, plain or gzip, and Config/lang.cfg beside it (the same
// bytes), as the installation's state is loaded over a database.
#include <cstdint>

#include "db/install_state.h"
#include "fuzz_util.h"
#include "io/io_error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const nx::fuzz::ScratchFolder& folder = nx::fuzz::scratch();
  const std::wstring cfg = folder.write("autoupdate.cfg", data, size);
  folder.write("Config/lang.cfg", data, size);
  nx::Database db;
  db.main = "main";
  db.modules = {{"main", true}, {"maps", false}};
  try {
    nx::loadInstallState(nx::kInvalidStructure, db, cfg);
  } catch (const nx::IOError&) {
  }
  nx::readLanguageFile(db, folder.path() + L"/Config/lang.cfg");
  nx::fuzz::require(db.lang.size() <= 64, "a language of at most 64 letters");
  for (char c : db.lang) nx::fuzz::require(c >= 'a' && c <= 'z', "a language of lower-case letters");
  return 0;
}
