#pragma once
// The Windows side of the test programs' child processes (program_run.h,
// lock_holder.h): CreateProcessW with a quoted command line, extra
// environment variables, stdin from NUL and stdout/stderr on pipes that only
// this child inherits.
// Before windows.h, as the loopback server's header needs.
// clang-format off
#include <winsock2.h>
#include <windows.h>
// clang-format on

#include <string>
#include <utility>
#include <vector>

namespace nx::test {

inline std::wstring wideFromUtf8(const std::string& text) {
  if (text.empty()) return {};
  std::wstring wide(
      static_cast<size_t>(::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0)),
      L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        static_cast<int>(wide.size()));
  return wide;
}

// One word of a command line, quoted so that the child's argv gets it back
// exactly (backslashes count only before a quote).
inline std::wstring quotedWord(const std::wstring& word) {
  if (!word.empty() && word.find_first_of(L" \t\n\v\"") == std::wstring::npos) return word;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : word) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

class WindowsChild {
 public:
  // stderr is captured with stdout unless captureErr is false (then it is the test's own).
  WindowsChild(std::string program, const std::vector<std::string>& arguments,
               const std::vector<std::pair<std::string, std::string>>& environment, bool captureErr) {
    if (::GetFileAttributesA(program.c_str()) == INVALID_FILE_ATTRIBUTES) program += ".exe";
    std::wstring commandLine = quotedWord(wideFromUtf8(program));
    for (const std::string& a : arguments) commandLine += L" " + quotedWord(wideFromUtf8(a));

    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE outWrite = nullptr, errWrite = nullptr;
    HANDLE in =
        ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    if (!::CreatePipe(&out_, &outWrite, &inherit, 0) || (captureErr && !::CreatePipe(&err_, &errWrite, &inherit, 0)))
      return;
    ::SetHandleInformation(out_, HANDLE_FLAG_INHERIT, 0);
    if (err_) ::SetHandleInformation(err_, HANDLE_FLAG_INHERIT, 0);
    if (!captureErr) {
      ::DuplicateHandle(::GetCurrentProcess(), ::GetStdHandle(STD_ERROR_HANDLE), ::GetCurrentProcess(), &errWrite, 0,
                        TRUE, DUPLICATE_SAME_ACCESS);
    }

    // Only these three handles reach the child, whatever else the test has open.
    HANDLE handles[3] = {in, outWrite, errWrite};
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<char> attributes(size);
    auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    ::InitializeProcThreadAttributeList(list, 1, 0, &size);
    ::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles,
                                errWrite ? sizeof handles : 2 * sizeof(HANDLE), nullptr, nullptr);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = in;
    startup.StartupInfo.hStdOutput = outWrite;
    startup.StartupInfo.hStdError = errWrite;
    startup.lpAttributeList = list;

    std::wstring block = environmentBlock(environment);
    PROCESS_INFORMATION info{};
    if (::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                         CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT, block.data(), nullptr,
                         &startup.StartupInfo, &info)) {
      ::CloseHandle(info.hThread);
      process_ = info.hProcess;
    }
    ::DeleteProcThreadAttributeList(list);
    // The child holds its own copies: the pipes end when it (and its children) let go.
    for (HANDLE h : handles)
      if (h && h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  }
  ~WindowsChild() {
    kill();
    for (HANDLE h : {out_, err_})
      if (h) ::CloseHandle(h);
  }
  WindowsChild(const WindowsChild&) = delete;
  WindowsChild& operator=(const WindowsChild&) = delete;

  bool started() const { return process_ != nullptr; }
  bool outputEnded() const { return !outOpen_ && (!err_ || !errOpen_); }

  // Appends what the pipes hold now; false when nothing was there.
  bool readAvailable(std::string& out, std::string& err) {
    bool got = drain(out_, outOpen_, out);
    if (err_) got = drain(err_, errOpen_, err) || got;
    return got;
  }

  // Blocks for one line of stdout ("\r\n" or "\n"), without its end.
  std::string readLine() {
    std::string line;
    char c;
    DWORD n = 0;
    while (::ReadFile(out_, &c, 1, &n, nullptr) && n == 1 && c != '\n') line += c;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }

  // The exit code once the program has ended.
  int wait() {
    if (!process_) return -1;
    ::WaitForSingleObject(process_, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(process_, &code);
    ::CloseHandle(process_);
    process_ = nullptr;
    return static_cast<int>(code);
  }
  // Ends the program at once, as a crash would.
  void kill() {
    if (!process_) return;
    ::TerminateProcess(process_, 1);
    wait();
  }

 private:
  static bool drain(HANDLE pipe, bool& open, std::string& sink) {
    DWORD available = 0;
    if (!open) return false;
    if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
      open = false;  // broken: every writer has gone
      return true;
    }
    if (available == 0) return false;
    std::string buffer(available, '\0');
    DWORD got = 0;
    if (::ReadFile(pipe, buffer.data(), available, &got, nullptr)) sink.append(buffer.data(), got);
    return true;
  }

  // The test's environment with the given variables set (names ignore case).
  static std::wstring environmentBlock(const std::vector<std::pair<std::string, std::string>>& environment) {
    std::vector<std::wstring> entries;
    if (wchar_t* current = ::GetEnvironmentStringsW()) {
      for (const wchar_t* p = current; *p; p += wcslen(p) + 1) entries.emplace_back(p);
      ::FreeEnvironmentStringsW(current);
    }
    for (const auto& [name, value] : environment) {
      const std::wstring wideName = wideFromUtf8(name) + L"=";
      std::erase_if(entries, [&](const std::wstring& e) {
        return e.size() >= wideName.size() && ::_wcsnicmp(e.c_str(), wideName.c_str(), wideName.size()) == 0;
      });
      entries.push_back(wideName + wideFromUtf8(value));
    }
    std::wstring block;
    for (const std::wstring& e : entries) block += e + L'\0';
    return block + L'\0';
  }

  HANDLE process_ = nullptr;
  HANDLE out_ = nullptr, err_ = nullptr;
  bool outOpen_ = true, errOpen_ = true;
};

}  // namespace nx::test
