// Which helper, if any, the applier runs behind.
#include "apply/elevation.h"

#include <gtest/gtest.h>

namespace nx {
namespace {

TEST(Elevation, HelperFollowsRightsAndSession) {
  using Words = std::vector<std::string>;
  const Words direct, pkexec{"pkexec"}, sudo{"sudo", "-S"}, chosen{"/opt/ask"};
  struct Case {
    const char* requested;
    bool canWrite, graphical, terminal;
    Words helper;
  } cases[] = {
      {"", true, true, true, direct},            // the user's own installation
      {"", false, true, false, pkexec},          // a desktop icon, installation owned by root
      {"", false, true, true, pkexec},           // a terminal on a desktop: the agent asks
      {"", false, false, true, sudo},            // a console or ssh
      {"", false, false, false, direct},         // nobody to ask: the applier names what fails
      {"/opt/ask", true, false, false, chosen},  // chosen by hand, even where not needed
  };
  for (const Case& c : cases)
    EXPECT_EQ(elevationHelper({c.requested, c.canWrite, c.graphical, c.terminal}), c.helper)
        << c.requested << " write " << c.canWrite << " display " << c.graphical << " terminal " << c.terminal;
}

}  // namespace
}  // namespace nx
