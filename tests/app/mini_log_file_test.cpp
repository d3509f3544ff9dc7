#include "app/mini_log_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "support/temp_folder.h"

namespace nx {
namespace {

namespace fs = std::filesystem;

std::string readAll(const std::wstring& path) {
  std::ifstream in{fs::path(path), std::ios::binary};
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeRun(const std::wstring& path, bool append, const char* message) {
  MiniLogFile log(path, append);
  log.log(MiniLog::INFO, "%s", message);
}

// A log whose clock stands still where the test puts it.
class FixedClockLog : public MiniLog {
 public:
  double seconds = 0;
  std::string last;
  double elapsedSeconds() override { return seconds; }
  void writeLine(const std::string& line) override { last = line; }
};

TEST(MiniLog, LineFormat) {
  FixedClockLog log;
  log.seconds = 12.3456;
  log.log(MiniLog::WARNING, "%s=%d", "n", 5);
  EXPECT_EQ(log.last, "00012.346 WARNING: n=5\n");
  log.seconds = 123456.789;
  log.log(MiniLog::ERROR, "x");
  EXPECT_EQ(log.last, "123456.789 ERROR  : x\n");
  log.seconds = 0;
  log.log(MiniLog::INFO, "%s", std::string(3000, 'm').c_str());
  EXPECT_EQ(log.last, "00000.000 INFO   : " + std::string(2047, 'm') + "\n");
}

TEST(MiniLogFile, WritesOpeningAndClosingLines) {
  test::TempFolder t;
  writeRun(t.file(L"a.log"), false, "hello");
  std::string text = readAll(t.file(L"a.log"));
  std::regex expected(
      "\\d{5}\\.\\d{3} INFO   : === MiniLog opened UTC \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\n"
      "\\d{5}\\.\\d{3} INFO   : hello\n"
      "\\d{5}\\.\\d{3} INFO   : === MiniLog closed\\.\n");
  EXPECT_TRUE(std::regex_match(text, expected)) << text;
  EXPECT_FALSE(fs::exists(fs::path(t.file(L"a.log.old"))));
}

TEST(MiniLogFile, NewRunKeepsOnlyThePreviousLogAsOld) {
  test::TempFolder t;
  const std::wstring path = t.file(L"autoupdate.log");
  writeRun(path, false, "run one");
  writeRun(path, false, "run two");
  writeRun(path, false, "run three");
  std::string current = readAll(path), old = readAll(path + L".old");
  EXPECT_NE(current.find("run three"), std::string::npos);
  EXPECT_EQ(current.find("run two"), std::string::npos);
  EXPECT_NE(old.find("run two"), std::string::npos);
  EXPECT_EQ(old.find("run one"), std::string::npos);
}

TEST(MiniLogFile, AppendKeepsEarlierLinesAndNeverRotates) {
  test::TempFolder t;
  const std::wstring path = t.file(L"autoupdate.log");
  writeRun(path, false, "first");
  writeRun(path, true, "second");
  std::string text = readAll(path);
  EXPECT_LT(text.find("first"), text.find("second"));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6);
  EXPECT_FALSE(fs::exists(fs::path(path + L".old")));
}

TEST(MiniLogFile, TwoAppendingLogsLoseNoLines) {
  // The stage that hands over and the next one may both be writing.
  test::TempFolder t;
  const std::wstring path = t.file(L"autoupdate.log");
  {
    MiniLogFile a(path, true);
    MiniLogFile b(path, true);
    a.log(MiniLog::INFO, "from a");
    b.log(MiniLog::INFO, "from b");
    a.log(MiniLog::INFO, "from a again");
  }
  std::string text = readAll(path);
  for (const char* line : {"from a\n", "from b\n", "from a again\n"}) EXPECT_NE(text.find(line), std::string::npos) << line;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 7);
}

TEST(MiniLogFile, UnopenableFileIsNoError) {
  test::TempFolder t;
  writeRun(t.file(L"missing/dir/a.log"), false, "lost");
  EXPECT_FALSE(fs::exists(fs::path(t.file(L"missing"))));
}

}  // namespace
}  // namespace nx
