#include <gtest/gtest.h>

#include "db/database.h"
#include "db/install_state.h"
#include "db/json.h"
#include "tools/publish_fixture.h"

namespace nx::test {
namespace {

const std::string kV1 = NX_SOURCE_DIR "/examples/product-v1";
const std::string kV2 = NX_SOURCE_DIR "/examples/product-v2";

std::string sha256sum(const std::string& file) { return shell("sha256sum " + quote(file), "/dev/null").out.substr(0, 64); }

struct ReplyEntry {
  std::string version, timestamp, id;
  uint64_t size = 0;
};

std::vector<ReplyEntry> readReply(const std::string& path, std::vector<std::string>* urls = nullptr) {
  JsonTree tree = parseJsonText(readAll(path));
  if (urls) getStringList(findKey(tree.get(), "download_url", yajl_t_any), *urls, "bad");
  std::vector<ReplyEntry> out;
  yajl_val versions = findKey(tree.get(), "versions", yajl_t_array);
  for (size_t i = 0; versions && i < versions->u.array.len; ++i) {
    yajl_val v = versions->u.array.values[i];
    ReplyEntry e;
    e.version = YAJL_GET_STRING(findKey(v, "version", yajl_t_string));
    e.timestamp = YAJL_GET_STRING(findKey(v, "timestamp", yajl_t_string));
    e.id = YAJL_GET_STRING(findKey(v, "database_id", yajl_t_string));
    getUnsigned(findKey(v, "database_size", yajl_t_any), e.size);
    out.push_back(e);
  }
  return out;
}

std::string objectFile(const std::string& repo, const std::string& id) {
  return repo + "/objects/" + id.substr(0, 2) + "/" + id;
}

TEST_F(PublishTest, ReleaseWritesVerifiableObjectsDatabaseAndReply) {
  const std::string repo = path("repo");
  ToolRun run = publishSample(1, repo);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");

  std::vector<std::string> urls;
  auto versions = readReply(repo + "/update/stable", &urls);
  ASSERT_EQ(versions.size(), 1u);
  EXPECT_EQ(urls, std::vector<std::string>{"file://" + repo + "/objects"});
  EXPECT_EQ(versions[0].version, "1.0");
  EXPECT_EQ(versions[0].timestamp, "2026-12-01T10:00:00Z");

  // The database is a plain object named by its own digest, readable as the
  // updater reads it.
  const std::string dbFile = objectFile(repo, versions[0].id);
  EXPECT_EQ(sha256sum(dbFile), versions[0].id);
  EXPECT_EQ(fs::file_size(dbFile), versions[0].size);
  Database db;
  loadMetadata(kInvalidStructure, db, fromUtf8(dbFile));
  EXPECT_EQ(db.version, "1.0");
  EXPECT_EQ(db.tag, "stable");
  EXPECT_EQ(db.main, "veltra");
  EXPECT_EQ(db.update_url, std::vector<std::string>{"file://" + repo + "/update/stable"});
  EXPECT_EQ(db.apply, (std::vector<std::string>{"bin/applier", "bin/autoupdate"}));
  EXPECT_EQ(db.modules.size(), 2u);
  db.modules["maps"] = true;
  db.lang = "de";
  loadFileLists(db, fromUtf8(dbFile));
  EXPECT_EQ(db.files.count("lang/de/greeting.txt"), 1u);
  EXPECT_EQ(db.files.count("lang/en/greeting.txt"), 0u);  // only in the English list
  EXPECT_EQ(db.files.at("maps/island.txt").module, "maps");

  // Every product file is a gzip object whose id is the digest of the file.
  for (const char* rel : {"veltra.sh", "data/items.txt", "data/notes.txt", "lang/de/greeting.txt", "maps/island.txt"}) {
    SCOPED_TRACE(rel);
    const std::string source = kV1 + "/" + rel;
    const FileRecord& record = db.files.at(rel);
    EXPECT_EQ(record.hash, sha256sum(source));
    EXPECT_EQ(record.size, fs::file_size(source));
    const std::string object = objectFile(repo, record.hash);
    EXPECT_EQ(readAll(object).substr(0, 2), "\x1f\x8b");
    EXPECT_EQ(shell("gzip -dc " + quote(object), "/dev/null").out, readAll(source));
  }
}

TEST_F(PublishTest, SameInputGivesSameBytesAndRepublishingReplacesTheEntry) {
  addApplier();
  // Same addresses for both repositories, so every byte may be compared.
  auto publishTo = [&](const std::string& repo) {
    return publish({"release", NX_SOURCE_DIR "/examples/release-v1.json", kV1, repo, "--base-url", "http://h/r",
                    "--add", "bin/applier=" + path("applier"), "--add", "bin/autoupdate=" + path("applier")});
  };
  ASSERT_EQ(publishTo(path("c")).status, 0);
  ASSERT_EQ(publishTo(path("d")).status, 0);
  auto c = snapshot(path("c")), d = snapshot(path("d"));
  EXPECT_EQ(c, d);

  ToolRun again = publishTo(path("c"));
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_NE(again.out.find(" 0 new objects"), std::string::npos) << again.out;
  EXPECT_EQ(snapshot(path("c")), c);  // one entry, same bytes
}

TEST_F(PublishTest, SecondVersionKeepsTheFirstAndImagesMatchTheirProduct) {
  const std::string repo = path("repo");
  ASSERT_EQ(publishSample(2, repo).status, 0);  // published out of order on purpose
  ASSERT_EQ(publishSample(1, repo).status, 0);
  auto versions = readReply(repo + "/update/stable");
  ASSERT_EQ(versions.size(), 2u);
  // Oldest first: the updater offers the last newer entry.
  EXPECT_EQ(versions[0].version, "1.0");
  EXPECT_EQ(versions[1].version, "2.0");
  EXPECT_NE(versions[0].id, versions[1].id);

  for (int v : {1, 2}) {
    SCOPED_TRACE(v);
    const std::string target = path("image" + std::to_string(v));
    const std::string product = v == 1 ? kV1 : kV2;
    ToolRun run = publish({"image", repo, std::to_string(v) + ".0", target, "--lang", "en", "--module", "maps"});
    ASSERT_EQ(run.status, 0) << run.err;
    auto image = snapshot(target), source = snapshot(product);
    for (const auto& [rel, bytes] : source) {
      if (rel.starts_with("lang/de")) {
        EXPECT_EQ(image.count(rel), 0u) << rel;
      } else {
        EXPECT_EQ(image[rel], bytes) << rel;
      }
    }
    EXPECT_EQ(image["bin/applier"], readAll(path("applier")));
    EXPECT_EQ(image["Config/lang.cfg"], "en");
    EXPECT_EQ(image["autoupdate.db"], readAll(objectFile(repo, versions[v - 1].id)));
    EXPECT_NE(fs::status(target + "/veltra.sh").permissions() & fs::perms::owner_exec, fs::perms::none);
    EXPECT_EQ(shell(quote(target + "/veltra.sh"), "/dev/null").out,
              "VELTRA " + std::to_string(v) + ".0\nWelcome to VELTRA.\n");

    // The state reads back as the updater loads an installation.
    Database db;
    loadMetadata(kInvalidStructure, db, fromUtf8(target + "/autoupdate.db"));
    loadInstallState(kInvalidStructure, db, fromUtf8(target + "/autoupdate.cfg"));
    EXPECT_EQ(db.arch, "x86_64");
    EXPECT_EQ(db.lang, "en");
    EXPECT_TRUE(db.modules["maps"] && db.modules["veltra"]);
  }
  // Without the optional module, its files stay out.
  ASSERT_EQ(publish({"image", repo, "2.0", path("plain"), "--lang", "de"}).status, 0);
  EXPECT_FALSE(fs::exists(path("plain/maps")));
  EXPECT_TRUE(fs::exists(path("plain/lang/de/greeting.txt")));
}

TEST_F(PublishTest, FailedPublishLeavesTheRepositoryAsItWas) {
  const std::string repo = path("repo");
  ASSERT_EQ(publishSample(1, repo).status, 0);
  const auto before = snapshot(repo);

  // Bad input is found before anything is written.
  writeAll(path("bad.json"), "{\"version\": \"2.0\", \"tag\": \"stable\", \"main\": \"m\", \"update_url\": \"u\","
                             " \"download_url\": \"d\", \"modules\": {\"m\": [\"veltra.sh\", \"missing.txt\"]},"
                             " \"launch\": \"veltra.sh\", \"apply\": []}");
  ToolRun run = publish({"release", path("bad.json"), kV2, repo});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("missing.txt"), std::string::npos) << run.err;
  EXPECT_EQ(snapshot(repo), before);

