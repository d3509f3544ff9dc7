#pragma once
// Running many independent jobs on a few threads at once: the slow part of
// an update (hashing installed files) is CPU-bound, and one thread cannot
// keep up with the disk.
#include <cstddef>
#include <functional>

namespace nx {

// One thread per core, at least one and at most 16.
unsigned coreCount();

// Calls job(i) for every i from 0 to count - 1 on up to `threads` threads,
// the calling thread among them. Indexes are handed out one at a time in
// rising order, so each job runs once, on one thread. Before each hand-out
// stop() is asked (from any of the threads); once it answers true, or once a
// job has thrown, no further index is handed out. Returns when every job
// that was started has ended: the number of jobs started, or rethrows the
// first exception a job threw. When fewer threads than asked can be started
// the work is shared among those that are running.
size_t forEachInParallel(size_t count, unsigned threads, const std::function<void(size_t)>& job,
                         const std::function<bool()>& stop);

}  // namespace nx
