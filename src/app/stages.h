#pragma once
// The stages that hand an update from process to process. A process whose
// argument 1 is "bootstrap" or "continue" runs one of them and nothing else.
// arguments: the whole argument vector; at: the position of the stage word.
//   <program> <stage> BASE WRITE STAGING DATABASE_ID [install MODULE...]
#include <cstddef>
#include <string>
#include <vector>

namespace nx {

// Runs the applier elevated, waits for it, reports success and starts the
// product. Exit code: 0, the applier's own non-zero code, or 111.
int bootstrapStage(const std::vector<std::wstring>& arguments, size_t at);
// Finishes a download that the updater's own new files interrupted, then
// starts the bootstrap stage. Exit code: 0, 112 or 113. Started to be waited
// for (the environment holds kWaitVariable=1), it waits for the bootstrap
// stage in turn and ends with its code, or kContinueCancelled.
int continueStage(const std::vector<std::wstring>& arguments, size_t at);

// Set by a command that waits for its hand-over chain, for the stages it starts.
inline constexpr char kWaitVariable[] = "AUTOUPDATE_WAIT";
// A waited-for continue stage that the user cancelled.
inline constexpr int kContinueCancelled = 114;

}  // namespace nx
