#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <regex>

#include "base/error_model.h"
#include "base/mini_log_file.h"
#include "base/system_error_text.h"
#include "db/settings.h"
#include "net/autoupdater.h"
#include "support/memory_log.h"
#include "support/scripted_ui.h"
#include "support/temp_folder.h"
#include "ui/report_exception.h"

namespace {
using namespace nx;

using Lines = std::vector<std::string>;

void writeRun(const std::wstring& path, bool append, const char* message) {
  MiniLogFile(path, append).log(MiniLog::INFO, "%s", message);
}
bool has(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

TEST(MiniLog, LongLinesAreCut) {
  test::MemoryLog log;
  log.log(MiniLog::INFO, "%s", std::string(3000, 'm').c_str());
  EXPECT_EQ(log.lines(), Lines{"00000.000 INFO   : " + std::string(2047, 'm') + "\n"});
}

TEST(MiniLogFile, RunsKeepTheLastFourLogsAndAppendingWritersLoseNoLine) {
  test::TempFolder t;
  const std::wstring path = t.file(L"autoupdate.log");
  writeRun(path, false, "run one");
  std::regex expected(
      "\\d{5}\\.\\d{3} INFO   : === MiniLog opened UTC \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\n"
      "\\d{5}\\.\\d{3} INFO   : run one\n"
      "\\d{5}\\.\\d{3} INFO   : === MiniLog closed\\.\n");
  EXPECT_TRUE(std::regex_match(t.read(L"autoupdate.log"), expected)) << t.read(L"autoupdate.log");
  for (const char* run : {"run two", "run three", "run four", "run five", "run six"}) writeRun(path, false, run);
  EXPECT_TRUE(has(t.read(L"autoupdate.log"), "run six"));
  EXPECT_TRUE(has(t.read(L"autoupdate.log.1"), "run five") && has(t.read(L"autoupdate.log.4"), "run two"));
  EXPECT_FALSE(std::filesystem::exists(path + L".5"));
  writeRun(t.file(L"missing/dir/a.log"), false, "lost");  // unopenable: no error
  // The run that hands over (a fresh log) and the next stage (appending, so
  // neither truncating nor rotating) may both be writing: no line is lost.
  {
    MiniLogFile a(t.file(L"b.log"), false), b(t.file(L"b.log"), true);
    a.log(MiniLog::INFO, "from a");
    b.log(MiniLog::INFO, "from b");
    a.log(MiniLog::INFO, "from a again");
  }
  const std::string text = t.read(L"b.log");
  for (const char* line : {"from a\n", "from b\n", "from a again\n"}) EXPECT_TRUE(has(text, line)) << line;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 7);
}

TEST(ErrorModel, ErrorTextsFailuresAndTheErrorBox) {
  const char* texts[] = {
      "No error",     "User cancelled",    "System error",     "Database error",        "Connection error",
      "Server error", "Disk access error", "Disk write error", "Not enough disk space", "Unknown error"};
  for (uint32_t i = 0; i < 10; ++i) EXPECT_STREQ(errorText(static_cast<ErrorCode>(i)), texts[i]);
  EXPECT_STREQ(errorText(static_cast<ErrorCode>(4294967295u)), "Unknown error");

  test::MemoryLog log;
  UpdaterSettings settings(L"", log);
  Autoupdater updater(log, settings);
  // An empty message logs the code's text but is thrown empty.
  EXPECT_THROW(failWith(updater, ErrorCode::DatabaseError, ""), Autoupdater::Fail);
  EXPECT_EQ(log.lines(), Lines{"00000.000 ERROR  : Database error\n"});
  // A system error is only logged with NoError; with a code it is also thrown.
  const std::string message = "Can't delete cache file \"/c/x\xC3\xA9\": (2) " + systemErrorText(ENOENT);
  failWithSystemError(updater, "Can't delete cache file", L"/c/x\u00E9", ENOENT, ErrorCode::NoError);
  EXPECT_THROW(
      failWithSystemError(updater, "Can't delete cache file", L"/c/x\u00E9", ENOENT, ErrorCode::DiskAccessError),
      Autoupdater::Fail);
  const std::string line = "00000.000 ERROR  : " + test::logged(message) + "\n";  // logged once more when thrown
  EXPECT_EQ(log.lines(), (Lines{"00000.000 ERROR  : Database error\n", line, line, line}));

  // The raw text is logged; the box shows it decoded, or the error text.
  test::ScriptedUi ui;
  reportException(log, std::runtime_error("Caf\xC3\xA9 closed"));
  reportException(log, std::runtime_error("bad \xFF byte"));
  ASSERT_EQ(ui.boxes.size(), 2u);
  const auto& box = ui.boxes[0];
  EXPECT_EQ(box.text + ui.boxes[1].text, L"Caf\u00E9 closed#utf8_error");
  EXPECT_TRUE(box.caption == L"Error" && box.icon == ui::Icon::Error && box.buttons == ui::Buttons::Ok);
  EXPECT_EQ(log.lines().back(), "00000.000 ERROR  : Caught an exception: bad \xFF byte\n");
}

}  // namespace
