#pragma once
// The second status line of a download: how much has arrived and how fast.
#include <cstdint>
#include <string>

#include "net/autoupdater.h"

namespace nx {

// "12.3/100.0 MB @  250.0 KB/s": done and total in decimal megabytes (just
// "12.3 MB" when the total is unknown, 0), then the rate in decimal
// kilobytes a second when it is above 0. UTF-8.
std::string transferLine(uint64_t doneBytes, uint64_t totalBytes, float bytesPerSecond);
// The same from the updater's shared counters; safe while a worker runs.
std::string transferLine(const Autoupdater& updater);

}  // namespace nx
