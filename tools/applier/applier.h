#pragma once
// The applier program: the words of its command line in, its exit code out
// (see applier_error.h). It opens the write folder's log in append mode,
// waits for the write folder's lock, settles a change that a killed run left
// behind, then updates or uninstalls. A failure is one line "applier: ..."
// on err and an ERROR line in the log.
#include <ostream>
#include <string>
#include <vector>

namespace nx::applier {

int runApplier(const std::vector<std::wstring>& words, std::ostream& err);

}  // namespace nx::applier
