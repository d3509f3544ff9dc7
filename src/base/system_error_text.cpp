#include "base/system_error_text.h"

#include "base/text.h"
#include "sys/errors.h"

namespace nx {

std::string systemErrorText(uint32_t code) {
  std::string text = sys::errorMessage(code);
  return text.empty() ? "? Error" : text;
}

std::wstring systemErrorTextW(uint32_t code) { return fromUtf8(systemErrorText(code)); }

}  // namespace nx
