#include "publish/path_pattern.h"

#include <gtest/gtest.h>

namespace nx::publish {
namespace {

TEST(PathPatternTest, Matching) {
  using Paths = std::vector<const char*>;
  const std::tuple<const char*, Paths, Paths> cases[] = {
      // pattern, paths it matches, paths it does not
      {"data/*.txt", {"data/items.txt"}, {"data/sub/items.txt", "data/items.txt.bak"}},  // "*" stays within a piece
      {"data/item?.txt", {"data/items.txt"}, {"data/item.txt"}},
      {"*", {"veltra.sh"}, {"data/items.txt"}},
      {"**", {"data/a/b/c.txt"}, {}},
      {"data/**", {"data/a/b.txt"}, {"data", "database/x"}},  // a trailing "**" needs a piece below
      {"**/*.txt", {"items.txt", "a/b/items.txt"}, {}},       // a leading "**/" may include none
      {"a/**/z.txt", {"a/z.txt", "a/b/c/z.txt"}, {"a/b/c/y.txt"}},
      {"*a*b*", {"xaybz"}, {"xbya"}},
  };
  for (const auto& [pattern, yes, no] : cases) {
    for (const char* path : yes) EXPECT_TRUE(matchPattern(pattern, path)) << pattern << " " << path;
    for (const char* path : no) EXPECT_FALSE(matchPattern(pattern, path)) << pattern << " " << path;
  }
}

TEST(PathPatternTest, PathsThatLeaveOrBlurTheProductFolderAreRefused) {
  for (const char* good : {"veltra.sh", "data/items.txt", "a b/c..d", ".hidden"})
    EXPECT_EQ(pathProblem(good), "") << good;
  for (const char* bad : {"", "/etc/passwd", "../x", "a/../../x", "a/./b", "a//b", "a/", "a\\b", "C:/x", "a\nb"})
    EXPECT_NE(pathProblem(bad), "") << bad;
}

}  // namespace
}  // namespace nx::publish