  // A failure at the very last step takes back the objects and the database
  // already written.
  fs::create_directories(repo + "/update/stable.tmp");
  run = publishSample(2, repo);
  EXPECT_EQ(run.status, 1);
  fs::remove(repo + "/update/stable.tmp");
  EXPECT_EQ(snapshot(repo), before);

  // A reply file that is not a reply is never overwritten.
  writeAll(repo + "/update/stable", "{\"versions\": []}");
  const auto damaged = snapshot(repo);
  run = publishSample(2, repo);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("not a valid update reply"), std::string::npos) << run.err;
  EXPECT_EQ(snapshot(repo), damaged);
}

TEST_F(PublishTest, BadInputGetsOneClearLine) {
  struct Case {
    std::string modules, extra, expected;
  };
  const std::vector<Case> cases = {
      {"{\"m\": [\"veltra.sh\", \"data/*.bin\"]}", "", "pattern \"data/*.bin\" matches no file"},
      {"{\"m\": [\"../product-v2/veltra.sh\"]}", "", "it leaves the product folder"},
      {"{\"m\": [\"veltra.sh\", \"data/**\"], \"n\": [\"data/items.txt\"]}", "",
       "\"data/items.txt\" belongs to two modules, \"m\" and \"n\""},
      {"{\"m\": [\"veltra.sh\"]}", ", \"exclusive_modules\": [[\"m\", \"maps\"]]", "unknown module \"maps\""},
      {"{\"m\": {\"files\": \"veltra.sh\", \"lang\": {\"en\": 5}}}", "", "\"modules.m.lang.en\" must be a string"},
      {"{\"m\": [\"veltra.sh\"]}", ", \"setup\": [[\"x\", 1]]", "\"setup\" must be an array of [name, flag] pairs"},
      {"{\"m\": [\"veltra.sh\"]}", ", \"launch\": 3", "\"launch\" must be a string or an array of strings"},
      {"{\"m\": [\"veltra.sh\"]}", ", \"lauch\": []", "unknown key \"lauch\""},
      {"{\"m\": {\"lang\": {\"de\": \"lang/de/**\"}}}", "", "no common file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    std::string launch = c.extra.find("\"launch\"") == std::string::npos ? ", \"launch\": \"veltra.sh\"" : "";
    writeAll(path("d.json"), "{\"version\": \"2.0\", \"tag\": \"stable\", \"main\": \"m\", \"update_url\": \"u\","
                             " \"download_url\": \"d\", \"apply\": [], \"modules\": " +
                                 c.modules + launch + c.extra + "}");
    ToolRun run = publish({"release", path("d.json"), kV2, path("repo")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(c.expected), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_FALSE(fs::exists(path("repo")));
  }
  ToolRun missing = publish({"release", path("none.json"), kV2, path("repo")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("none.json"), std::string::npos);
  EXPECT_EQ(publish({"release", path("d.json")}).status, 2);
  EXPECT_EQ(publish({"image", path("repo"), "1.0", path("t"), "--colour", "red"}).status, 2);
}

TEST_F(PublishTest, ArchListsAndDamagedObjects) {
  const std::string product = path("product");
  writeAll(product + "/run.sh", "#!/bin/sh\necho run\n");
  writeAll(product + "/bin/x86_64/engine", "engine for x86_64\n");
  writeAll(product + "/bin/arm64/engine", "engine for arm64\n");
  writeAll(product + "/notes/read me.txt", "same bytes\n");
  writeAll(product + "/notes/copy.txt", "same bytes\n");
  writeAll(path("d.json"), R"({"version": "7", "tag": "beta", "main": "core", "arch": "x86_64", "lang": "en",
    "modules": {"core": {"files": ["run.sh", "notes", "bin/**"],
                         "arch": {"x86_64": "bin/x86_64/*", "arm64": ["bin/arm64/engine"]}}},
    "launch": "run.sh", "apply": "run.sh", "requirements": "windows:6.1"})");
  const std::string repo = path("repo");
  ToolRun run = publish({"release", path("d.json"), product, repo, "--base-url", "file://" + repo, "--timestamp", "T1"});
  ASSERT_EQ(run.status, 0) << run.err;
  // The two notes share one object; the database is the fifth.
  EXPECT_NE(run.out.find("5 files, 5 new objects"), std::string::npos) << run.out;

  ToolRun unzip = shell("unzip -Z1 " + quote(objectFile(repo, readReply(repo + "/update/beta")[0].id)), "/dev/null");
  EXPECT_EQ(unzip.out, "metadata.json\nmodules/core/common.json\nmodules/core/arch_x86_64.json\n"
                       "modules/core/arch_arm64.json\n");
  EXPECT_NE(readAll(repo + "/update/beta").find("\"requirements\": \"windows:6.1\""), std::string::npos);

  ASSERT_EQ(publish({"image", repo, "7", path("arm"), "--arch", "arm64"}).status, 0);
  EXPECT_EQ(readAll(path("arm/bin/arm64/engine")), "engine for arm64\n");
  EXPECT_FALSE(fs::exists(path("arm/bin/x86_64")));
  EXPECT_EQ(readAll(path("arm/notes/read me.txt")), "same bytes\n");

  // A damaged object fails the image and leaves no half installation.
  std::string id = sha256sum(product + "/bin/x86_64/engine");
  writeAll(objectFile(repo, id), "not gzip, not the content");
  ToolRun bad = publish({"image", repo, "7", path("x86")});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("object " + id + " is damaged"), std::string::npos) << bad.err;
  EXPECT_FALSE(fs::exists(path("x86")));
  EXPECT_EQ(publish({"image", repo, "8", path("x86")}).status, 1);  // no such version
}

}  // namespace
}  // namespace nx::test
