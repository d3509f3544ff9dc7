#pragma once
// Starting programs from an argument vector (element 0 is the program).
#include <cstdint>
#include <string>
#include <vector>

namespace nx::sys {

// Starts the program detached from this process (it outlives us). With wait,
// waits for it and stores its exit code. False when it could not be started.
bool startProcess(const std::vector<std::wstring>& argv, bool wait, uint32_t* exitCode = nullptr);

// Runs the program with administrator rights and waits for its exit code.
// On POSIX the words of helper (for example pkexec) are put in front of it;
// without any it runs directly. A helper that ends with 126 (the user
// dismissed its prompt) or 127 (not allowed, or the program could not be
// run) counts as a refused elevation: false, with lastError() cancelled or
// permission denied.
bool runElevated(const std::vector<std::wstring>& argv, const std::vector<std::string>& helper, uint32_t* exitCode);

// True when this user (by the real ids) may create files in the folder.
bool userCanWrite(const std::wstring& folder);

// True when stdin is a terminal (where a helper could ask for a password).
bool inputIsTerminal();

// Value of an environment variable; empty when unset.
std::string environment(const char* name);

}  // namespace nx::sys
