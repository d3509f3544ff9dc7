// Holds a lock file for the applier tests: takes PATH with the updater's own
// lock call, prints "locked" on stdout, keeps the lock for MILLISECONDS
// (or until killed), then ends and so releases it.
#include <cstdio>
#include <string>

#include "app/text.h"
#include "sys/clock.h"
#include "sys/lock.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  if (nx::sys::tryLockFile(nx::fromUtf8(argv[1])) == nx::sys::invalidHandle) return 1;
  std::printf("locked\n");
  std::fflush(stdout);
  nx::sys::sleepMs(static_cast<uint32_t>(std::stoul(argv[2])));
  return 0;
}
