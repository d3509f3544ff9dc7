#pragma once
// The staging folder of an update run: where the applier files are extracted
// and from where the next stage, and through it the elevated applier, runs.
#include <string>

#include "app/autoupdater.h"

namespace nx {

// Creates the updater's staging folder (private to the user) when it is
// missing and returns it. Fails with code 6: "Can't create temp directory"
// when it cannot be created, the unsafe-folder message when it is a link, a
// foreign folder or one that others can write to.
std::wstring makeStagingFolder(Autoupdater& updater);

}  // namespace nx
