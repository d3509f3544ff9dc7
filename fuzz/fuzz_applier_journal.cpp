// The applier's journal reader on arbitrary bytes: a journal lies in the
// user's write folder and is read by a program that may run with more
// rights. Only the documented failure (ApplierError) may come out.
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "applier/applier_error.h"
#include "applier/journal.h"
#include "base/text.h"
#include "db/object_id.h"
#include "unique_folder.h"

namespace {

// A private folder for the process, removed again when it ends.
struct Folder {
  Folder() {
    path = (std::filesystem::temp_directory_path() / "nx_fuzz_journal_XXXXXX").string();
    if (!nx::fuzz::makeUniqueFolder(path)) abort();
  }
  ~Folder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::string path;
};

const std::string& folder() {
  static const Folder folder;
  return folder.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = folder() + "/applier.journal";
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data), size);
  try {
    std::optional<nx::applier::Journal> journal = nx::applier::readJournal(nx::fromUtf8(path), nx::fromUtf8(path));
    if (journal) {
      for (const auto& op : journal->ops)
        if (!nx::isSafeRelativePath(op.path)) abort();  // the reader checks every path
    }
  } catch (const nx::applier::ApplierError&) {
  }
  return 0;
}
