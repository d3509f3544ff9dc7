#include "app/command_line.h"

#include <gtest/gtest.h>

namespace nx {
namespace {

using Words = std::vector<std::wstring>;

CommandLine parse(Words words) {
  words.insert(words.begin(), L"autoupdate");
  return parseCommandLine(words);
}

TEST(CommandLine, OptionsStandAnywhereAndOnlyBaseAndWriteAreForwarded) {
  CommandLine line = parse(
      {L"-w", L"W1", L"update", L"--run", L"2.0", L"--lockname", L"L", L"--basedir", L"/b c", L"-w", L"W2", L"extra"});
  EXPECT_EQ(line.words, (Words{L"update", L"2.0", L"extra"}));
  EXPECT_EQ(line.writeFolderName, L"W2");  // the later switch wins
  EXPECT_EQ(line.baseFolderArgument, L"/b c");
  EXPECT_EQ(line.lockName, L"L");
  EXPECT_TRUE(line.launchProduct);
  EXPECT_EQ(line.forwardedOptions, (Words{L"-w", L"W1", L"--basedir", L"/b c", L"-w", L"W2"}));
}

TEST(CommandLine, DefaultsAndSwitchesWithoutValueAreWords) {
  CommandLine none = parse({});
  EXPECT_TRUE(none.words.empty() && none.forwardedOptions.empty() && !none.launchProduct && none.lockName.empty());
  EXPECT_EQ(none.writeFolderName, L"VELTRA");
  EXPECT_EQ(parse({L"-b"}).words, Words{L"-b"});
  EXPECT_EQ(parse({L"check", L"--lockname"}).words, (Words{L"check", L"--lockname"}));
  // Case matters; "--run" takes no value.
  CommandLine odd = parse({L"-B", L"x", L"--run", L"--RUN"});
  EXPECT_EQ(odd.words, (Words{L"-B", L"x", L"--RUN"}));
  EXPECT_TRUE(odd.baseFolderArgument.empty());
}

}  // namespace
}  // namespace nx
