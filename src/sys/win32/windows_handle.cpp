#include "sys/win32/windows_handle.h"

#include <sddl.h>

#include <memory>
#include <vector>

namespace nx::sys::win32 {

std::wstring systemPath(const std::wstring& path) {
  std::wstring out = path;
  for (wchar_t& c : out)
    if (c == L'/') c = L'\\';
  return out;
}

std::wstring withoutTrailingSeparators(std::wstring path) {
  path = systemPath(path);
  while (path.size() > 1 && path.back() == L'\\' && !(path.size() == 3 && path[1] == L':')) path.pop_back();
  return path;
}

std::string utf8(const std::wstring& text) {
  if (text.empty()) return {};
  int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring utf16(const std::string& text) {
  if (text.empty()) return {};
  int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

PSID currentUser() {
  static std::vector<unsigned char> user = [] {
    std::vector<unsigned char> buffer;
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return buffer;
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    buffer.resize(size);
    if (size == 0 || !::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) buffer.clear();
    ::CloseHandle(token);
    return buffer;
  }();
  return user.empty() ? nullptr : reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
}

SECURITY_ATTRIBUTES* privateSecurity() {
  struct Private {
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    Private() {
      PSID user = currentUser();
      LPWSTR sid = nullptr;
      if (!user || !::ConvertSidToStringSidW(user, &sid)) return;
      // Protected: nothing is inherited from a parent that others may write.
      std::wstring sddl = L"D:P(A;OICI;FA;;;" + std::wstring(sid) + L")(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
      ::LocalFree(sid);
      PSECURITY_DESCRIPTOR descriptor = nullptr;
      if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        attributes.lpSecurityDescriptor = descriptor;  // kept for the life of the process
    }
  };
  static Private secured;
  return secured.attributes.lpSecurityDescriptor ? &secured.attributes : nullptr;
}

}  // namespace nx::sys::win32
