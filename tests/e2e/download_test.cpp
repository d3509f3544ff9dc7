// "autoupdate update" through the real program: check, question, download
// from an HTTP repository into the staging folder, and the hand-over.
#include <filesystem>

#include "support/http_server.h"
#include "support/update_fixture.h"

namespace nx::test {
namespace {

class DownloadFlowTest : public UpdateFixture {
 protected:
  void SetUp() override {
    publish(1, server.url("/repo"));
    image("1.0");
    publish(2, server.url("/repo"));
    server.serveFolder("/repo", repo());
  }
  size_t objectRequests() const {
    size_t n = 0;
    for (const ReceivedRequest& r : server.requests()) n += r.path.rfind("/repo/objects/", 0) == 0;
    return n;
  }
  HttpServer server;
};

TEST_F(DownloadFlowTest, AnUpdateDownloadsTheNewVersionAndReachesTheHandOver) {
  ProgramResult r = autoupdate({"update"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("[question] VELTRA UPDATE: New version 2.0 is available. Update?"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Verifying installation..."), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("[error] Error: Applying updates is not available in this build.\n"), std::string::npos)
      << r.err;
  const std::string text = log();
  EXPECT_NE(text.find("INFO   : Downloading update: version=2.0"), std::string::npos) << text;
  EXPECT_NE(text.find("INFO   : Downloading "), std::string::npos);
  EXPECT_LT(text.find("Downloading update"), text.find("ERROR  : Applying updates is not available"));
  // The database and the three changed contents of the installed modules,
  // in the private staging folder.
  size_t objects = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(stagingFolder()))
    objects += e.is_regular_file() && e.path().filename().string().size() == 64;
  EXPECT_EQ(objects, 4u);
  EXPECT_EQ(objectRequests(), 4u);
  EXPECT_EQ(std::filesystem::status(stagingFolder()).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);
  EXPECT_TRUE(std::filesystem::exists(writeFolder() + "/autoupdate.cache"));

  // The next run resumes from the store: nothing is fetched again.
  r = autoupdate({"update"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(log().find("Downloading 0 bytes in 0 objects"), std::string::npos) << log();
  EXPECT_EQ(objectRequests(), 4u);
}

}  // namespace
}  // namespace nx::test
