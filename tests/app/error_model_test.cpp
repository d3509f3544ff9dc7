#include "app/error_model.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "app/string_resource.h"
#include "support/memory_log.h"
#include "support/scripted_ui.h"

namespace nx {
namespace {

TEST(ErrorModel, ErrorTexts) {
  const char* texts[] = {"No error",          "User cancelled",   "System error",
                         "Database error",    "Connection error", "Server error",
                         "Disk access error", "Disk write error", "Not enough disk space"};
  for (uint32_t i = 0; i < 9; ++i) EXPECT_STREQ(errorText(static_cast<ErrorCode>(i)), texts[i]);
  EXPECT_STREQ(errorText(static_cast<ErrorCode>(9)), "Unknown error");
  EXPECT_STREQ(errorText(static_cast<ErrorCode>(4294967295u)), "Unknown error");
}

TEST(ErrorModel, FailWithLogsTheCodeTextForAnEmptyMessageButThrowsItEmpty) {
  test::MemoryLog log;
  Autoupdater updater(log);
  try {
    failWith(updater, ErrorCode::DatabaseError, "");
    FAIL();
  } catch (const Autoupdater::Fail& e) {
    EXPECT_EQ(e.code, ErrorCode::DatabaseError);
    EXPECT_STREQ(e.what(), "");
  }
  EXPECT_THROW(failWith(updater, ErrorCode::ServerError, "bad reply"), std::runtime_error);
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"00000.000 ERROR  : Database error\n",
                                                   "00000.000 ERROR  : bad reply\n"}));
}

TEST(ErrorModel, SystemErrorIsLoggedAndThrownOnlyWithACode) {
  test::MemoryLog log;
  Autoupdater updater(log);
  const std::string message = "Can't delete cache file \"/c/x\xC3\xA9\": (2) No such file or directory";
  failWithSystemError(updater, "Can't delete cache file", L"/c/x\u00E9", ENOENT, ErrorCode::NoError);
  EXPECT_EQ(log.lines(), std::vector<std::string>{"00000.000 ERROR  : " + message + "\n"});
  log.clear();
  try {
    failWithSystemError(updater, "Can't delete cache file", L"/c/x\u00E9", ENOENT, ErrorCode::DiskAccessError);
    FAIL();
  } catch (const Autoupdater::Fail& e) {
    EXPECT_EQ(e.code, ErrorCode::DiskAccessError);
    EXPECT_EQ(e.what(), message);
  }
  EXPECT_EQ(log.lines().size(), 2u);
  EXPECT_EQ(log.lines()[1], log.lines()[0]);
}

TEST(ErrorModel, ReportShowsAnErrorBoxAndLogsTheRawText) {
  test::MemoryLog log;
  test::ScriptedUi ui;
  reportException(log, std::runtime_error("Caf\xC3\xA9 closed"));
  reportException(log, std::runtime_error("bad \xFF byte"));
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[0].text, L"Caf\u00E9 closed");
  EXPECT_EQ(ui.boxes[0].caption, L"Error");
  EXPECT_EQ(ui.boxes[0].icon, ui::Icon::Error);
  EXPECT_EQ(ui.boxes[0].buttons, ui::Buttons::Ok);
  EXPECT_EQ(ui.boxes[1].text, L"#utf8_error");
  EXPECT_EQ(log.lines()[1], "00000.000 ERROR  : Caught an exception: bad \xFF byte\n");
}

TEST(StringResource, KnownAndUnknownIds) {
  EXPECT_EQ(loadStringResource(106), L"New version %V is available. Update?");
  EXPECT_EQ(loadStringResource(111), L"VELTRA UPDATE");
  EXPECT_EQ(loadStringResource(112), L"");
}

}  // namespace
}  // namespace nx
