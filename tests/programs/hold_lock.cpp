// Test helper: takes a lock file as another updater would and holds it.
//   hold_lock PATH SECONDS
// Prints "locked" once it holds the lock (or "busy" and exits 1), then holds
// it for SECONDS (fractions allowed) and exits.
#include <cstdio>
#include <cstdlib>

#include "base/text.h"
#include "sys/clock.h"
#include "sys/lock.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  if (nx::sys::tryLockFile(nx::fromUtf8(argv[1])) == nx::sys::invalidHandle) return std::puts("busy"), 1;
  std::puts("locked");
  std::fflush(stdout);
  nx::sys::sleepMs(static_cast<uint32_t>(std::atof(argv[2]) * 1000));
  return 0;
}
