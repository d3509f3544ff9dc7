// The applier files and the start of the next stage, with real files, real
// gzip objects and real processes.
#include <gtest/gtest.h>

#include "db/settings.h"
#include "net/autoupdater.h"
#include "net/object_store.h"
#include "stage_test_util.h"
#include "support/memory_log.h"
#include "support/temp_folder.h"

namespace nx {
namespace {

using namespace test;

bool executable(const std::string& path) {
  return (fs::status(path).permissions() & fs::perms::owner_exec) != fs::perms::none;
}

// The code and text of the failure f raised.
template <class F>
std::pair<ErrorCode, std::string> failureOf(F&& f) {
  try {
    f();
  } catch (const Autoupdater::Fail& e) {
    return {e.code, e.what()};
  }
  return {ErrorCode::NoError, "no failure"};
}

class ApplyTest : public StageFolders {
 protected:
  ApplyTest() : settings(L"", log), updater(log, settings) {
    updater.baseFolder = fromUtf8(base);
    updater.writeFolder = fromUtf8(write);
    updater.stagingFolder = fromUtf8(staging);
    updater.selectedVersion.database_id = std::string(64, 'd');
  }
  // Puts content into the object store as a gzip object; returns its path.
  std::wstring object(const std::string& content, const std::string& id = "") {
    const std::wstring path = objectPath(fromUtf8(staging), id.empty() ? sha256(content) : id);
    writeAll(toUtf8(path), gzipped(content));
    return path;
  }

  MemoryLog log;
  UpdaterSettings settings;
  Autoupdater updater;
};

// Objects are gunzipped and installed files copied byte for byte; what fails
// leaves no partial file, and nothing runs from an unsafe folder.
TEST_F(ApplyTest, ExtractionOfTheApplierFiles) {
  const std::string applier = "#!/bin/sh\necho new applier\n";
  // An installed program that is itself gzip data must not be unpacked.
  const std::string gzipLooking = gzipped("this is what gunzip would make of it");
  writeAll(base + "/bin/autoupdate", gzipLooking);
  updater.applyList = {{"applier", object(applier)}, {"autoupdate", fromUtf8(base + "/bin/autoupdate")}};
  updater.extractApplyFiles(fromUtf8(staging));
  EXPECT_EQ(readAll(staging + "/applier"), applier);
  EXPECT_EQ(readAll(staging + "/autoupdate"), gzipLooking);
  EXPECT_TRUE(onWindows || (executable(staging + "/applier") && executable(staging + "/autoupdate")));
  fs::remove(staging + "/applier");

  updater.applyList.clear();
  EXPECT_EQ(failureOf([&] { updater.extractApplyFiles(fromUtf8(staging)); }),
            std::make_pair(ErrorCode::DatabaseError, std::string("applier is not prepared")));

  // An object whose content is not what its name says is not extracted.
  const std::wstring good = object("good");
  updater.applyList = {{"first", good}, {"second", object("tampered", sha256("expected"))}};
  EXPECT_THROW(updater.extractApplyFiles(fromUtf8(staging)), IOError);
  EXPECT_EQ(readAll(staging + "/first"), "good");
  EXPECT_FALSE(fs::exists(staging + "/second"));

  // A name from the database never leaves the staging folder.
  for (const std::string name : {"..", "", "a/b"}) {
    updater.applyList = {{name, good}};
    EXPECT_THROW(updater.extractApplyFiles(fromUtf8(staging)), Autoupdater::Fail) << name;
  }
  updater.applyList = {{"missing", fromUtf8(base + "/bin/none")}};
  EXPECT_THROW(updater.extractApplyFiles(fromUtf8(staging)), OpenFileError);

  if (onWindows) return;  // a folder others can write is made by access rules there, not modes
  fs::permissions(staging, fs::perms(0777));
  updater.applyList = {{"applier", good}};
  auto [code, text] = failureOf([&] { updater.applyUpdate(); });
  EXPECT_EQ(code, ErrorCode::DiskAccessError);
  EXPECT_PRED2(contains, text, "other users can write to it");
  EXPECT_FALSE(fs::exists(staging + "/applier"));
}

}  // namespace
}  // namespace nx
