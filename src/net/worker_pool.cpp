#include "net/worker_pool.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace nx {

unsigned coreCount() { return std::clamp(std::thread::hardware_concurrency(), 1u, 16u); }

size_t forEachInParallel(size_t count, unsigned threads, const std::function<void(size_t)>& job,
                         const std::function<bool()>& stop) {
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  std::mutex errorMutex;
  std::exception_ptr error;

  auto work = [&] {
    for (;;) {
      if (failed.load(std::memory_order_relaxed) || stop()) return;
      size_t i = next.fetch_add(1, std::memory_order_relaxed);
      if (i >= count) return;
      try {
        job(i);
      } catch (...) {
        std::lock_guard<std::mutex> lock(errorMutex);
        if (!error) error = std::current_exception();
        failed.store(true, std::memory_order_relaxed);
        return;
      }
    }
  };

  std::vector<std::thread> helpers;
  const size_t wanted = std::min<size_t>(std::max(threads, 1u), count);
  for (size_t k = 1; k < wanted; ++k) {
    try {
      helpers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // the threads already running share the work
    }
  }
  work();
  for (std::thread& helper : helpers) helper.join();
  if (error) std::rethrow_exception(error);
  return std::min(next.load(std::memory_order_relaxed), count);
}

}  // namespace nx
