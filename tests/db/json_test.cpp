#include "db/json.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>

#include "db/db_fixture.h"
#include "io/io_error.h"

namespace nx {
namespace {

using test::errorOf;

TEST(JsonTree, CommentsDuplicatesAndErrors) {
  JsonTree tree = parseJsonText("/* c */ {\"a\": \"first\", // more\n \"a\": \"second\"}");
  EXPECT_STREQ(findKey(tree.get(), "a", yajl_t_string)->u.string, "first");
  EXPECT_EQ(findKey(tree.get(), "a", yajl_t_number), nullptr);
  EXPECT_EQ(findKey(nullptr, "a", yajl_t_any), nullptr);

  std::string error = errorOf([] { parseJsonText("{\"a\": tru}"); });
  EXPECT_EQ(error.rfind("JSON error: ", 0), 0u) << error;
  EXPECT_NE(error.find("tru}"), std::string::npos) << "verbose text quotes the input: " << error;
  EXPECT_EQ(errorOf([] { parseJsonText(""); }).rfind("JSON error: ", 0), 0u);
}

TEST(JsonTree, UnsignedLookups) {
  JsonTree tree = parseJsonText(
      R"({"n": 42, "s": "42abc", "e": "", "l": "x1", "neg": -1, "r": 12.9, "big": "99999999999999999999", "t": true})");
  auto value = [&](const char* key) { return findKey(tree.get(), key, yajl_t_any); };
  uint64_t out = 7;
  EXPECT_TRUE(getUnsigned(value("n"), out) && out == 42);
  EXPECT_TRUE(getUnsigned(value("s"), out) && out == 42);
  EXPECT_TRUE(getUnsigned(value("neg"), out) && out == UINT64_MAX);
  for (const char* key : {"e", "l", "r", "big", "t", "missing"}) EXPECT_FALSE(getUnsigned(value(key), out)) << key;
}

TEST(JsonOutput, BeautifiedBytesAndUnsignedRoundTrip) {
  test::TempFolder dir;
  const uint64_t huge = (1ull << 63) + 5;
  writeJsonFile(dir.file(L"out.json"), [&](yajl_gen g) {
    jsonMapOpen(g);
    jsonString(g, "a");
    jsonString(g, "b/\"q\"\n");
    jsonString(g, "list");
    jsonArrayOpen(g);
    jsonInteger(g, static_cast<int64_t>(huge));
    jsonBool(g, true);
    jsonArrayOpen(g);
    jsonArrayClose(g);
    jsonArrayClose(g);
    jsonMapClose(g);
  });
  EXPECT_EQ(test::readFile(dir.file(L"out.json")),
            "{\n \"a\": \"b/\\\"q\\\"\\n\",\n \"list\": [\n  -9223372036854775803,\n  true,\n  [\n\n  ]\n ]\n}\n");
  JsonTree back = parseJsonFile(dir.file(L"out.json"));
  uint64_t out = 0;
  ASSERT_TRUE(getUnsigned(findKey(back.get(), "list", yajl_t_array)->u.array.values[0], out));
  EXPECT_EQ(out, huge);
  EXPECT_THROW(generateJson([](yajl_gen g) { jsonMapClose(g); }), std::runtime_error);
}

// A save that fails part way must leave the previous file as it was.
TEST(JsonOutput, FailedWriteKeepsPreviousFile) {
  test::TempFolder dir;
  const std::wstring path = dir.file(L"state.json");
  test::writeFile(path, "previous");
  auto onlyPrevious = [&] {
    EXPECT_EQ(test::readFile(path), "previous");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(path + L".tmp")));
  };

  EXPECT_THROW(writeJsonFile(path, [](yajl_gen g) {
                 jsonMapOpen(g);
                 throw std::runtime_error("interrupted");
               }),
               std::runtime_error);
  onlyPrevious();

  // A disk that refuses the data: the temporary name leads to /dev/full.
  if (std::filesystem::exists("/dev/full")) {
    std::filesystem::create_symlink("/dev/full", std::filesystem::path(path + L".tmp"));
    std::string error = errorOf([&] { writeJsonFile(path, [](yajl_gen g) { jsonBool(g, true); }); });
    EXPECT_EQ(error.rfind("write(" + test::quoted(path) + "): (", 0), 0u) << error;
    onlyPrevious();
  }

}

}  // namespace
}  // namespace nx
