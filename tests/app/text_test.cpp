#include "app/text.h"

#include <gtest/gtest.h>

namespace nx {
namespace {

TEST(Text, ConvertsEveryPlaneBothWays) {
  const std::string utf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";  // a é € 😀 z
  const std::wstring wide = L"a\u00E9\u20AC\U0001F600z";
  EXPECT_EQ(fromUtf8(utf8), wide);
  EXPECT_EQ(toUtf8(wide), utf8);
  EXPECT_EQ(fromUtf8("\xF4\x8F\xBF\xBF"), std::wstring(1, wchar_t(0x10FFFF)));
  EXPECT_EQ(fromUtf8(""), L"");
  EXPECT_EQ(toUtf8(L""), "");
}

TEST(Text, InvalidInputTurnsTheWholeResultIntoTheErrorText) {
  for (const char* bad : {"abc\xFF", "\x80", "ok\xC3", "\xE2\x82", "\xC0\xAF", "\xC1\xBF", "\xE0\x80\xAF",
                          "\xF0\x80\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80", "\xC3("})
    EXPECT_EQ(fromUtf8(bad), L"#utf8_error") << bad;
  EXPECT_EQ(toUtf8(std::wstring(L"x") + wchar_t(0xD800)), "#utf8_error");
  EXPECT_EQ(toUtf8(std::wstring(1, wchar_t(0x110000))), "#utf8_error");
}

}  // namespace
}  // namespace nx
