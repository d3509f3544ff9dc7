// Zip archives (the update database, the file cache): every member the
// central directory names is read to its end through UnzipReader.
#include <minizip/unzip.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz_util.h"
#include "io/io_error.h"
#include "io/zip_archive.h"

namespace {

// Member names as the central directory lists them (at most 64).
std::vector<std::string> memberNames(const std::wstring& path) {
  std::vector<std::string> names;
  unzFile z = unzOpen64(std::filesystem::path(path).string().c_str());
  if (!z) return names;
  for (int status = unzGoToFirstFile(z); status == UNZ_OK && names.size() < 64; status = unzGoToNextFile(z)) {
    char name[512];
    unz_file_info64 info;
    if (unzGetCurrentFileInfo64(z, &info, name, sizeof name, nullptr, 0, nullptr, 0) == UNZ_OK) names.push_back(name);
  }
  unzClose(z);
  return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring path = nx::fuzz::scratch().write("input.zip", data, size);
  std::vector<std::string> names = memberNames(path);
  names.push_back("metadata.json");
  try {
    nx::UnzipFile archive(path);
    for (const std::string& name : names) {
      try {
        nx::UnzipReader reader(archive, name);
        reader.size();
        char buffer[65536];
        // A member may inflate a thousandfold: stop well before that costs time.
        uint64_t total = 0;
        for (size_t got = sizeof buffer; got == sizeof buffer && total < (64u << 20); total += got)
          got = reader.read(buffer, sizeof buffer);
      } catch (const nx::IOError&) {
      }
    }
  } catch (const nx::IOError&) {
  }
  return 0;
}
