#include "ui/gtk_backend.h"

#include <dlfcn.h>

#include <exception>

#include "base/paths.h"
#include "base/text.h"
#include "sys/files.h"
#include "sys/process.h"
#include "ui/plain_backend.h"

namespace nx::ui {

namespace {

// The step behind the module's C callback. An exception cannot cross the
// GTK main loop: it is kept here and thrown again once the window is gone.
struct StepCall {
  const ProgressStep& step;
  std::wstring text;
  std::string utf8;
  std::exception_ptr failure;
};

int callStep(void* context, float* progress, const char** text) {
  auto& call = *static_cast<StepCall*>(context);
  try {
    call.text.clear();
    const bool goOn = call.step(*progress, call.text);
    call.utf8 = toUtf8(call.text);
    *text = call.utf8.c_str();
    return goOn ? 1 : 0;
  } catch (...) {
    call.failure = std::current_exception();
    return -1;
  }
}

int iconCode(Icon icon) {
  switch (icon) {
    case Icon::Warning:
      return NX_GTK_WARNING;
    case Icon::Information:
      return NX_GTK_INFORMATION;
    case Icon::Question:
      return NX_GTK_QUESTION;
    case Icon::Error:
      break;
  }
  return NX_GTK_ERROR;
}

}  // namespace

bool GtkBackend::graphicalSession() {
  return !sys::environment("WAYLAND_DISPLAY").empty() || !sys::environment("DISPLAY").empty();
}

std::unique_ptr<Backend> GtkBackend::load(std::string& why) {
  const std::string path = sys::nativePath(joinPath(executableFolder(), kModuleName));
  // A failed module stays open too: a library may not survive being closed.
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* error = ::dlerror();
    why = error ? error : "cannot open " + path;
    return nullptr;
  }
  auto entry = reinterpret_cast<NxGtkModuleEntry>(::dlsym(handle, NX_GTK_MODULE_ENTRY));
  const NxGtkModule* module = entry ? entry() : nullptr;
  if (!module || module->version != NX_GTK_MODULE_VERSION) {
    why = path + " is not a window module of this updater";
    return nullptr;
  }
  if (const char* failed = module->open()) {
    why = failed;
    return nullptr;
  }
  return std::unique_ptr<Backend>(new GtkBackend(module));
}

DialogResult GtkBackend::runProgressDialog(const ProgressStep& step, bool cancelAllowed, uint32_t periodMs) {
  StepCall call{step, {}, {}, nullptr};
  const int result = module_->runProgress(callStep, &call, cancelAllowed ? 1 : 0, periodMs);
  if (call.failure) std::rethrow_exception(call.failure);
  if (result == NX_GTK_ACCEPTED) return DialogResult::Accepted;
  if (result == NX_GTK_CANCELLED) return DialogResult::Cancelled;
  return DialogResult::Finished;
}

Button GtkBackend::messageBox(const std::wstring& text, const std::wstring& caption, Icon icon, Buttons buttons) {
  if (buttons != Buttons::Ok) {
    const std::string preset = lowered(sys::environment("AUTOUPDATE_ANSWER"));
    if (preset == "yes") return Button::Yes;
    if (preset == "no") return Button::No;
  }
  const int answer = module_->messageBox(toUtf8(text).c_str(), toUtf8(caption).c_str(), iconCode(icon),
                                         buttons == Buttons::YesNo            ? NX_GTK_YES_NO
                                         : buttons == Buttons::YesNoDefaultNo ? NX_GTK_YES_NO_DEFAULT_NO
                                                                              : NX_GTK_OK);
  if (buttons == Buttons::Ok) return Button::Ok;
  return answer == NX_GTK_ANSWER_YES ? Button::Yes : Button::No;
}

}  // namespace nx::ui
