#include "sys/process.h"

#include <windows.h>
// windows.h comes first: the other system headers need it.

#include <objbase.h>
#include <shellapi.h>

#include <cstdlib>

#include "sys/command_line.h"
#include "sys/errors.h"
#include "sys/win32/windows_handle.h"

namespace nx::sys {

namespace {

// Waits for the process and reads its exit code; 0xFFFFFFFF when it cannot
// be read.
void finish(HANDLE process, bool wait, uint32_t* exitCode) {
  if (wait) {
    ::WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    if (exitCode) *exitCode = ::GetExitCodeProcess(process, &code) ? code : 0xFFFFFFFFu;
  }
  ::CloseHandle(process);
}

// An elevated start of the program with the words after it; false with the
// system's error (1223 when the user declines the prompt).
bool shellRunAs(const std::vector<std::wstring>& argv, uint32_t* exitCode) {
  const std::wstring file = win32::systemPath(argv[0]);
  const std::wstring parameters = joinCommandLine(argv, 1);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = L"runas";
  info.lpFile = file.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = SW_SHOWNORMAL;
  // The shell may hand the start to its extensions, which want COM.
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const BOOL started = ::ShellExecuteExW(&info);
  const DWORD error = ::GetLastError();
  if (SUCCEEDED(com)) ::CoUninitialize();
  if (!started) return win32::failWith(error);
  if (!info.hProcess) return win32::failWith(ERROR_INVALID_HANDLE);
  finish(info.hProcess, true, exitCode);
  return true;
}

}  // namespace

bool startProcess(const std::vector<std::wstring>& argv, bool wait, uint32_t* exitCode) {
  if (argv.empty()) return win32::failWith(ERROR_INVALID_PARAMETER);
  // CreateProcessW may write into the command line.
  std::wstring line = joinCommandLine(argv, 0);
  line.push_back(L'\0');
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  // No handle is inherited: the child gets none of our files or locks.
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE | CREATE_DEFAULT_ERROR_MODE,
                        nullptr, nullptr, &startup, &process))
    return false;
  ::CloseHandle(process.hThread);
  finish(process.hProcess, wait, exitCode);
  return true;
}

// The POSIX helpers (pkexec, sudo) do not exist here: elevation is runas,
// and only a stand-in named by AUTOUPDATE_ELEVATE (the tests' refusing
// helper) is put in front.
bool runElevated(const std::vector<std::wstring>& argv, const std::vector<std::string>&, uint32_t* exitCode) {
  if (argv.empty()) return win32::failWith(ERROR_INVALID_PARAMETER);
  const std::string helper = environment("AUTOUPDATE_ELEVATE");
  if (helper.empty()) return shellRunAs(argv, exitCode);
  // A helper put in front, as on POSIX: its 126 means the user declined,
  // its 127 that the program could not be run.
  std::vector<std::wstring> command{win32::utf16(helper)};
  command.insert(command.end(), argv.begin(), argv.end());
  uint32_t code = 0;
  if (!shellRunAs(command, &code)) return false;
  if (code == 126 || code == 127) return win32::failWith(code == 126 ? ERROR_CANCELLED : ERROR_ACCESS_DENIED);
  if (exitCode) *exitCode = code;
  return true;
}

// Windows always asks through runas: whether the user could write is not
// the question there.
bool userCanWrite(const std::wstring&) { return false; }

// The updater is a windowed program: no terminal to ask a password in.
bool inputIsTerminal() { return false; }

std::string environment(const char* name) {
  // The wide environment holds every value as it is; the narrow one is in
  // the ANSI code page.
  const std::wstring wide = win32::utf16(name);
  DWORD n = ::GetEnvironmentVariableW(wide.c_str(), nullptr, 0);
  if (n == 0) return {};
  std::wstring value(n, L'\0');
  n = ::GetEnvironmentVariableW(wide.c_str(), value.data(), n);
  value.resize(n);
  return win32::utf8(value);
}

}  // namespace nx::sys
