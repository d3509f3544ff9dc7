#include "publish/path_pattern.h"

#include <gtest/gtest.h>

namespace nx::publish {
namespace {

TEST(PathPatternTest, Matching) {
  struct Case {
    const char* pattern;
    const char* path;
    bool matches;
  };
  const Case cases[] = {
      {"data/*.txt", "data/items.txt", true},
      {"data/*.txt", "data/sub/items.txt", false},  // "*" stays within a piece
      {"data/*.txt", "data/items.txt.bak", false},
      {"data/item?.txt", "data/items.txt", true},
      {"data/item?.txt", "data/item.txt", false},
      {"*", "veltra.sh", true},
      {"*", "data/items.txt", false},
      {"**", "data/a/b/c.txt", true},
      {"data/**", "data/a/b.txt", true},
      {"data/**", "data", false},  // a trailing "**" needs a piece below
      {"data/**", "database/x", false},
      {"**/*.txt", "items.txt", true},  // none included
      {"**/*.txt", "a/b/items.txt", true},
      {"a/**/z.txt", "a/z.txt", true},
      {"a/**/z.txt", "a/b/c/z.txt", true},
      {"a/**/z.txt", "a/b/c/y.txt", false},
      {"*a*b*", "xaybz", true},
      {"*a*b*", "xbya", false},
  };
  for (const Case& c : cases) EXPECT_EQ(matchPattern(c.pattern, c.path), c.matches) << c.pattern << " " << c.path;
}

TEST(PathPatternTest, PathsThatLeaveOrBlurTheProductFolderAreRefused) {
  for (const char* good : {"veltra.sh", "data/items.txt", "a b/c..d", ".hidden"}) EXPECT_EQ(pathProblem(good), "") << good;
  for (const char* bad : {"", "/etc/passwd", "../x", "a/../../x", "a/./b", "a//b", "a/", "a\\b", "C:/x", "a\nb"})
    EXPECT_NE(pathProblem(bad), "") << bad;
}

}  // namespace
}  // namespace nx::publish
