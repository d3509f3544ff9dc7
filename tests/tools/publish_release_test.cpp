// Runs the real publish program on real folders and reads what it wrote with
// the system's own tools and the updater's own readers.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "app/text.h"
#include "db/database.h"
#include "db/install_state.h"
#include "db/json.h"
#include "support/temp_folder.h"

namespace nx::test {
namespace {

namespace fs = std::filesystem;
const std::string kExamples = NX_SOURCE_DIR "/examples";

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeAll(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string quote(const std::string& word) { return "'" + word + "'"; }  // the paths used hold no quote

struct ToolRun { int status = -1; std::string out, err; };

// Runs a shell command line; stdout is captured, stderr goes to errFile.
ToolRun shell(const std::string& command, const std::string& errFile = "/dev/null") {
  ToolRun run;
  FILE* pipe = popen((command + " 2>" + quote(errFile)).c_str(), "r");
  char buffer[4096];
  for (size_t got; pipe && (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.out.append(buffer, got);
  int raw = pipe ? pclose(pipe) : -1;
  run.status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.err = readAll(errFile);
  return run;
}

std::string sha256sum(const std::string& file) { return shell("sha256sum " + quote(file)).out.substr(0, 64); }
std::string gunzip(const std::string& file) { return shell("gzip -dc " + quote(file)).out; }
std::string objectFile(std::string repo, std::string id) { return repo + "/objects/" + id.substr(0, 2) + "/" + id; }

// Every entry below root (relative path -> bytes), for before/after checks.
std::map<std::string, std::string> snapshot(const std::string& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    files[fs::relative(entry.path(), root).generic_string()] =
        entry.is_regular_file() ? readAll(entry.path().string()) : "<folder>";
  return files;
}

// A JSON tree flattened to its leaves: "versions.1.version" -> its text (a number's as written).
void flatten(yajl_val v, const std::string& at, std::map<std::string, std::string>& out) {
  for (size_t i = 0; YAJL_IS_OBJECT(v) && i < v->u.object.len; ++i)
    flatten(v->u.object.values[i], at + "." + v->u.object.keys[i], out);
  for (size_t i = 0; YAJL_IS_ARRAY(v) && i < v->u.array.len; ++i)
    flatten(v->u.array.values[i], at + "." + std::to_string(i), out);
  if (YAJL_IS_STRING(v) || YAJL_IS_NUMBER(v)) out[at.substr(1)] = YAJL_IS_STRING(v) ? v->u.string : v->u.number.r;
}

// A reply parsed as the updater parses JSON.
std::map<std::string, std::string> readReply(const std::string& file) {
  std::map<std::string, std::string> out;
  flatten(parseJsonText(readAll(file)).get(), "", out);
  return out;
}

class PublishTest : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return toUtf8(dir.path()) + "/" + name; }

  ToolRun publish(const std::vector<std::string>& words) {
    std::string command = quote(NX_BUILD_DIR "/publish");
    for (const std::string& w : words) command.append(" ").append(quote(w));
    return shell(command, path("stderr.txt"));
  }

  // Publishes sample version v; the applier files it names are made up here.
  ToolRun publishSample(int v, const std::string& repo, const std::string& baseUrl = "") {
    writeAll(path("applier"), "#!/bin/sh\nexit 0\n");
    const std::string n = std::to_string(v);
    return publish({"release", kExamples + "/release-v" + n + ".json", kExamples + "/product-v" + n, repo,
                    "--base-url", baseUrl.empty() ? "file://" + repo : baseUrl, "--add",
                    "bin/applier=" + path("applier"), "--add", "bin/autoupdate=" + path("applier")});
  }

  TempFolder dir;
};

TEST_F(PublishTest, ReleaseWritesVerifiableObjectsDatabaseAndReplyTheSameEveryTime) {
  const std::string repo = path("repo");
  ToolRun run = publishSample(1, repo);
  ASSERT_EQ(run.status, 0) << run.err;
  auto reply = readReply(repo + "/update/stable");
  EXPECT_EQ(reply["download_url.0"], "file://" + repo + "/objects");
  EXPECT_EQ(reply["versions.0.version"] + " " + reply["versions.0.timestamp"], "1.0 2026-12-01T10:00:00Z");

  // The database is a plain object named by its own digest, read as the updater reads it.
  const std::string dbFile = objectFile(repo, reply["versions.0.database_id"]);
  EXPECT_EQ(sha256sum(dbFile), reply["versions.0.database_id"]);
  EXPECT_EQ(std::to_string(fs::file_size(dbFile)), reply["versions.0.database_size"]);
  Database db;
  loadMetadata(kInvalidStructure, db, fromUtf8(dbFile));
  EXPECT_EQ(db.version + " " + db.tag + " " + db.main, "1.0 stable veltra");
  EXPECT_EQ(db.update_url, std::vector<std::string>{"file://" + repo + "/update/stable"});
  EXPECT_EQ(db.apply, (std::vector<std::string>{"bin/applier", "bin/autoupdate"}));
  db.modules["maps"] = true;
  db.lang = "de";
  loadFileLists(db, fromUtf8(dbFile));
  EXPECT_EQ(db.files.count("lang/en/greeting.txt"), 0u);  // only in the English list
  EXPECT_EQ(db.files.at("maps/island.txt").module, "maps");

  // Every product file is a gzip object (no name, mtime 0) whose id is the digest of the file.
  for (const char* rel : {"veltra.sh", "data/items.txt", "data/notes.txt", "lang/de/greeting.txt", "maps/island.txt"}) {
    SCOPED_TRACE(rel);
    const std::string source = kExamples + "/product-v1/" + rel;
    const FileRecord& record = db.files.at(rel);
    EXPECT_EQ(record.hash, sha256sum(source));
    EXPECT_EQ(record.size, fs::file_size(source));
    EXPECT_EQ(readAll(objectFile(repo, record.hash)).substr(0, 8), std::string("\x1f\x8b\x08\0\0\0\0\0", 8));
    EXPECT_EQ(gunzip(objectFile(repo, record.hash)), readAll(source));
  }

  // The same input with the same addresses gives the same bytes; publishing
  // it again replaces the entry with itself.
  const auto first = snapshot(repo);
  ASSERT_EQ(publishSample(1, path("copy"), "file://" + repo).status, 0);
  EXPECT_EQ(snapshot(path("copy")), first);
  run = publishSample(1, repo);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find(" 0 new objects"), std::string::npos) << run.out;
  EXPECT_EQ(snapshot(repo), first);
}

TEST_F(PublishTest, SecondVersionKeepsTheFirstAndImagesMatchTheirProduct) {
  const std::string repo = path("repo");
  ASSERT_EQ(publishSample(2, repo).status, 0);  // out of order on purpose
  ASSERT_EQ(publishSample(1, repo).status, 0);
  auto reply = readReply(repo + "/update/stable");
  // Oldest first: the updater offers the last newer entry.
  EXPECT_EQ(reply["versions.0.version"] + " " + reply["versions.1.version"], "1.0 2.0");
  EXPECT_EQ(reply.count("versions.2.version"), 0u);

  // Version 1 in German without the optional module, version 2 in English with it.
  for (int v : {1, 2}) {
    SCOPED_TRACE(v);
    const std::string n = std::to_string(v), target = path("image" + n), lang = v == 1 ? "de" : "en";
    const std::string product = kExamples + "/product-v" + n;
    ToolRun run = publish({"image", repo, n + ".0", target, "--lang", lang, "--module", v == 1 ? "veltra" : "maps"});
    ASSERT_EQ(run.status, 0) << run.err;
    auto image = snapshot(target);
    for (const auto& [rel, bytes] : snapshot(product)) {
      const bool left = rel.starts_with(v == 1 ? "lang/en" : "lang/de") || (v == 1 && rel.starts_with("maps"));
      EXPECT_EQ(image.count(rel) ? image[rel] : "<none>", left ? "<none>" : bytes) << rel;
    }
    EXPECT_EQ(image["bin/applier"], readAll(path("applier")));
    EXPECT_EQ(image["Config/lang.cfg"], lang);
    EXPECT_EQ(image["autoupdate.db"], readAll(objectFile(repo, reply["versions." + std::to_string(v - 1) + ".database_id"])));
    // Runs only if it kept its execute permission.
    EXPECT_EQ(shell(quote(target + "/veltra.sh")).out, "VELTRA " + n + ".0\n" + image["lang/" + lang + "/greeting.txt"]);

    Database db;  // the state reads back as the updater loads an installation
    loadMetadata(kInvalidStructure, db, fromUtf8(target + "/autoupdate.db"));
    loadInstallState(kInvalidStructure, db, fromUtf8(target + "/autoupdate.cfg"));
    EXPECT_EQ(db.arch + " " + db.lang, "x86_64 " + lang);
    EXPECT_TRUE(db.modules["veltra"]);
    EXPECT_EQ(db.modules["maps"], v == 2);
  }
}

TEST_F(PublishTest, FailuresGiveOneClearLineAndLeaveTheRepositoryAsItWas) {
  const std::string repo = path("repo");
  ASSERT_EQ(publishSample(1, repo).status, 0);
  const auto before = snapshot(repo);

  // Bad input is found before anything is written.
  const std::pair<std::string, std::string> cases[] = {  // further keys, the line's core
      {R"("modules": {"m": ["veltra.sh", "data/*.bin"]})", "pattern \"data/*.bin\" matches no file"},
      {R"("modules": {"m": ["veltra.sh", "missing.txt"]})", "no file \"missing.txt\" in the product folder"},
      {R"("modules": {"m": ["../product-v2/veltra.sh"]})", "it leaves the product folder"},
      {R"("modules": {"m": ["veltra.sh", "data/**"], "n": ["data/items.txt"]})",
       "\"data/items.txt\" belongs to two modules, \"m\" and \"n\""},
      {R"("modules": {"m": ["veltra.sh"]}, "exclusive_modules": [["m", "maps"]])", "unknown module \"maps\""},
      {R"("modules": {"m": {"files": "veltra.sh", "lang": {"en": 5}}})", "\"modules.m.lang.en\" must be a string"},
      {R"("modules": {"m": ["veltra.sh"]}, "setup": [["x", 1]])", "\"setup\" must be an array of [name, flag] pairs"},
      {R"("modules": {"m": ["veltra.sh"]}, "launch": 3)", "\"launch\" must be a string or an array of strings"},
      {R"("modules": {"m": ["veltra.sh"]}, "lauch": [])", "unknown key \"lauch\""},
      {R"("modules": {"m": {"lang": {"de": "lang/de/**"}}})", "no common file"},
  };
  for (const auto& [rest, expected] : cases) {
    SCOPED_TRACE(expected);
    writeAll(path("d.json"), R"({"version": "2.0", "tag": "stable", "main": "m", "update_url": "u", "download_url": "d", )"
                             R"("apply": [], )" + rest + (rest.find("launch") == rest.npos ? R"(, "launch": "x"})" : "}"));
    ToolRun run = publish({"release", path("d.json"), kExamples + "/product-v2", repo});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(expected), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(snapshot(repo), before);
  }
  ToolRun missing = publish({"release", path("none.json"), kExamples + "/product-v2", repo});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("none.json"), std::string::npos);
  EXPECT_EQ(publish({"release", path("d.json")}).status, 2);
  EXPECT_EQ(publish({"image", repo, "1.0", path("t"), "--colour", "red"}).status, 2);
  EXPECT_EQ(snapshot(repo), before);

  // A failure at the very last step takes back the objects and database
  // already written: here the reply's temporary name is too long for the disk.
  ToolRun last = publish({"release", kExamples + "/release-v2.json", kExamples + "/product-v2", repo, "--channel",
                          std::string(250, 'c'), "--base-url", "file://" + repo, "--add",
                          "bin/applier=" + path("applier"), "--add", "bin/autoupdate=" + path("applier")});
  EXPECT_EQ(last.status, 1);
  EXPECT_NE(last.err.find("File name too long"), std::string::npos) << last.err;
  EXPECT_EQ(snapshot(repo), before);

  // A reply file that is not a reply is never overwritten.
  writeAll(repo + "/update/stable", "{\"versions\": []}");
  const auto damaged = snapshot(repo);
  ToolRun run = publishSample(2, repo);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("not a valid update reply"), std::string::npos) << run.err;
  EXPECT_EQ(snapshot(repo), damaged);
}

// Product folders and repositories that would publish something other than
// what the user meant, or that fail part way.
TEST_F(PublishTest, HostileProductsAndFailuresOnTheWayAreRefusedClearly) {
  const std::string product = path("product"), repo = path("repo");
  for (int i = 0; i < 40; ++i) writeAll(product + "/data/file" + std::to_string(i) + ".txt", std::to_string(i));
  writeAll(product + "/run.sh", "#!/bin/sh\n");
  writeAll(path("secret"), "outside the product\n");
  writeAll(path("d.json"), R"({"version": "1", "tag": "beta", "main": "core", "modules": {"core": ["**"]},
    "launch": "run.sh", "apply": "run.sh"})");
  auto release = [&](std::vector<std::string> more = {}, const std::string& prefix = "") {
    std::vector<std::string> words{"release", path("d.json"), product, repo, "--base-url", "https://host/repo/"};
    words.insert(words.end(), more.begin(), more.end());
    std::string command = prefix + quote(NX_BUILD_DIR "/publish");
    for (const std::string& w : words) command.append(" ").append(quote(w));
    return shell(command, path("stderr.txt"));
  };
  auto refused = [&](const ToolRun& run, const std::string& line) {
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "publish: " + line + "\n");
    EXPECT_FALSE(fs::exists(repo));
  };

  // The installation's own state, in any letter case.
  for (const std::string name : {"autoupdate.db", "AutoUpdate.cfg", "Config/lang.cfg", "config/Retail.cfg",
                                 "Config/autoupdate.tag", "autoupdate.cache", "Logs/autoupdate.log"}) {
    writeAll(product + "/" + name, "x");
    refused(release(), "product file \"" + name +
                           "\" cannot be published: the updater keeps the installation's own state under that name");
    fs::remove(product + "/" + name);
  }
  // A name that is not UTF-8, or one with a backslash, which no installation can hold.
  for (const std::string name : {"caf\xE9.txt", "a\\b.txt"}) {
    writeAll(product + "/data/" + name, "x");
    refused(release(), "file name is not valid UTF-8 (or holds a \"\\\") in \"" + product + "/data\"");
    fs::remove(product + "/data/" + name);
  }

  // Links: within the product folder they are followed, out of it only on request.
  fs::create_symlink("../run.sh", product + "/data/alias.sh");
  fs::create_symlink(path("secret"), product + "/data/secret.txt");
  refused(release(), "product file \"data/secret.txt\" is a symbolic link that leaves the product folder (to \"" +
                         path("secret") + "\"); give --follow-links to publish what it points to");
  fs::remove(product + "/data/secret.txt");
  fs::create_directory_symlink(path(""), product + "/up");
  refused(release(), "product folder \"up\" is a symbolic link that leaves the product folder (to \"" +
                         toUtf8(dir.path()) + "\"); give --follow-links to publish what it points to");
  fs::remove(product + "/up");
  fs::create_symlink(path("secret"), product + "/data/secret.txt");
  EXPECT_EQ(release({"--follow-links=yes"}).status, 2);

  // A disk that takes the objects but not the database (files over 512 bytes
  // are refused): the disk's own reason, and nothing is left behind.
  ToolRun full = release({"--follow-links"}, "trap '' XFSZ; ulimit -f 1; ");
  EXPECT_EQ(full.status, 1);
  EXPECT_NE(full.err.find("publish: cannot write the update database"), std::string::npos) << full.err;
  EXPECT_NE(full.err.find("File too large"), std::string::npos) << full.err;
  EXPECT_EQ(std::count(full.err.begin(), full.err.end(), '\n'), 1) << full.err;
  EXPECT_FALSE(fs::exists(repo)) << full.err;

  // A base URL with a trailing "/" gives single slashes.
  ToolRun run = release({"--follow-links"});
  ASSERT_EQ(run.status, 0) << run.err;
  auto reply = readReply(repo + "/update/beta");
  EXPECT_EQ(reply["download_url.0"], "https://host/repo/objects");
  const std::string dbFile = objectFile(repo, reply["versions.0.database_id"]);
  Database db;
  loadMetadata(kInvalidStructure, db, fromUtf8(dbFile));
  EXPECT_EQ(db.update_url, std::vector<std::string>{"https://host/repo/update/beta"});
  db.modules["core"] = true;
  loadFileLists(db, fromUtf8(dbFile));
  EXPECT_EQ(gunzip(objectFile(repo, db.files.at("data/secret.txt").hash)), "outside the product\n");
  EXPECT_EQ(db.files.at("data/alias.sh").hash, db.files.at("run.sh").hash);

  // A database object that is an empty zip archive is called what it is.
  const std::string emptyZip("PK\x05\x06" + std::string(18, '\0'));
  writeAll(path("empty.zip"), emptyZip);
  const std::string emptyId = sha256sum(path("empty.zip"));
  writeAll(objectFile(repo, emptyId), emptyZip);
  writeAll(repo + "/update/empty", R"({"download_url": "d", "versions": [{"timestamp": "T", "version": "9", "database_id": ")" +
                                       emptyId + R"(", "database_size": 22}]})");
  ToolRun image = publish({"image", repo, "9", path("target"), "--channel", "empty"});
  EXPECT_EQ(image.status, 1);
  EXPECT_EQ(image.err, "publish: database object " + emptyId + " is an empty zip archive: it holds no metadata.json\n");
  EXPECT_FALSE(fs::exists(path("target")));
}

TEST_F(PublishTest, ArchListsLargeAndEmptyFilesAndDamagedObjects) {
  const std::string product = path("product"), repo = path("repo");
  std::string big;  // several compression chunks, partly incompressible
  for (uint32_t x = 7; big.size() < 300000; x = x * 1664525u + 1013904223u) big += x & 0x100 ? std::to_string(x) : "veltra ";
  for (const auto& [rel, bytes] : std::map<std::string, std::string>{
           {"run.sh", "#!/bin/sh\necho run\n"}, {"bin/x86_64/engine", "engine for x86_64\n"},
           {"bin/arm64/engine", "engine for arm64\n"}, {"notes/read me.txt", "same bytes\n"},
           {"notes/copy.txt", "same bytes\n"}, {"notes/big.txt", big}, {"notes/empty.txt", ""}})
    writeAll(product + "/" + rel, bytes);
  writeAll(path("d.json"), R"({"version": "7", "tag": "beta", "main": "core", "arch": "x86_64", "lang": "en",
    "modules": {"core": {"files": ["run.sh", "notes", "bin/**"],
                         "arch": {"x86_64": "bin/x86_64/*", "arm64": ["bin/arm64/engine"]}}},
    "launch": "run.sh", "apply": "run.sh", "requirements": "windows:6.1"})");
  ToolRun run = publish({"release", path("d.json"), product, repo, "--base-url", "file://" + repo, "--timestamp", "T1"});
  ASSERT_EQ(run.status, 0) << run.err;
  // The two notes share one object; the database is the last.
  EXPECT_NE(run.out.find("7 files, 7 new objects"), std::string::npos) << run.out;
  auto reply = readReply(repo + "/update/beta");
  EXPECT_EQ(reply["versions.0.requirements"], "windows:6.1");
  EXPECT_EQ(shell("unzip -Z1 " + quote(objectFile(repo, reply["versions.0.database_id"]))).out,
            "metadata.json\nmodules/core/common.json\nmodules/core/arch_x86_64.json\nmodules/core/arch_arm64.json\n");
  for (std::string rel : {"notes/big.txt", "notes/empty.txt"})
    EXPECT_EQ(gunzip(objectFile(repo, sha256sum(product + "/" + rel))), readAll(product + "/" + rel)) << rel;

  ASSERT_EQ(publish({"image", repo, "7", path("arm"), "--arch", "arm64"}).status, 0);
  EXPECT_EQ(readAll(path("arm/bin/arm64/engine")), "engine for arm64\n");
  EXPECT_FALSE(fs::exists(path("arm/bin/x86_64")));
  EXPECT_EQ(readAll(path("arm/notes/read me.txt")), "same bytes\n");
  EXPECT_EQ(readAll(path("arm/notes/big.txt")), big);

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
