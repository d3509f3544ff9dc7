// The update check through real transfers against loopback servers.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>

#include "base/text.h"
#include "check_test_util.h"
#include "io/io_error.h"
#include "net/requirements.h"
#include "net/update_reply.h"
#include "sys/os_version.h"

namespace nx::test {
namespace {

using Strings = std::vector<std::string>;

const std::string kPath = "/update/stable";

TEST_F(CheckTest, RequestNamesEachModuleOnceWithTagHeadersAndUserAgent) {
  server.serve(kPath, replyText({}));
  updater->installList = {"maps", "extra", "extra"};
  updater->sourceTag = "retail_7";
  ASSERT_EQ(check().code, ErrorCode::NoError);
  updater->sourceTag.clear();
  ASSERT_EQ(check().code, ErrorCode::NoError);

  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].target, kPath + "?mods=maps,extra,veltra&src=retail_7");
  EXPECT_EQ(requests[1].target, kPath + "?mods=maps,extra,veltra");
  for (const ReceivedRequest& r : requests) {
    EXPECT_EQ(r.header("Cache-Control") + r.header("Pragma"), "no-cacheno-cache");
    EXPECT_EQ(r.header("User-Agent"), std::string("VELTRA_UPDATER/1.0 ") + curl_version());
  }
}

TEST_F(CheckTest, UpdateUrlsAreTriedInRandomOrderEachOnceAndTheLastFailureCounts) {
  const Strings paths = {"/u/a", "/u/b", "/u/c"};
  updater->database.update_url.clear();
  for (const std::string& p : paths) {
    server.serve(p, "", p == "/u/b" ? 418 : 404);
    updater->database.update_url.push_back(server.url(p));
  }
  std::set<Strings> orders;
  for (int run = 0; run < 20; ++run) {
    const size_t before = server.requests().size();
    const std::string failure = check().what();
    Strings order;
    for (size_t i = before; i < server.requests().size(); ++i) order.push_back(server.requests()[i].path);
    EXPECT_TRUE(std::is_permutation(order.begin(), order.end(), paths.begin(), paths.end()));
    EXPECT_EQ(failure,
              order.back() == "/u/b" ? "Update server error: HTTP ERROR 418" : "Update server error: Not Found (404)");
    orders.insert(order);
  }
  EXPECT_GT(orders.size(), 1u);
}

