// Runs the real publish program on real folders and reads what it wrote with
// the system's own tools and the updater's own readers.
#include <gtest/gtest.h>

#include "db/database.h"
#include "db/install_state.h"
#include "db/json.h"
#include "io/io_test_util.h"
#include "support/platform.h"
#include "support/program_run.h"
#include "support/temp_folder.h"
#include "support/update_fixture.h"

namespace nx::test {
namespace {

const std::string kExamples = NX_SOURCE_DIR "/examples";

std::string gunzip(const std::string& file) { return runCommand("gzip -dc " + quoted(file)); }
std::string objectFile(const std::string& repo, const std::string& id) {
  return repo + "/objects/" + id.substr(0, 2) + "/" + id;
}

// A reply parsed as the updater parses JSON, flattened to its leaves:
// "versions.1.version" -> its text (a number's as written).
void flatten(yajl_val v, const std::string& at, std::map<std::string, std::string>& out) {
  for (size_t i = 0; YAJL_IS_OBJECT(v) && i < v->u.object.len; ++i)
    flatten(v->u.object.values[i], at + "." + v->u.object.keys[i], out);
  for (size_t i = 0; YAJL_IS_ARRAY(v) && i < v->u.array.len; ++i)
    flatten(v->u.array.values[i], at + "." + std::to_string(i), out);
  if (YAJL_IS_STRING(v) || YAJL_IS_NUMBER(v)) out[at.substr(1)] = YAJL_IS_STRING(v) ? v->u.string : v->u.number.r;
}
std::map<std::string, std::string> readReply(const std::string& file) {
  std::map<std::string, std::string> out;
  flatten(parseJsonText(readAll(file)).get(), "", out);
  return out;
}

// A database object read as the updater reads it, with these modules selected.
Database readDatabase(const std::string& file, const std::vector<std::string>& modules, const std::string& lang = "") {
  Database db;
  loadMetadata(kInvalidStructure, db, fromUtf8(file));
  for (const auto& m : modules) db.modules[m] = true;
  db.lang = lang;
  loadFileLists(db, fromUtf8(file));
  return db;
}

class PublishTest : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return toUtf8(dir.path()) + "/" + name; }

  // On a small disk no file over 512 bytes can be written.
  ProgramResult publish(std::vector<std::string> words, bool smallDisk = false) {
    if (!smallDisk) return runProgram(NX_BUILD_DIR "/publish", words);
    words.insert(words.begin(), {"-c", "trap '' XFSZ; ulimit -f 1; exec \"$0\" \"$@\"", NX_BUILD_DIR "/publish"});
    return runProgram("/bin/sh", words);
  }
  // Publishes sample version v; the applier files it names are made up here.
  ProgramResult publishSample(int v, const std::string& repo, const std::string& baseUrl = "",
                              const std::vector<std::string>& more = {}) {
    const std::string applier = path("applier");
    writeAll(applier, "#!/bin/sh\nexit 0\n");
    return publishRelease(v, repo, baseUrl.empty() ? fileUrl(repo) : baseUrl, applier, applier, applier, more);
  }
  // A failure: one line on stderr with this text, exit code 1.
  static void expectFailure(const ProgramResult& run, const std::string& text) {
    EXPECT_EQ(run.status, 1);
    EXPECT_PRED2(contains, run.err, text);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }

  TempFolder dir;
};

TEST_F(PublishTest, ReleaseWritesVerifiableObjectsDatabaseAndReplyTheSameEveryTime) {
  const std::string repo = path("repo");
  ProgramResult run = publishSample(1, repo);
  ASSERT_EQ(run.status, 0) << run.err;
  auto reply = readReply(repo + "/update/stable");
  EXPECT_EQ(reply["download_url.0"], fileUrl(repo) + "/objects");
  EXPECT_EQ(reply["versions.0.version"] + " " + reply["versions.0.timestamp"], "1.0 2026-12-01T10:00:00Z");

  // The database is a plain object named by its own digest.
  const std::string dbFile = objectFile(repo, reply["versions.0.database_id"]);
  EXPECT_EQ(toolDigestOf(dbFile) + " " + std::to_string(fs::file_size(dbFile)),
            reply["versions.0.database_id"] + " " + reply["versions.0.database_size"]);
  Database db = readDatabase(dbFile, {"maps"}, "de");

  // A product file is a gzip object (no name, mtime 0) named by the digest of the file.
  const std::string source = kExamples + "/product-v1/data/items.txt", object = objectFile(repo, toolDigestOf(source));
  EXPECT_EQ(readAll(object).substr(0, 8), std::string("\x1f\x8b\x08\0\0\0\0\0", 8));
  if (!onWindows) {  // gzip as the judge
    EXPECT_EQ(gunzip(object), readAll(source));
  }

  // The same input with the same addresses gives the same bytes; publishing
  // it again replaces the entry with itself.
  const auto first = snapshot(repo);
  ASSERT_EQ(publishSample(1, path("copy"), fileUrl(repo)).status, 0);
  EXPECT_EQ(snapshot(path("copy")), first);
  run = publishSample(1, repo);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_PRED2(contains, run.out, " 0 new objects");
  EXPECT_EQ(snapshot(repo), first);
}

