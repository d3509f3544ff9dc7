#include "app/operation_worker.h"

#include "app/worker_outcome.h"
#include "base/error_model.h"

namespace nx {

namespace {

// Enters a stage: the dialog shows it from now on, and a Cancel that came
// before (while the last stage did work that does not poll) ends the run here.
void enterStage(const OperationBlock& block, OperationStage stage) {
  block.stage.store(stage, std::memory_order_relaxed);
  if (block.updater.cancelRequested()) failWith(block.updater, ErrorCode::UserCancelled, "");
}

// The stages in order; throws what ends the run.
void operate(const OperationBlock& block) {
  Autoupdater& updater = block.updater;
  enterStage(block, OperationStage::Verifying);
  updater.loadFileLists(block.writeFolder);
  updater.refreshInstalledFiles();
  updater.progress.store(1.0f, std::memory_order_relaxed);

  enterStage(block, OperationStage::Downloading);
  updater.selectVersion(block.stagingFolder, block.versionIndex);

  enterStage(block, OperationStage::Applying);
  updater.progress.store(-1.0f, std::memory_order_relaxed);
  updater.saveFileCacheIfDirty();
  // The last moment a Cancel can stop the run: after it, another process
  // takes over.
  if (updater.cancelRequested()) failWith(updater, ErrorCode::UserCancelled, "");
  if (updater.selfUpdateStage == SelfUpdateStage::Continue)
    updater.startNewUpdater();
  else
    updater.applyUpdate();

  updater.progress.store(1.0f, std::memory_order_relaxed);
}

}  // namespace

void operationWorker(const OperationBlock& block) {
  recordWorkerOutcome([&block] { operate(block); }, block.success, block.failure, block.done);
}

}  // namespace nx
