#pragma once
// The program's string table: the user-visible texts, by id.
#include <cstdint>

namespace nx::res {

inline constexpr uint32_t kCheckingForUpdates = 104;
inline constexpr uint32_t kDownloadingUpdates = 105;
inline constexpr uint32_t kNewVersionQuestion = 106;  // %V: the offered version
inline constexpr uint32_t kErrorCaption = 107;
inline constexpr uint32_t kApplyingUpdate = 108;
inline constexpr uint32_t kVerifyingInstallation = 109;
inline constexpr uint32_t kVersionNotAvailable = 110;  // %V: the installed version
inline constexpr uint32_t kUpdateCaption = 111;
inline constexpr uint32_t kUpdateApplied = 113;

// The text of an id, or nullptr when the table has none.
const wchar_t* stringTableText(uint32_t id);

}  // namespace nx::res
