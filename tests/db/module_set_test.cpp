#include "db/module_set.h"

#include <gtest/gtest.h>

#include "db/db_fixture.h"
#include "support/memory_log.h"

namespace nx {
namespace {

class ModuleSetTest : public ::testing::Test {
 protected:
  ModuleSetTest() {
    db.main = "main";
    db.modules = {{"main", true}, {"a", false}, {"b", true}, {"c", true}, {"d", true}, {"free", false}};
    db.exclusive_modules = {{"a", "b", "ghost"}, {"a", "c"}, {"d", "main"}};
  }
  bool on(const char* name) { return db.modules.at(name); }

  Database db;
  test::MemoryLog log;
};

TEST_F(ModuleSetTest, SelectHonoursExclusiveGroups) {
  EXPECT_FALSE(selectModule(db, "ghost", log));

  ASSERT_TRUE(selectModule(db, "a", log));
  EXPECT_TRUE(on("a") && !on("b") && !on("c"));
  auto lines = log.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(lines[0].ends_with("Removed module b in favor of a\n")) << lines[0];
  EXPECT_TRUE(lines[1].ends_with("Removed module c in favor of a\n")) << lines[1];

  // Already selected: the others still go; a group may hold the main module.
  db.modules["b"] = true;
  selectModule(db, "a", log);
  EXPECT_FALSE(on("b"));
  selectModule(db, "d", log);
  EXPECT_FALSE(on("main"));

  log.clear();
  selectModule(db, "free", log);
  EXPECT_TRUE(on("free"));
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(ModuleSetTest, AddAndRemoveOnRequest) {
  addModule(db, "a");
  EXPECT_TRUE(on("a") && on("b") && on("c"));  // no exclusivity on request
  removeModule(db, "free");
  removeModule(db, "b");
  EXPECT_TRUE(!on("free") && !on("b"));
  EXPECT_EQ(test::errorOf([&] { addModule(db, "x"); }), "Can't add unknown mod \"x\"");
  EXPECT_EQ(test::errorOf([&] { removeModule(db, "x"); }), "Can't del unknown mod \"x\"");
  EXPECT_EQ(test::errorOf([&] { removeModule(db, "main"); }), "Can't del main module \"main\"");
  EXPECT_TRUE(on("main"));
}

}  // namespace
}  // namespace nx
