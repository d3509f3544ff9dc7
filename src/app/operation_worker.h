#pragma once
// The update operation that runs on the worker thread while the main thread
// shows the progress dialog: verify the installation, download the chosen
// version, save the file cache and hand over to the applier or the new
// updater.
//
// The cancel flag is cleared by the caller, once, before the worker starts;
// the worker never clears it. Each stage checks it before it begins, and
// once it is set no hand-over runs.
#include <atomic>
#include <cstdint>
#include <string>

#include "net/autoupdater.h"

namespace nx {

// Where the worker is (or stopped). The values index the dialog's texts.
enum class OperationStage : int32_t {
  Verifying = 0,    // loading the file lists and checking the installed files
  Downloading = 1,  // fetching the chosen version's objects
  Applying = 2,     // saving the file cache and handing over
};

// What the operation works on and what it leaves behind. The atomics are
// read by the dialog while the worker runs; the failure only after the join.
struct OperationBlock {
  Autoupdater& updater;
  const std::wstring& writeFolder;
  std::atomic<OperationStage>& stage;
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
