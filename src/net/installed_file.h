#pragma once
// Keeping a file record's local fields (the digest, size and last-write time
// its installed file had when it was last hashed) in step with the file, so
// an unchanged file costs one attribute query and a changed one is hashed.
#include <atomic>
#include <cstdint>
#include <string>

#include "db/database.h"

namespace nx {

struct RefreshMode {
  // Trust every present file to hold its listed content, unread.
  bool noHashCheck = false;
  // With noHashCheck: trust missing files too.
  bool dontRepair = false;
};

enum class RefreshOutcome {
  Current,    // the fields already matched the file
  Changed,    // the fields were written: the file cache must be saved
  Cancelled,  // the cancel flag stopped the hashing; the record is as it was
};

// Brings record's local fields up to date with baseFolder + record.path.
// Normal mode: a record with a digest whose file still has the recorded size
// and last-write time is Current; any other file is hashed in 64 KiB blocks
// (the cancel flag asked before each) and gets its digest, size and the time
// taken before reading. A file that is missing or unreadable gets empty
// fields, and so does anything that is not a regular file (a folder, a FIFO
// or a device is never opened) and a path that would leave the base folder.
// Without hash checks a present file (any file with dontRepair) gets the
// listed hash with size and time 0, a missing one empty fields.
// Touches nothing but the record: different records may be refreshed on
// different threads at once.
RefreshOutcome refreshLocalFields(FileRecord& record, const std::wstring& baseFolder, RefreshMode mode,
                                  const std::atomic<uint32_t>& cancelFlag);

// Threads that refresh installed files at once: one per core unless set.
unsigned hashThreadCount();
// 0 goes back to one per core. For comparisons in tests and benchmarks.
void setHashThreadCount(unsigned count);

}  // namespace nx
