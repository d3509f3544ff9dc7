// The file cache reader, applied to a small database of version "1.0" as
// loadFileCache does. Input that starts like a zip ("PK") is the cache file
// itself; any other input is the text of cacheinfo.json and, after the first
// NUL byte, of filecache.json, archived here so that the row grammar is
// reached past the archive's checksums. Its one documented failure is
// IOError.
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "db/database.h"
#include "io/io_error.h"
#include "io/zip_archive.h"
#include "net/file_cache.h"
#include "unique_folder.h"

namespace {

// A private folder for the one input file, removed when the process ends.
// The path is never destroyed: the exit handler runs after the static
// objects made before it are gone.
const std::filesystem::path& folder() {
  static const std::filesystem::path* path = [] {
    std::string name = (std::filesystem::temp_directory_path() / "fuzz_file_cache_XXXXXX").string();
    if (!nx::fuzz::makeUniqueFolder(name)) std::abort();
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(folder(), ec);
    });
    return new std::filesystem::path(name);
  }();
  return *path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::filesystem::path file = folder() / "autoupdate.cache";
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  if (bytes.starts_with("PK")) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
  } else {
    const size_t split = bytes.find('\0');
    const std::string info = bytes.substr(0, split);
    nx::ZipFile zip(file.wstring());
    nx::ZipWriter(zip, "cacheinfo.json").write(info.data(), info.size());
    if (split != std::string::npos)
      nx::ZipWriter(zip, "filecache.json").write(bytes.data() + split + 1, bytes.size() - split - 1);
    zip.close();
  }
  nx::Database db;
  db.version = "1.0";
  for (const char* path : {"veltra.sh", "data/items.txt", "data/levels.txt", "maps/island.txt"})
    db.files[path] = nx::FileRecord{path, std::string(64, 'a'), 10, "veltra", "", 0, 0};
  try {
    nx::readFileCache(file.wstring(), db);
  } catch (const nx::IOError&) {
  }
  return 0;
}
