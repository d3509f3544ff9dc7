#pragma once
// The updater's command line: options and positional words.
//   -b/--basedir DIR   -w/--writedir NAME   --run   --lockname NAME
//   --wait   --no-wait   -h/--help   --version
// A switch without a value (the last argument) is an ordinary word; a later
// switch overrides an earlier one; options may stand anywhere.
#include <string>
#include <vector>

namespace nx {

struct CommandLine {
  std::wstring baseFolderArgument;  // empty: search for the installation
  std::wstring writeFolderName = L"VELTRA";
  bool launchProduct = false;  // --run: start the product afterwards
  std::wstring lockName;       // empty: no named lock
  // The -b/--basedir and -w/--writedir switches with their values, spelled
  // as typed, in order: handed on to the started product and to uninstall.
  std::vector<std::wstring> forwardedOptions;
  std::vector<std::wstring> words;  // positional, the command word first
  // Stay until the hand-over chain has ended: -1 as the interface suits
  // (yes with the terminal one), 0 never, 1 always (where the system allows).
  int wait = -1;
  bool help = false;
  bool version = false;
};

// The usage text that --help prints.
extern const char* const kUsage;

// Scans arguments 1 to the end (element 0 is the program).
CommandLine parseCommandLine(const std::vector<std::wstring>& arguments);

}  // namespace nx
