#pragma once
// The applier's exit codes and the failure that carries one. Every failure
// the applier reports ends the run with one of these codes; the message is
// one complete line for the user and the log.
#include <stdexcept>
#include <string>

namespace nx::applier {

enum ExitCode : int {
  kSuccess = 0,
  kBadArguments = 10,    // wrong words, a malformed database id, a missing base or write folder
  kLockHeld = 11,        // another updater kept the write folder's lock for the whole wait
  kBadDatabase = 12,     // the installed or the new database cannot be read or is inconsistent
  kBadObject = 13,       // an object (the new database or a file's content) is missing or corrupt
  kPathRefused = 14,     // a path would leave the base folder (absolute, "..", a symbolic link)
  kReplaceFailed = 15,   // writing or replacing a file failed; the previous installation is restored
  kRecoveryFailed = 16,  // the previous state could not be restored; the journal stays for the next run
  kUnexpected = 17,      // anything else (out of memory, an internal error)
  kTestHookExit = 86,    // the test hook ended the process on purpose
};

class ApplierError : public std::runtime_error {
 public:
  ApplierError(int code, const std::string& message) : std::runtime_error(message), code(code) {}
  int code;
};

[[noreturn]] inline void failWithCode(int code, const std::string& message) { throw ApplierError(code, message); }

}  // namespace nx::applier
