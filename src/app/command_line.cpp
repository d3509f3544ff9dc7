#include "app/command_line.h"

namespace nx {

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
      line.run = true;
    } else if (word == L"--lockname" && hasValue) {
      line.lockName = arguments[++i];
    } else {
      line.words.push_back(word);
    }
  }
  return line;
}

}  // namespace nx
