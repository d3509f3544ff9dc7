// The privilege boundary. The applier runs elevated for a user, started the
// way the bootstrap stage starts it: through an elevation helper (here a
// setuid stand-in that clears the environment, as pkexec does), while every
// step of the user runs under another uid. Each row is one attack by that
// user; whatever it tries, a root-only file outside the installation stays
// untouched, the write folder holds nothing the user does not own, and the
// user's own updater still works afterwards.
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "io/handmade_zip.h"
#include "io/io_test_util.h"
#include "support/update_fixture.h"

namespace nx::test {
namespace {

constexpr uid_t kUser = 4242;

class ApplierPrivilegeTest : public UpdateFixture {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "acting as another user needs root";
    publish(1);
    publish(2);
    const std::string reply = fileText(repo() + "/update/stable"), key = "\"database_id\": \"";
    v2Id = reply.substr(reply.find(key, reply.find(key) + 1) + key.size(), 64);
    fs::permissions(root(), fs::perms(0755));
    fs::copy_file(build("elevate_stand_in"), helper);
    ::chmod(helper.c_str(), 04755);
    writeAll(outside + "/secret", "root only\n");
    ::chmod((outside + "/secret").c_str(), 0600);
  }

  // A fresh installation of 1.0 (root's, or the user's) and the user's
  // folders, with the objects of 2.0 already in the staging folder.
  void fresh(bool userOwned) {
    for (const std::string& folder : {install(), path("data"), path("cache")}) fs::remove_all(folder);
    image("1.0");
    fs::create_directories(writeFolder());
    fs::create_directories(stagingFolder());
    fs::copy(repo() + "/objects", stagingFolder(), fs::copy_options::recursive);
    for (const std::string& folder : {path("data"), path("cache"), userOwned ? install() : std::string()})
      if (!folder.empty())
        runProgram("/bin/chown", {"-R", std::to_string(kUser) + ":" + std::to_string(kUser), folder});
  }

  ProgramResult asUser(const std::string& script) {
    return runProgram("/usr/bin/setpriv",
                      {"--reuid=" + std::to_string(kUser), "--regid=" + std::to_string(kUser), "--clear-groups",
                       "/bin/sh", "-c", script},
                      environment({{"B", install()},
                                   {"W", writeFolder()},
                                   {"S", stagingFolder()},
                                   {"O", outside},
                                   {"ID", v2Id},
                                   {"H", helper},
                                   {"AUTOUPDATE_ELEVATE", helper},
                                   {"AUTOUPDATE_ANSWER", "yes"}}),
                      120);
  }

  static struct stat status(const fs::path& p) {
    struct stat st {};
    ::lstat(p.c_str(), &st);
    return st;
  }

