#include "base/error_model.h"

#include "base/system_error_text.h"
#include "base/text.h"

namespace nx {

void failWith(MiniLog& log, ErrorCode code, const std::string& message) {
  log.log(MiniLog::ERROR, "%s", message.empty() ? errorText(code) : message.c_str());
  throw UpdateFailure(code, message);
}

void failWithSystemError(MiniLog& log, const std::string& operation, const std::wstring& path, uint32_t errorNumber,
                         ErrorCode code) {
  std::string message =
      operation + " \"" + toUtf8(path) + "\": (" + std::to_string(errorNumber) + ") " + systemErrorText(errorNumber);
  log.log(MiniLog::ERROR, "%s", message.c_str());
  if (code != ErrorCode::NoError) failWith(log, code, message);
}

}  // namespace nx
