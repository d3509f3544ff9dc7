#include "res/string_table.h"

namespace nx::res {

namespace {

struct Entry {
  uint32_t id;
  const wchar_t* text;
};

// US English.
constexpr Entry kTable[] = {
    {kCheckingForUpdates, L"Checking for updates..."},
    {kDownloadingUpdates, L"Downloading updates..."},
    {kNewVersionQuestion, L"New version %V is available. Update?"},
    {kErrorCaption, L"Error"},
    {kApplyingUpdate, L"Applying update..."},
    {kVerifyingInstallation, L"Verifying installation..."},
    {kVersionNotAvailable, L"Version %V is not available."},
    {kUpdateCaption, L"VELTRA UPDATE"},
    {kUpdateApplied, L"Update was applied successfully."},
};

}  // namespace

const wchar_t* stringTableText(uint32_t id) {
  for (const Entry& e : kTable)
    if (e.id == id) return e.text;
  return nullptr;
}

}  // namespace nx::res
