#include "ui/report_exception.h"

#include "base/string_resource.h"
#include "base/text.h"
#include "res/string_table.h"
#include "ui/message_box.h"

namespace nx {

void reportException(MiniLog& log, const std::exception& exception) {
  const char* what = exception.what();
  log.log(MiniLog::ERROR, "Caught an exception: %s", what);
  ui::messageBox(fromUtf8(what), loadStringResource(res::kErrorCaption), ui::Icon::Error, ui::Buttons::Ok);
}

}  // namespace nx
