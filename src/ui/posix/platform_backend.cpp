#include "ui/platform_backend.h"

namespace nx::ui {

// The text backends serve here.
std::unique_ptr<Backend> makePlatformBackend() { return nullptr; }

}  // namespace nx::ui