  std::string v2Id, helper = path("elevate"), outside = path("outside");
};

TEST_F(ApplierPrivilegeTest, AttacksOfTheInvokingUser) {
  const std::string items = readAll(NX_SOURCE_DIR "/examples/product-v2/data/items.txt"), itemsId = sha256(items);
  const std::string object = "\"$S/" + itemsId.substr(0, 2) + "/" + itemsId + "\"";
  const std::string apply = " \"$H\" \"$B/bin/applier\" \"$B\" \"$W\" \"$S\" \"$ID\"";
  // A file cache that vouches for the installed 1.0 items as if they were 2.0's.
  auto forgeCache = [&] {
    struct stat st = status(install() + "/data/items.txt");
    const uint64_t time =
        static_cast<uint64_t>(st.st_mtim.tv_sec) * 10000000 + st.st_mtim.tv_nsec / 100 + 116444736000000000ull;
    writeAll(path("forged.cache"),
             handmadeZip({deflatedMember("cacheinfo.json", R"({"version": "1.0"})"),
                          deflatedMember("filecache.json", R"([["data/items.txt", ")" + itemsId + "\", " +
                                                               std::to_string(st.st_size) + ", " +
                                                               std::to_string(time) + "]]")}));
    ::chmod(path("forged.cache").c_str(), 0644);
  };
  struct Attack {
    const char* name;
    bool userOwned;
    int code;
    const char* text;
    std::string script;
    std::function<void()> asRoot = {};
  };
  const std::string wrongWrite = " \"$H\" \"$B/bin/applier\" \"$B\" ";
  const std::vector<Attack> attacks = {
      {"the whole update under umask 077", true, 0, "applied successfully", "umask 077; \"$B/bin/autoupdate\" update"},
      {"a new module's folder under umask 077", true, 0, "", "umask 077;" + apply + " install maps"},
      {"the log through a link", false, 0, "",
       "mkdir \"$W/Logs\" && ln -s \"$O/secret\" \"$W/Logs/autoupdate.log\" &&" + apply},
      {"Logs is a link", false, 0, "", "ln -s \"$O\" \"$W/Logs\" &&" + apply},
      {"the lock is a link", false, 11, "cannot take the lock",
       "ln -s \"$O/nologin\" \"$W/autoupdate.lock\" &&" + apply + "; code=$?; rm \"$W/autoupdate.lock\"; exit $code"},
      {"the write folder is a link", false, 10, "is a symbolic link",
       "ln -s \"$O\" \"$W.link\" &&" + wrongWrite + "\"$W.link\" \"$S\" \"$ID\""},
      {"the write folder is root's", false, 10, "does not belong", wrongWrite + "\"$O\" \"$S\" \"$ID\""},
      {"a journal in the write folder", false, 0, "",
       "printf 'VELTRA applier journal 1\\nbase %s\\ncache keep\\nwrite " + itemsId +
           " 5 0 data/items.txt\\nend\\nrollback\\n' \"$B\" > \"$W/applier.journal\" &&" + apply +
           " install \"$(printf 'x\\n00000.000 INFO   : forged')\""},
      {"a journal for another base folder", false, 16, "damaged", apply,
       [&] {
         writeAll(install() + "/applier.journal",
                  "VELTRA applier journal 1\nbase " + outside + "\ncache keep\nremove secret\nend\nrollback\n");
       }},
      {"an object that links to a root-only file", false, 13, "missing",
       "rm " + object + " && ln -s \"$O/secret\" " + object + " &&" + apply},
      {"a forged file cache", false, 0, "", "cp \"" + path("forged.cache") + "\" \"$W/autoupdate.cache\" &&" + apply,
       forgeCache},
      {"test hooks in a kept environment", false, 0, "", "true",
       [&] {
         ProgramResult run = runProgram(install() + "/bin/applier", {install(), writeFolder(), stagingFolder(), v2Id},
                                        {{"PKEXEC_UID", std::to_string(kUser)}, {"NX_APPLIER_TEST_HOOK", "crash:1"}});
         EXPECT_EQ(run.status, 0) << run.err;
       }},
  };
  for (const Attack& attack : attacks) {
    SCOPED_TRACE(attack.name);
    fresh(attack.userOwned);
    if (attack.asRoot) attack.asRoot();
    const Snapshot outsideBefore = snapshot(outside), installBefore = snapshot(install());
    ProgramResult run = asUser(attack.script);
    EXPECT_EQ(run.status, attack.code) << run.err;
    EXPECT_PRED2(contains, run.err, attack.text);
    EXPECT_EQ(snapshot(outside), outsideBefore);
    if (attack.code != 0) {
      EXPECT_EQ(snapshot(install()), installBefore);
    } else {
      EXPECT_EQ(readAll(install() + "/data/items.txt"), items);
    }
    const std::string log = fs::exists(writeFolder() + "/Logs/autoupdate.log")
                                ? readAll(writeFolder() + "/Logs/autoupdate.log")
                                : std::string();
    EXPECT_FALSE(contains(log, "\n00000.000 INFO   : forged")) << log;
    EXPECT_FALSE(contains(log, sha256("root only\n"))) << log;
    // The user owns all that is left in the write folder, and the installation
    // keeps its owner, with permissions no umask took away.
    for (const auto& e : fs::recursive_directory_iterator(path("data"))) EXPECT_EQ(status(e).st_uid, kUser) << e.path();
    for (const auto& e : fs::recursive_directory_iterator(install())) {  // links not followed
      const fs::path& p = e.path();
      struct stat st = status(p);
      EXPECT_EQ(st.st_uid, attack.userOwned ? kUser : 0) << p;
      EXPECT_EQ(st.st_mode & 0644, 0644u) << p;
      if (S_ISDIR(st.st_mode) || p.filename() == "autoupdate" || p.filename() == "applier") {
        EXPECT_EQ(st.st_mode & 0755, 0755u) << p;
      }
    }
    ProgramResult check = asUser("\"$B/bin/autoupdate\" check");
    EXPECT_EQ(check.status, 0) << check.err;
  }
}

}  // namespace
}  // namespace nx::test
