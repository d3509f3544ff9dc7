#include "app/command_line.h"

namespace nx {

const char* const kUsage =
    "usage: autoupdate [check]                [options]  check when due, ask, update; then start VELTRA\n"
    "       autoupdate update [TARGET]        [options]  check now, ask, update (TARGET: VERSION, BRANCH,\n"
    "                                                    BRANCH:VERSION or BRANCH:=)\n"
    "       autoupdate repair [--full]        [options]  put the installed version back in place\n"
    "       autoupdate install MODULE...      [options]  add modules\n"
    "       autoupdate uninstall MODULE...    [options]  remove modules\n"
    "       autoupdate uninstall '*'|--all    [options]  remove VELTRA and all its files (asks first)\n"
    "       autoupdate status [--json]        [options]  what is installed; no network\n"
    "       autoupdate init LANG [ARCH]       [options]  make a copied installation updatable\n"
    "       autoupdate modconfig reg|reg_fast|unreg MODULE... [options]\n"
    "options:\n"
    "  -b, --basedir DIR     the installation (the folder holding autoupdate.db)\n"
    "  -w, --writedir NAME   the write folder's name (default VELTRA)\n"
    "  --run                 start VELTRA afterwards when nothing was handed over\n"
    "  --lockname NAME       run only while no other updater holds the lock NAME\n"
    "  --wait, --no-wait     stay until the update has been applied (default with the terminal interface)\n"
    "  -h, --help            this text\n"
    "  --version             the updater's version\n"
    "environment: AUTOUPDATE_UI (auto, terminal, plain), AUTOUPDATE_ANSWER (yes, no)\n";

CommandLine parseCommandLine(const std::vector<std::wstring>& arguments) {
  CommandLine line;
  for (size_t i = 1; i < arguments.size(); ++i) {
    const std::wstring& word = arguments[i];
    const bool hasValue = i + 1 < arguments.size();
    if ((word == L"-b" || word == L"--basedir") && hasValue) {
      line.baseFolderArgument = arguments[++i];
      line.forwardedOptions.insert(line.forwardedOptions.end(), {word, arguments[i]});
    } else if ((word == L"-w" || word == L"--writedir") && hasValue) {
      line.writeFolderName = arguments[++i];
      line.forwardedOptions.insert(line.forwardedOptions.end(), {word, arguments[i]});
    } else if (word == L"--run") {
      line.launchProduct = true;
    } else if (word == L"--lockname" && hasValue) {
      line.lockName = arguments[++i];
    } else if (word == L"--wait" || word == L"--no-wait") {
      line.wait = word == L"--wait" ? 1 : 0;
    } else if (word == L"-h" || word == L"--help") {
      line.help = true;
    } else if (word == L"--version") {
      line.version = true;
    } else {
      line.words.push_back(word);
    }
  }
  return line;
}

}  // namespace nx
