// Stand-ins for the parts of the update run that later changes bring: each
// fails with one clear line.
#include "app/string_resource.h"
#include "apply/stages.h"
#include "apply/uninstall.h"
#include "res/string_table.h"
#include "ui/message_box.h"

namespace nx {

namespace {
int notAvailable(const wchar_t* what) {
  ui::messageBox(std::wstring(what) + L" is not available in this build.", loadStringResource(res::kErrorCaption),
                 ui::Icon::Error, ui::Buttons::Ok);
  return 1;
}
}  // namespace

int bootstrapStage(const std::vector<std::wstring>&, size_t) { return notAvailable(L"The bootstrap stage"); }
int continueStage(const std::vector<std::wstring>&, size_t) { return notAvailable(L"The continue stage"); }
int uninstall(const std::vector<std::wstring>&, const std::wstring&, const std::wstring&, const std::wstring&, MiniLog&,
              bool, std::vector<std::wstring>) {
  return notAvailable(L"Uninstall");
}
}  // namespace nx
