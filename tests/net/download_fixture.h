#pragma once
// A release repository of the sample product (versions 1.0 and 2.0, made by
// the real publish program), served over HTTP on 127.0.0.1, an installation
// of 1.0 with the maps module, and updaters that download from it into a
// staging folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "base/paths.h"
#include "base/text.h"
#include "db/object_id.h"
#include "net/autoupdater.h"
#include "net/check_test_util.h"
#include "support/file_size_limit.h"
#include "support/platform.h"
#include "support/update_fixture.h"

namespace nx::test {

// One updater, with its own log and settings.
struct DownloadRun {
  explicit DownloadRun(const std::wstring& writeFolder) : settings(writeFolder + L"/settings", log) {}
  int32_t indexOf(const std::string& version) const {
    for (size_t i = 0; i < updater->versions.size(); ++i)
      if (updater->versions[i].version == version) return static_cast<int32_t>(i);
    return -1;
  }
  MemoryLog log;
  UpdaterSettings settings;
  std::unique_ptr<Autoupdater> updater = std::make_unique<Autoupdater>(log, settings);
};

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(publishSample(1, repo()), 0);
    publishSecond();
    ASSERT_EQ(imageRelease(toUtf8(repo()), "1.0", toUtf8(base()), {"--module", "maps"}).status, 0);
    std::filesystem::create_directory(std::filesystem::path(write()));
    server.serveFolder("/repo", toUtf8(repo()));
  }
  // Version 2.0; a test may publish it differently.
  virtual void publishSecond() { ASSERT_EQ(publishSample(2, repo()), 0); }

  std::wstring repo() const { return dir.file(L"repo"); }
  std::wstring base() const { return dir.file(L"install"); }
  std::wstring write() const { return dir.file(L"write"); }
  std::wstring staging() const { return dir.file(L"staging"); }
  std::string mirror() const { return server.url("/repo/objects"); }

  // An updater with the installation loaded and the repository's reply
  // read, downloading from the loopback mirror.
  std::unique_ptr<DownloadRun> newRun() {
    auto run = std::make_unique<DownloadRun>(write());
    run->updater->loadInstallation(base());
    run->updater->readHandOverFile(joinPath(repo(), std::string("update/stable")));  // read as a reply
    run->updater->downloadUrls = {mirror()};
    return run;
  }
  // What the update operation does up to the end of the download.
  void verifyAndDownload(DownloadRun& run, const std::string& version) {
    run.updater->loadFileLists(write());
    run.updater->refreshInstalledFiles();
    run.updater->selectVersion(staging(), run.indexOf(version));
  }

  // Ids of the objects in the staging folder (files named by an id).
  std::set<std::string> stored() const {
    std::set<std::string> ids;
    if (!std::filesystem::exists(std::filesystem::path(staging()))) return ids;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(std::filesystem::path(staging())))
      if (entry.is_regular_file() && isObjectId(entry.path().filename().string()))
        ids.insert(entry.path().filename().string());
    return ids;
  }
  // Ids the mirror was asked for, in order.
  std::vector<std::string> fetched() const {
    std::vector<std::string> ids;
    for (const ReceivedRequest& r : server.requests())
      if (r.path.rfind("/repo/objects/", 0) == 0) ids.push_back(r.path.substr(r.path.rfind('/') + 1));
    return ids;
  }
  TempFolder dir;
  HttpServer server;
};

}  // namespace nx::test
