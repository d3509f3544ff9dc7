#include "app/download_and_hand_over.h"

#include <atomic>
#include <stdexcept>
#include <thread>

#include "app/operation_worker.h"
#include "app/transfer_line.h"
#include "base/string_resource.h"
#include "base/text.h"
#include "res/string_table.h"
#include "ui/progress_dialog.h"

namespace nx {

bool downloadAndHandOver(Autoupdater& updater, const std::wstring& writeFolder, const std::wstring& stagingFolder,
                         int32_t versionIndex) {
  std::atomic<OperationStage> stage{OperationStage::Verifying};
  std::atomic<bool> success{false};
  std::atomic<bool> done{false};
  std::string failure = "Download failed";

  // Cleared once, here, before the worker exists: a Cancel pressed at any
  // moment after this stands until the operation ends.
  updater.cancelFlag.store(0, std::memory_order_relaxed);
  std::thread worker;
  WorkerJoin join(updater, worker);
  const OperationBlock block{updater, writeFolder, stage, stagingFolder, versionIndex, success, failure, done};
  startWorkerThread(worker, [&block] { operationWorker(block); });

  const std::wstring texts[3] = {loadStringResource(res::kVerifyingInstallation),
                                 loadStringResource(res::kDownloadingUpdates),
                                 loadStringResource(res::kApplyingUpdate)};
  const bool completed = ui::runInProgressDialog(
      [&](float& progress, std::wstring& text) {
        progress = updater.progress.load(std::memory_order_relaxed);
        const OperationStage s = stage.load(std::memory_order_relaxed);
        text = texts[static_cast<int32_t>(s)];
        if (s == OperationStage::Downloading) text += L"\n" + fromUtf8(transferLine(updater));
        return !done.load(std::memory_order_relaxed);
      },
      true, 100);
  if (!completed) updater.cancelFlag.store(1, std::memory_order_relaxed);
  joinWorkerThread(worker);

  // A Cancel that came after the hand-over had started cannot undo it: the
  // next stage runs, and the caller must not treat the run as cancelled
  // (and start the old product beside the applier).
  if (success.load(std::memory_order_relaxed)) return true;
  if (!completed) return false;
  throw std::runtime_error(failure);
}

}  // namespace nx