// Installations made by `publish image` are checked against their product
// by the applier and end-to-end tests.
TEST_F(PublishTest, SecondVersionKeepsTheFirst) {
  const std::string repo = path("repo");
  ASSERT_EQ(publishSample(2, repo).status, 0);  // out of order on purpose
  ASSERT_EQ(publishSample(1, repo).status, 0);
  auto reply = readReply(repo + "/update/stable");
  // Oldest first: the updater offers the last newer entry.
  EXPECT_EQ(reply["versions.0.version"] + " " + reply["versions.1.version"], "1.0 2.0");
}

TEST_F(PublishTest, FailuresGiveOneClearLineAndLeaveTheRepositoryAsItWas) {
  const std::string repo = path("repo");
  ASSERT_EQ(publishSample(1, repo).status, 0);
  const auto before = snapshot(repo);

  // Bad input is found before anything is written.
  const std::pair<std::string, std::string> cases[] = {
      // further keys, the line's core
      {R"("modules": {"m": ["veltra.sh", "data/*.bin"]})", "pattern \"data/*.bin\" matches no file"},
      {R"("modules": {"m": ["veltra.sh", "missing.txt"]})", "no file \"missing.txt\" in the product folder"},
      {R"("modules": {"m": ["../product-v2/veltra.sh"]})", "it leaves the product folder"},
      {R"("modules": {"m": ["veltra.sh", "data/**"], "n": ["data/items.txt"]})",
       "\"data/items.txt\" belongs to two modules, \"m\" and \"n\""},
      {R"("modules": {"m": {"files": "veltra.sh", "arch": {"x86_64": "veltra.sh"}, "lang": {"de": "veltra.sh"}}})",
       "module \"m\": \"veltra.sh\" is listed for both arch_x86_64 and lang_de"},
      {R"("modules": {"m": ["veltra.sh"]}, "exclusive_modules": [["m", "maps"]])", "unknown module \"maps\""},
      {R"("modules": {"m": ["veltra.sh"]}, "launch": 3)", "\"launch\" must be a string or an array of strings"},
      {R"("modules": {"m": ["veltra.sh"]}, "lauch": [])", "unknown key \"lauch\""},
      {R"("modules": {"m": {"lang": {"de": "lang/de/**"}}})", "no common file"},
      {"\"modules\": {\"m\": [\"veltra.sh\"]},\n \"x\" 1", "JSON error at line 2, column 6: parse error: "},
  };
  for (const auto& [rest, expected] : cases) {
    SCOPED_TRACE(expected);
    writeAll(path("d.json"),
             R"({"version": "2.0", "tag": "stable", "main": "m", "update_url": "u", "download_url": "d", )"
             R"("apply": [], )" +
                 rest + (rest.find("launch") == rest.npos ? R"(, "launch": "x"})" : "}"));
    expectFailure(publish({"release", path("d.json"), kExamples + "/product-v2", repo}), expected);
  }
  expectFailure(publish({"release", path("none.json"), kExamples + "/product-v2", repo}), "none.json");
  expectFailure(publish({"release", kExamples + "/release-v2.json", kExamples + "/product-v2", repo}),
                "no file \"bin/applier\" in the product folder; add the applier file with --add bin/applier=FILE");
  EXPECT_EQ(publish({"release", path("d.json")}).status, 2);
  EXPECT_EQ(publish({"image", repo, "1.0", path("t"), "--colour", "red"}).status, 2);
  EXPECT_EQ(snapshot(repo), before);

  // A failure at the very last step takes back the objects and database
  // already written: here the reply's temporary name is too long for the disk.
  if (!onWindows)  // where file names are limited per name, not per path
    expectFailure(publishSample(2, repo, "", {"--channel", std::string(250, 'c')}), "File name too long");
  EXPECT_EQ(snapshot(repo), before);

  // A reply file that is not a reply is never overwritten.
  writeAll(repo + "/update/stable", "{\"versions\": []}");
  const auto damaged = snapshot(repo);
  expectFailure(publishSample(2, repo), "not a valid update reply");
  EXPECT_EQ(snapshot(repo), damaged);
}

// Product folders and repositories that would publish something other than
// what the user meant, or that fail part way.
TEST_F(PublishTest, HostileProductsAndFailuresOnTheWayAreRefusedClearly) {
  NX_POSIX_ONLY("symbolic links, byte file names and a shell's file size limit");
  const std::string product = path("product"), repo = path("repo");
  for (int i = 0; i < 40; ++i) writeAll(product + "/data/file" + std::to_string(i) + ".txt", std::to_string(i));
  writeAll(product + "/run.sh", "#!/bin/sh\n");
  writeAll(path("secret"), "outside the product\n");
  writeAll(path("d.json"), R"({"version": "1", "tag": "beta", "main": "core", "modules": {"core": ["**"]},
    "launch": "run.sh", "apply": "run.sh"})");
  auto release = [&](const std::vector<std::string>& more = {}, bool smallDisk = false) {
    const std::string baseUrl = "https://host/my repo%20\xC3\xA9/";
    std::vector<std::string> words{"release", path("d.json"), product, repo, "--base-url", baseUrl};
    words.insert(words.end(), more.begin(), more.end());
    return publish(words, smallDisk);
  };
  auto refused = [&](const std::string& line) {
    ProgramResult run = release();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "publish: " + line + "\n");
    EXPECT_FALSE(fs::exists(repo));
  };

  // The installation's own state, in any letter case; names no installation can hold.
  for (const std::string name : {"autoupdate.db", "AutoUpdate.cfg", "Config/lang.cfg", "config/Retail.cfg",
                                 "Config/autoupdate.tag", "autoupdate.cache", "Logs/autoupdate.log"}) {
    writeAll(product + "/" + name, "x");
    refused("product file \"" + name +
            "\" cannot be published: the updater keeps the installation's own state under that name");
    fs::remove(product + "/" + name);
  }
  for (const std::string name : {"caf\xE9.txt", "a\\b.txt"}) {
    writeAll(product + "/data/" + name, "x");
    refused("file name is not valid UTF-8 (or holds a \"\\\") in \"" + product + "/data\"");
    fs::remove(product + "/data/" + name);
  }

  // Links: within the product folder they are followed, out of it only on request.
  fs::create_symlink("../run.sh", product + "/data/alias.sh");
  fs::create_directory_symlink(path(""), product + "/up");
  refused("product folder \"up\" is a symbolic link that leaves the product folder (to \"" + toUtf8(dir.path()) +
          "\"); give --follow-links to publish what it points to");
  fs::remove(product + "/up");
  fs::create_symlink(path("secret"), product + "/data/secret.txt");
  refused("product file \"data/secret.txt\" is a symbolic link that leaves the product folder (to \"" + path("secret") +
          "\"); give --follow-links to publish what it points to");
  EXPECT_EQ(release({"--follow-links=yes"}).status, 2);

  // A disk that takes the objects but not the database: the disk's own reason, nothing left behind.
  ProgramResult full = release({"--follow-links"}, true);
  expectFailure(full, "publish: cannot write the update database");
  EXPECT_PRED2(contains, full.err, "File too large");
  EXPECT_FALSE(fs::exists(repo));

  // A base URL with a trailing "/" gives single slashes; what a URL cannot hold is encoded, an escape kept.
  ProgramResult run = release({"--follow-links"});
  ASSERT_EQ(run.status, 0) << run.err;
  auto reply = readReply(repo + "/update/beta");
  EXPECT_EQ(reply["download_url.0"], "https://host/my%20repo%20%C3%A9/objects");
  Database db = readDatabase(objectFile(repo, reply["versions.0.database_id"]), {"core"});
  EXPECT_EQ(db.update_url, std::vector<std::string>{"https://host/my%20repo%20%C3%A9/update/beta"});
  EXPECT_EQ(gunzip(objectFile(repo, db.files.at("data/secret.txt").hash)), "outside the product\n");
  EXPECT_EQ(db.files.at("data/alias.sh").hash, db.files.at("run.sh").hash);

  // Versions of a channel never share a timestamp (the updater offers only a
  // newer one): without one a version comes after the newest, here one far
  // ahead; one that another version has is refused.
  const std::string description = readAll(path("d.json")), ahead = "2999-12-31T23:59:59Z";
  auto describe = [&](const std::string& v) {
    std::string d = description;
    writeAll(path("d.json"), d.replace(d.find("\"1\""), 3, "\"" + v + "\""));
  };
  describe("2");
  ASSERT_EQ(release({"--follow-links", "--timestamp", ahead}).status, 0);
  describe("3");
  ASSERT_EQ(release({"--follow-links"}).status, 0);
  expectFailure(
      release({"--follow-links", "--timestamp", ahead}),
      "version \"3\" cannot take the timestamp \"" + ahead + "\": version \"2\" of channel \"beta\" has it already");
  reply = readReply(repo + "/update/beta");
  EXPECT_EQ(reply["versions.1.version"] + " " + reply["versions.2.version"] + " " + reply["versions.2.timestamp"],
            "2 3 3000-01-01T00:00:00Z");
}

TEST_F(PublishTest, ArchListsLargeAndEmptyFilesAndDamagedObjects) {
  const std::string product = path("product"), repo = path("repo");
  std::string big;  // several compression chunks, partly incompressible
  for (uint32_t x = 7; big.size() < 300000; x = x * 1664525u + 1013904223u)
    big += x & 0x100 ? std::to_string(x) : "veltra ";
  for (const auto& [rel, bytes] : std::map<std::string, std::string>{{"run.sh", "#!/bin/sh\necho run\n"},
                                                                     {"bin/x86_64/engine", "engine for x86_64\n"},
                                                                     {"bin/arm64/engine", "engine for arm64\n"},
                                                                     {"notes/read me.txt", "same bytes\n"},
                                                                     {"notes/copy.txt", "same bytes\n"},
                                                                     {"notes/big.txt", big},
                                                                     {"notes/empty.txt", ""}})
    writeAll(product + "/" + rel, bytes);
  writeAll(path("d.json"), R"({"version": "7", "tag": "beta", "main": "core", "arch": "x86_64",
    "modules": {"core": {"files": ["run.sh", "notes", "bin/**"],
                         "arch": {"x86_64": "bin/x86_64/*", "arm64": ["bin/arm64/engine"]}}},
    "launch": "run.sh", "apply": "run.sh", "requirements": "windows:6.1"})");
  ProgramResult run =
      publish({"release", path("d.json"), product, repo, "--base-url", fileUrl(repo), "--timestamp", "T1"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_PRED2(contains, run.out,
               "7 files, 7 new objects");  // the two notes share one object; the database is the last
  auto reply = readReply(repo + "/update/beta");
  EXPECT_EQ(reply["versions.0.requirements"], "windows:6.1");
  if (!onWindows) {  // unzip as the judge
    EXPECT_EQ(runCommand("unzip -Z1 " + quoted(objectFile(repo, reply["versions.0.database_id"]))),
              "metadata.json\nmodules/core/common.json\nmodules/core/arch_x86_64.json\nmodules/core/arch_arm64.json\n"
              "modules/core/executable.json\n");
  }

  ASSERT_EQ(publish({"image", repo, "7", path("arm"), "--arch", "arm64"}).status, 0);
  auto arm = snapshot(path("arm"));
  EXPECT_TRUE(arm["bin/arm64/engine"] == "engine for arm64\n" && !arm.count("bin/x86_64"));
  EXPECT_EQ(arm.count("Config/lang.cfg"), 0u);  // no language files: none is needed
  EXPECT_TRUE(arm["notes/read me.txt"] == "same bytes\n" && arm["notes/big.txt"] == big);
  EXPECT_TRUE(arm.count("notes/empty.txt") && arm["notes/empty.txt"].empty());

  // A damaged object fails the image and leaves no half installation.
  const std::string id = toolDigestOf(product + "/bin/x86_64/engine");
  writeAll(objectFile(repo, id), "not gzip, not the content");
  expectFailure(publish({"image", repo, "7", path("x86")}), "object " + id + " is damaged");
  EXPECT_FALSE(fs::exists(path("x86")));
  expectFailure(publish({"image", repo, "8", path("x86")}),
                "version \"8\" is not published on channel \"beta\" (published: 7)");
}

}  // namespace
}  // namespace nx::test
