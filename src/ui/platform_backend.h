#pragma once
// The desktop's own dialog and boxes, where the build has them: the choice of
// "auto" before the text backends.
#include <memory>

#include "ui/backend.h"

namespace nx::ui {

// The native backend of this build, or nullptr when it has none.
std::unique_ptr<Backend> makePlatformBackend();

}  // namespace nx::ui
