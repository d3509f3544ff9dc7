#include "sys/os_version.h"

#include <windows.h>

namespace nx::sys {

OsVersion osVersion() {
  OsVersion version;
  version.key = "windows";
  // The manifest names no supported systems, so from Windows 8 on the
  // system answers 6.2.
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (::GetVersionExA(&info)) {
    version.major = info.dwMajorVersion;
    version.minor = info.dwMinorVersion;
  }
  return version;
}

}  // namespace nx::sys
