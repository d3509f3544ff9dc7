#include "app/error_model.h"

#include "app/string_resource.h"
#include "app/system_error_text.h"
#include "app/text.h"
#include "res/string_table.h"
#include "ui/message_box.h"

namespace nx {

void failWith(Autoupdater& updater, ErrorCode code, const std::string& message) {
  updater.log().log(MiniLog::ERROR, "%s", message.empty() ? errorText(code) : message.c_str());
  throw Autoupdater::Fail(code, message);
}

void failWithSystemError(Autoupdater& updater, const std::string& operation, const std::wstring& path,
                         uint32_t errorNumber, ErrorCode code) {
  std::string message = operation + " \"" + toUtf8(path) + "\": (" + std::to_string(errorNumber) + ") " +
                        systemErrorText(errorNumber);
  updater.log().log(MiniLog::ERROR, "%s", message.c_str());
  if (code != ErrorCode::NoError) failWith(updater, code, message);
}

void reportException(MiniLog& log, const std::exception& exception) {
  const char* what = exception.what();
  log.log(MiniLog::ERROR, "Caught an exception: %s", what);
  ui::messageBox(fromUtf8(what), loadStringResource(res::kErrorCaption), ui::Icon::Error, ui::Buttons::Ok);
}

}  // namespace nx
