#include "db/json.h"

#include <gtest/gtest.h>

#include <climits>
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

TEST(JsonTree, TypedLookups) {
  JsonTree tree = parseJsonText(
      R"({"n": 42, "s": "42abc", "e": "", "l": "x1", "neg": -1, "r": 12.9, "big": "99999999999999999999",
          "t": true, "list": ["x", "y"], "bad": ["x", 1]})");
  auto value = [&](const char* key) { return findKey(tree.get(), key, yajl_t_any); };
  uint64_t out = 7;
  EXPECT_TRUE(getUnsigned(value("n"), out) && out == 42);
  EXPECT_TRUE(getUnsigned(value("s"), out) && out == 42);
  EXPECT_TRUE(getUnsigned(value("neg"), out) && out == UINT64_MAX);
  for (const char* key : {"e", "l", "r", "big", "t", "missing"}) EXPECT_FALSE(getUnsigned(value(key), out)) << key;

  EXPECT_TRUE(getBool(value("t"), "err"));
  EXPECT_EQ(errorOf([&] { getBool(value("n"), "err"); }), "err");
  EXPECT_EQ(errorOf([&] { getBool(nullptr, "err"); }), "err");

  std::vector<std::string> list{"old"};
  getStringList(value("list"), list, "err");
  EXPECT_EQ(list, (std::vector<std::string>{"x", "y"}));
  getStringList(value("s"), list, "err");
  EXPECT_EQ(list, (std::vector<std::string>{"42abc"}));
  EXPECT_EQ(errorOf([&] { getStringList(value("bad"), list, "err"); }), "err");
  EXPECT_EQ(errorOf([&] { getStringList(nullptr, list, "err"); }), "err");
}

TEST(JsonTree, FilesPlainGzipAndArchiveMembers) {
  test::TempFolder dir;
  std::string text = "{\"k\": \"" + std::string(200000, 'v') + "\"}";
  test::writeFile(dir.file(L"plain.json"), text);
  test::writeFile(dir.file(L"packed.json"), test::gzip(text));
  for (const wchar_t* name : {L"plain.json", L"packed.json"}) {
    JsonTree tree = parseJsonFile(dir.file(name));
    EXPECT_EQ(strlen(findKey(tree.get(), "k", yajl_t_string)->u.string), 200000u);
  }
  EXPECT_THROW(parseJsonFile(dir.file(L"none.json")), OpenFileError);

  test::writeZip(dir.file(L"a.zip"), {{"doc.json", text}});
  JsonTree member = parseJsonMember(dir.file(L"a.zip"), "doc.json");
  EXPECT_EQ(strlen(findKey(member.get(), "k", yajl_t_string)->u.string), 200000u);
  std::string error = errorOf([&] { parseJsonMember(dir.file(L"a.zip"), "other.json"); });
  EXPECT_NE(error.find("File not found"), std::string::npos) << error;
  EXPECT_THROW(parseJsonMember(dir.file(L"a.zip"), "other.json"), OpenFileError);
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

  EXPECT_EQ(generateJson([](yajl_gen g) {
              jsonMapOpen(g);
              jsonString(g, "a");
              jsonString(g, "b");
              jsonMapClose(g);
            }),
            "{\n \"a\": \"b\"\n}\n");
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

  std::filesystem::create_directory(std::filesystem::path(path + L".tmp"));
  std::string error = errorOf([&] { writeJsonFile(path, [](yajl_gen g) { jsonBool(g, true); }); });
  EXPECT_EQ(error.rfind("create(" + test::quoted(path) + "): (", 0), 0u) << error;
  EXPECT_EQ(test::readFile(path), "previous");
}

}  // namespace
}  // namespace nx
