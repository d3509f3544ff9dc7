#include "net/installed_file.h"

#include "base/paths.h"
#include "base/text.h"
#include "db/object_id.h"
#include "io/file_reader.h"
#include "io/io_error.h"
#include "io/sha256_writer.h"
#include "net/worker_pool.h"
#include "sys/files.h"

namespace nx {

namespace {

std::atomic<unsigned> threadSetting{0};

RefreshOutcome clear(FileRecord& record) {
  record.local_hash.clear();
  record.local_size = 0;
  record.local_time = 0;
  return RefreshOutcome::Changed;
}

bool cancelled(const std::atomic<uint32_t>& flag) { return flag.load(std::memory_order_relaxed) != 0; }

// Hashes the file into the record; false when the cancel flag stopped it.
// Throws IOError when the file cannot be opened or read.
bool hashInto(FileRecord& record, const std::wstring& path, const std::atomic<uint32_t>& cancelFlag) {
  FileReader reader(path);
  // The time is taken before reading: a file written meanwhile then shows a
  // newer time next run and is hashed again, never kept with a stale digest.
  uint64_t time = 0;
  if (!sys::fileTime(reader.handle.get(), &time)) time = 0;
  Sha256Writer sha;
  uint64_t size = 0;
  char buffer[kChunkSize];
  for (;;) {
    if (cancelled(cancelFlag)) return false;
    size_t got = reader.read(buffer, kChunkSize);
    sha.write(buffer, got);
    size += got;
    if (got < kChunkSize) break;
  }
  // A cancel that came with the last block still counts, as it would have
  // stopped a longer file.
  if (cancelled(cancelFlag)) return false;
  sha.finish(record.local_hash);
  record.local_size = size;
  record.local_time = time;
  return true;
}

}  // namespace

RefreshOutcome refreshLocalFields(FileRecord& record, const std::wstring& baseFolder, RefreshMode mode,
                                  const std::atomic<uint32_t>& cancelFlag) {
  // A path of the database must name a file of the installation; one that
  // leads out of it is never read, as if the file were missing.
  const bool safe = isSafeRelativePath(record.path);
  const std::wstring path = safe ? joinPath(baseFolder, record.path) : std::wstring();
  sys::FileInfo info;
  const bool present = safe && sys::fileInfo(path, &info);

  if (mode.noHashCheck) {
    if (!mode.dontRepair && !present) return clear(record);
    record.local_hash = record.hash;
    record.local_size = 0;
    record.local_time = 0;
    return RefreshOutcome::Changed;
  }

  if (!record.local_hash.empty() && present && info.size == record.local_size && info.writeTime == record.local_time)
    return RefreshOutcome::Current;
  // Opening a FIFO would wait for a writer forever; a folder or a device
  // holds no installed content.
  if (!present || info.isFolder || info.isDevice) return clear(record);
  try {
    if (!hashInto(record, path, cancelFlag)) return RefreshOutcome::Cancelled;
  } catch (const IOError&) {
    return clear(record);
  }
  return RefreshOutcome::Changed;
}

unsigned hashThreadCount() {
  unsigned set = threadSetting.load(std::memory_order_relaxed);
  return set ? set : coreCount();
}

void setHashThreadCount(unsigned count) { threadSetting.store(count, std::memory_order_relaxed); }

}  // namespace nx