// Read from a gzip reply behind a redirect, as a plain one.
TEST_F(CheckTest, ReplyOrderDecidesTheLatestAndTheInstalledEntryIsTheRepair) {
  HttpServer second;
  server.redirect(kPath, second.url("/real/stable"));
  second.serve("/real/stable", gzipped(replyText({{"2026-04-01T00:00:00Z", "4.0", "freebsd:1.0"},
                                                  {"2026-03-01T00:00:00Z", "3.0"},
                                                  {"2026-02-01T00:00:00Z", "2.0"},
                                                  {"2026-01-01T00:00:00Z", "1.0"},
                                                  {"2026-01-01T00:00:00Z", "1.0-hotfix"},
                                                  {"2025-12-01T00:00:00Z", "0.9"}})));
  ASSERT_EQ(check().code, ErrorCode::NoError);
  Strings offered;
  for (const VersionEntry& v : updater->versions) offered.push_back(v.version);
  EXPECT_EQ(offered, (Strings{"3.0", "2.0", "1.0", "1.0-hotfix", "0.9"}));  // 4.0 needs another system
  EXPECT_EQ(updater->latestIndex, 1);                                       // listed after 3.0, so it wins
  EXPECT_EQ(updater->repairIndex, 2);
  EXPECT_EQ(updater->downloadUrls, (std::deque<std::string>{"http://mirror1/objects", "http://mirror2/objects"}));

  // No content keeps what the earlier check found; a reply without versions
  // offers nothing; one mirror as a plain string.
  second.serve("/real/stable", "", 204);
  ASSERT_EQ(check().code, ErrorCode::NoError);
  EXPECT_EQ(updater->latestIndex, 1);
  second.serve("/real/stable", R"({"download_url": "http://only/objects"})");
  ASSERT_EQ(check().code, ErrorCode::NoError);
  EXPECT_EQ(updater->latestIndex + updater->repairIndex, -2);
  EXPECT_TRUE(updater->versions.empty());
  EXPECT_EQ(updater->downloadUrls, std::deque<std::string>{"http://only/objects"});
}

TEST(Requirements, KeysAndVersionsOfTheRunningSystem) {
  // Which of 6.1 of windows ("w") and of linux ("l") meets the requirements.
  auto meets = [](const std::string& r) {
    return std::string(requirementsMet(r, {"windows", 6, 1}) ? "w" : "") +
           (requirementsMet(r, {"linux", 6, 1}) ? "l" : "");
  };
  EXPECT_EQ(meets(""), "wl");
  EXPECT_EQ(meets("linux:5.10"), "l");
  for (const char* r : {"windows:6.1", "windows:6.0", "windows", "windows:", "windows:6.1;windows:5.1"})
    EXPECT_EQ(meets(r), "w") << r;
  for (const char* r : {"windows:6.2", "windows:6", "windows:x.1", "Windows:6.1", "windows:6.1;;windows:6.5",
                        "linux:6.2", "linux:1.0;windows:1.0", ":1.0"})
    EXPECT_EQ(meets(r), "") << r;
  EXPECT_TRUE(requirementsMet("windows:6.1", sys::OsVersion{"windows", 10, 0}));
}

// Every failure of one server: its code, its message and what the log says.
TEST_F(CheckTest, EachFailureEndsWithItsCodeAndMessage) {
  const std::string unavailable = "Update server error: Service Unavailable (503)";
  std::string bomb = gzipped(replyText({}) + std::string(kMaxReplyBytes, ' '));
  std::string corrupt = gzipped(replyText({{"2026-02-01", "2.0"}}));
  for (size_t i = 12; i < corrupt.size(); ++i) corrupt[i] = static_cast<char>(corrupt[i] ^ 0x5A);
  std::string closed;
  {
    HttpServer gone;
    closed = gone.url(kPath);  // nothing listens there any more
  }
  struct Row {
    std::function<void()> setUp;
    ErrorCode code;
    std::string message, logged;
  };
  auto serving = [&](const std::string& body) { return [=, this] { server.serve(kPath, body); }; };
  const Row rows[] = {
      {[this] { server.serveEndless(kPath, ' '); }, ErrorCode::ServerError, "Update server reply is larger than 16 MiB",
       "invalid server reply: Update server reply is larger than 16 MiB"},
      {serving(bomb), ErrorCode::ServerError, "Update server reply is larger than 16 MiB", ""},
      {serving(corrupt), ErrorCode::SystemError, "inflate: ", "ERROR  : inflate: "},
      {[&] { updater->database.update_url = {closed}, updater->logFile = L"L.log"; }, ErrorCode::ConnectionError,
       unavailable + "\ncould not connect to " + closed.substr(7, closed.find('/', 7) - 7) + "; details in L.log",
       "' failed: Couldn't connect to server"},
      {[this] { server.serveShort(kPath, R"({"download_url": "u"})", 500); }, ErrorCode::ConnectionError, unavailable,
       "Conection to update server '" + server.url(kPath)},
      {[this] { server.redirect(kPath, server.url(kPath)); }, ErrorCode::ConnectionError, unavailable,
       "Number of redirects hit maximum amount"},
      {[this] { updater->database.update_url.clear(); }, ErrorCode::ConnectionError, "operation failed", ""},
      // A status that is neither an answer nor followed: not a reply, whatever its body.
      {[this] {
         server.serve(kPath, replyText({{"2026-02-01", "2.0"}}), 300);
       },
       ErrorCode::ConnectionError, "Update server error: ", ""},
      {[this] {
         updater->http.lowSpeedTimeSeconds = 1;
         server.stall(kPath);
       },
       ErrorCode::ConnectionError, unavailable + "\nno answer from 127.0.0.1:", "' failed: Timeout was reached"},
  };
  for (const Row& row : rows) {
    updater->database.update_url = {server.url(kPath)};
    row.setUp();
    log.clear();
    Autoupdater::Fail failure = check();
    EXPECT_EQ(failure.code, row.code) << row.message;
    EXPECT_EQ(std::string(failure.what()).rfind(row.message, 0), 0u) << failure.what();
    EXPECT_TRUE(log.contains(row.logged)) << row.logged;
  }
}

TEST_F(CheckTest, UnusableRepliesFailAsServerErrors) {
  const std::string deep = "{\"download_url\": \"u\", \"x\": " + std::string(100, '[') + std::string(100, ']') + "}";
  for (const std::string& body :
       {std::string("<html>busy</html>"), std::string("[]"), std::string(R"({"download_url": ["u", 1]})"),
        R"({"download_url": "u", "versions": [{"version": "2", "database_id": ")" + objectId('b') + "\"}]}",
        replyText({{"t", "2", "", "../../../../tmp/x"}}), replyText({{"t", "2", "", std::string(64, 'A')}}), deep}) {
    server.serve(kPath, body);
    log.clear();
    const std::string message = body[0] == '<' ? "JSON error: " : "invalid database structure";
    Autoupdater::Fail failure = check();
    EXPECT_EQ(failure.code, ErrorCode::ServerError) << body;
    EXPECT_EQ(std::string(failure.what()).rfind(message, 0), 0u) << body << " -> " << failure.what();
    EXPECT_TRUE(log.contains("ERROR  : invalid server reply: " + message)) << body;
    EXPECT_TRUE(updater->versions.empty());
  }
}

// The hand-over file one updater writes and the next reads: read as an update
// reply (whose hostile forms are tried above), but from a file on disk.
TEST_F(CheckTest, AHostileHandOverFileIsRefused) {
  const std::wstring path = folder.file(L"_update_info");
  auto readFailure = [&] {
    try {
      updater->readHandOverFile(path);
    } catch (const std::runtime_error& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  folder.write(L"_update_info", gzipped(replyText({}) + std::string(kMaxReplyBytes, ' ')));
  EXPECT_EQ(readFailure(), "read(\"" + toUtf8(path) + "\"): larger than 16 MiB");
  std::filesystem::remove(path);
  EXPECT_THROW(updater->readHandOverFile(path), OpenFileError);
  if (!makeFifo(path)) return;                                   // none on Windows
  EXPECT_THROW(updater->readHandOverFile(path), OpenFileError);  // not a hang
}

}  // namespace
}  // namespace nx::test
