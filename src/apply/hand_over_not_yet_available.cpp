// TEMPORARY stand-ins for the last step of an update run until the applying
// stages arrive: each fails with one clear line after the download and the
// file cache are done.
#include "app/autoupdater.h"
#include "app/error_model.h"

namespace nx {

void Autoupdater::applyUpdate() {
  failWith(*this, ErrorCode::SystemError, "Applying updates is not available in this build.");
}

void Autoupdater::startNewUpdater() {
  failWith(*this, ErrorCode::SystemError, "Applying updates is not available in this build.");
}

}  // namespace nx
