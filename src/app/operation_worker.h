#pragma once
// The update operation that runs on the worker thread while the main thread
// shows the progress dialog: verify the installation (stage 0), download
// the chosen version (stage 1), save the file cache and hand over to the
// applier or the new updater (stage 2).
//
// The cancel flag is cleared by the caller, once, before the worker starts;
// the worker never clears it. Each stage checks it before it begins, and
// once it is set no hand-over runs.
#include <atomic>
#include <cstdint>
#include <string>

#include "net/autoupdater.h"

namespace nx {

// What the operation works on and what it leaves behind. The atomics are
// read by the dialog while the worker runs; the failure only after the join.
struct OperationBlock {
  Autoupdater& updater;
  const std::wstring& writeFolder;
  std::atomic<int32_t>& stage;  // 0, 1 or 2: where the worker is (or stopped)
  const std::wstring& stagingFolder;
  const int32_t versionIndex;  // into updater.versions
  std::atomic<bool>& success;
  std::string& failure;     // replaced by the message of the failure that ended the run
  std::atomic<bool>& done;  // set last, in every case
};

// Runs the whole operation on the calling thread. Never throws: a failure
// ends in block.failure with success false; done is always set.
void operationWorker(const OperationBlock& block);

}  // namespace nx
