#pragma once
// How a task run on a worker thread ended, for the dialog that waits on it.
#include <atomic>
#include <stdexcept>
#include <string>

namespace nx {

// Runs task on the calling thread and never throws: success is set when it
// returns, failure is replaced by the message of a runtime_error it throws
// (anything else keeps the general message already there), and done is set
// last, in every case, so the dialog always ends.
template <class Task>
void recordWorkerOutcome(Task&& task, std::atomic<bool>& success, std::string& failure, std::atomic<bool>& done) {
  try {
    task();
    success.store(true, std::memory_order_relaxed);
  } catch (const std::runtime_error& e) {
    failure = e.what();
  } catch (...) {
    // Anything else keeps the general message; the dialog must still end.
  }
  done.store(true, std::memory_order_relaxed);
}

}  // namespace nx
