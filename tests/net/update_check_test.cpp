// The update check through real transfers against loopback servers.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <sstream>

#include "base/text.h"
#include "check_test_util.h"
#include "net/requirements.h"
#include "net/update_reply.h"
#include "sys/os_version.h"

namespace nx::test {
namespace {

using Strings = std::vector<std::string>;

const std::string kPath = "/update/stable";

Strings split(const std::string& text, char separator) {
  Strings parts;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
  return parts;
}

TEST_F(CheckTest, RequestNamesEachModuleOnceWithTagHeadersAndUserAgent) {
  server.serve(kPath, replyText({}));
  updater->installList = {"maps", "extra", "extra"};
  updater->sourceTag = "retail_7";
  ASSERT_EQ(check().code, ErrorCode::NoError);
  updater->sourceTag.clear();
  ASSERT_EQ(check().code, ErrorCode::NoError);

  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  const std::string prefix = kPath + "?mods=";
  for (const ReceivedRequest& r : requests) {
    ASSERT_EQ(r.target.rfind(prefix, 0), 0u) << r.target;
    Strings mods = split(split(r.target.substr(prefix.size()), '&')[0], ',');
    std::sort(mods.begin(), mods.end());
    EXPECT_EQ(mods, (Strings{"extra", "maps", "veltra"}));
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.header("Cache-Control"), "no-cache");
    EXPECT_EQ(r.header("Pragma"), "no-cache");
    EXPECT_EQ(r.header("User-Agent"), std::string("VELTRA_UPDATER/1.0 ") + curl_version());
  }
  EXPECT_EQ(split(requests[0].target, '&').back(), "src=retail_7");
  EXPECT_EQ(requests[1].target.find('&'), std::string::npos);
  EXPECT_TRUE(log.contains("INFO   : Checking for updates..."));
}

TEST_F(CheckTest, UpdateUrlsAreTriedInRandomOrderEachOnceAndTheLastFailureCounts) {
  const Strings paths = {"/u/a", "/u/b", "/u/c"};
  const int statuses[] = {404, 418, 503};
  const std::map<std::string, std::string> messages = {{"/u/a", "Update server error: Not Found (404)"},
                                                       {"/u/b", "Update server error: HTTP ERROR 418"},
                                                       {"/u/c", "Update server error: Service Unavailable (503)"}};
  updater->database.update_url.clear();
  for (size_t i = 0; i < paths.size(); ++i) {
    server.serve(paths[i], "", statuses[i]);
    updater->database.update_url.push_back(server.url(paths[i]));
  }
  std::set<Strings> orders;
  for (int run = 0; run < 30; ++run) {
    size_t before = server.requests().size();
    Autoupdater::Fail failure = check();
    auto requests = server.requests();
    Strings order;
    for (size_t i = before; i < requests.size(); ++i) order.push_back(requests[i].path);
    Strings sorted = order;
    std::sort(sorted.begin(), sorted.end());
    ASSERT_EQ(sorted, paths);
    orders.insert(order);
    EXPECT_EQ(failure.code, ErrorCode::ConnectionError);
    EXPECT_EQ(failure.what(), messages.at(order.back()));
  }
  EXPECT_GT(orders.size(), 1u);
}

TEST_F(CheckTest, ReplyOrderDecidesTheLatestAndTheInstalledEntryIsTheRepair) {
  server.serve(kPath, replyText({{"2026-03-01T00:00:00Z", "3.0"},
                                 {"2026-02-01T00:00:00Z", "2.0"},
                                 {"2026-01-01T00:00:00Z", "1.0"},
                                 {"2026-01-01T00:00:00Z", "1.0-hotfix"},
                                 {"2025-12-01T00:00:00Z", "0.9"}}));
  ASSERT_EQ(check().code, ErrorCode::NoError);
  EXPECT_EQ(updater->latestIndex, 1);  // listed after 3.0, so it wins
  EXPECT_EQ(updater->repairIndex, 2);
  EXPECT_EQ(updater->downloadUrls, (std::deque<std::string>{"http://mirror1/objects", "http://mirror2/objects"}));
  EXPECT_EQ(updater->versions[2].database_size, 1234u);
  EXPECT_TRUE(log.contains("INFO   : Repair is available."));
  EXPECT_TRUE(log.contains("INFO   : Update is available. Latest version is 2.0"));

  // A reply without versions offers nothing; one mirror as a plain string.
  server.serve(kPath, R"({"download_url": "http://only/objects"})");
  ASSERT_EQ(check().code, ErrorCode::NoError);
  EXPECT_EQ(updater->latestIndex, -1);
  EXPECT_EQ(updater->repairIndex, -1);
  EXPECT_TRUE(updater->versions.empty());
  EXPECT_EQ(updater->downloadUrls, std::deque<std::string>{"http://only/objects"});
}

TEST_F(CheckTest, VersionsWhoseRequirementsTheSystemMissesAreDropped) {
  const std::string key = sys::osVersion().key;
  ASSERT_FALSE(key.empty());
  server.serve(kPath, replyText({{"2026-02-01", "a", ""},
                                 {"2026-02-02", "b", key + ":0.0"},
                                 {"2026-02-03", "c", key + ":99999.0"},
                                 {"2026-02-04", "d", key == "windows" ? "linux" : "windows:5.1"},
                                 {"2026-02-05", "e", key + ";;" + key + ":1.0"}}));
  ASSERT_EQ(check().code, ErrorCode::NoError);
  EXPECT_EQ(offeredVersions(), (Strings{"a", "b", "e"}));
  EXPECT_EQ(updater->latestIndex, 2);
}

TEST(Requirements, KeysAndVersionsOfTheRunningSystem) {
  const sys::OsVersion windows{"windows", 6, 1}, linux{"linux", 6, 1};
  struct Case {
    const char* requirements;
    bool onWindows, onLinux;
  };
  const Case cases[] = {{"", true, true},
                        {"windows:6.1", true, false},
                        {"windows:6.0", true, false},
                        {"windows:6.2", false, false},
                        {"windows", true, false},
                        {"windows:", true, false},
                        {"windows:6", false, false},
                        {"windows:x.1", false, false},
                        {"Windows:6.1", false, false},
                        {"windows:6.1;windows:5.1", true, false},
                        {"windows:6.1;;windows:6.5", false, false},
                        {"linux:5.10", false, true},
                        {"linux:6.2", false, false},
                        {"linux:1.0;windows:1.0", false, false},
                        {"freebsd:1.0", false, false},
                        {":1.0", false, false}};
  for (const Case& c : cases) {
    EXPECT_EQ(requirementsMet(c.requirements, windows), c.onWindows) << c.requirements;
    EXPECT_EQ(requirementsMet(c.requirements, linux), c.onLinux) << c.requirements;
  }
  EXPECT_TRUE(requirementsMet("windows:6.1", sys::OsVersion{"windows", 10, 0}));
}

// Every failure of one server: its code, its message and what the log says.
// The plain error statuses are checked with the random order of the URLs.
TEST_F(CheckTest, EachFailureEndsWithItsCodeAndMessage) {
  const std::string unavailable = "Update server error: Service Unavailable (503)";
  std::string bomb = gzipBytes(replyText({}) + std::string(kMaxReplyBytes, ' '));
  std::string corrupt = gzipBytes(replyText({{"2026-02-01", "2.0"}}));
  for (size_t i = 12; i < corrupt.size(); ++i) corrupt[i] = static_cast<char>(corrupt[i] ^ 0x5A);
  RawServer shortBody("HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\n{\"download_url\": \"u\"}"),
      notHttp("NOT HTTP AT ALL\r\n\r\n"), silent("");
  const std::string closed = RawServer("").url(kPath);  // nothing listens there any more
  struct Row {
    std::function<void()> setUp;
    ErrorCode code;
    std::string message, logged;
  };
  auto at = [&](const std::string& url) { return [this, url] { updater->database.update_url = {url}; }; };
  auto serving = [&](const std::string& body) { return [=, this] { server.serve(kPath, body); }; };
  std::vector<Row> rows = {
      {[this] { server.serveEndless(kPath, ' '); }, ErrorCode::ServerError, "Update server reply is larger than 16 MiB",
       "invalid server reply: Update server reply is larger than 16 MiB"},
      {serving(bomb), ErrorCode::ServerError, "Update server reply is larger than 16 MiB", ""},
      {serving(corrupt), ErrorCode::SystemError, "inflate: ", "ERROR  : inflate: "},
      {at(closed), ErrorCode::ConnectionError,
       unavailable + "\ncould not connect to 127.0.0.1:", "' failed: Couldn't connect to server"},
      {[this] {
         server.redirect("/loop", server.url("/loop"));
         updater->database.update_url = {server.url("/loop")};
       },
       ErrorCode::ConnectionError, unavailable, "Number of redirects hit maximum amount"},
      {[this] { updater->database.update_url.clear(); }, ErrorCode::ConnectionError, "operation failed", ""},
  };
  for (const RawServer* raw : {&shortBody, &notHttp, &silent})
    rows.push_back({at(raw->url(kPath)), ErrorCode::ConnectionError, unavailable,
                    "Conection to update server '" + raw->url(kPath)});
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

TEST_F(CheckTest, NoContentKeepsWhatAnEarlierCheckFoundAndFileUrlsWork) {
  TempFolder repository;
  repository.write(L"stable", replyText({{"2026-02-01", "2.0"}}));
  updater->database.update_url = {"file://" + toUtf8(repository.file(L"stable"))};
  ASSERT_EQ(check().code, ErrorCode::NoError);  // no status at all: a reply
  updater->database.update_url = {server.url(kPath)};
  server.serve(kPath, "", 204);
  ASSERT_EQ(check().code, ErrorCode::NoError);
  EXPECT_EQ(offeredVersions(), Strings{"2.0"});
  EXPECT_EQ(updater->latestIndex, 0);
}

TEST_F(CheckTest, UnusableRepliesFailAsServerErrors) {
  const std::string deep = "{\"download_url\": \"u\", \"x\": " + std::string(100, '[') + std::string(100, ']') + "}";
  const std::string bad = "invalid database structure";
  struct Case {
    std::string body;
    std::string message;
  };
  const Case cases[] = {
      {"<html>busy</html>", "JSON error: "},
      {"{\"download_url\": [\"u\"]", "JSON error: "},
      {"[]", bad},
      {"{}", bad},
      {R"({"download_url": []})", bad},
      {R"({"download_url": ["u", 1]})", bad},
      {R"({"download_url": 7})", bad},
      {R"({"download_url": "u", "versions": [1]})", bad},
      {R"({"download_url": "u", "versions": [{"version": "2", "database_id": ")" + objectId('b') + "\"}]}", bad},
      {R"({"download_url": "u", "versions": [{"timestamp": "t", "version": 2, "database_id": ")" + objectId('b') +
           "\"}]}",
       bad},
      {replyText({{"t", "2", "", "../../../../tmp/x"}}), bad},
      {replyText({{"t", "2", "", std::string(64, 'A')}}), bad},
      {replyText({{"t", "2", "", std::string(63, 'a')}}), bad},
      {deep, bad},
  };
  for (const Case& c : cases) {
    server.serve(kPath, c.body);
    log.clear();
    Autoupdater::Fail failure = check();
    EXPECT_EQ(failure.code, ErrorCode::ServerError) << c.body;
    EXPECT_EQ(std::string(failure.what()).rfind(c.message, 0), 0u) << c.body << " -> " << failure.what();
    EXPECT_TRUE(log.contains("ERROR  : invalid server reply: " + c.message)) << c.body;
    EXPECT_TRUE(updater->versions.empty());
    EXPECT_EQ(updater->latestIndex, -1);
  }
}

// Every other test sends plain replies from the server asked first.
TEST_F(CheckTest, AGzipReplyBehindARedirectReadsTheSameAndTheFinalStatusCounts) {
  HttpServer second;
  second.serveGzip("/real/stable", replyText({{"2026-02-01", "2.0"}, {"2026-01-01T00:00:00Z", "1.0"}}));
  server.redirect(kPath, second.url("/real/stable"));
  ASSERT_EQ(check().code, ErrorCode::NoError);
  EXPECT_EQ(offeredVersions(), (Strings{"2.0", "1.0"}));
  EXPECT_EQ(updater->repairIndex, 1);
  ASSERT_EQ(second.requests().size(), 1u);
  EXPECT_EQ(second.requests()[0].header("Pragma"), "no-cache");

  second.serve("/real/stable", "", 404);
  EXPECT_STREQ(check().what(), "Update server error: Not Found (404)");
}

TEST_F(CheckTest, AServerThatSendsNothingTimesOutAndTheNextIsTried) {
  updater->http.lowSpeedTimeSeconds = 1;
  server.stall("/dead/stable");
  updater->database.update_url = {server.url("/dead/stable"), server.url("/dead/stable")};
  Autoupdater::Fail failure = check();
  EXPECT_EQ(failure.code, ErrorCode::ConnectionError);
  EXPECT_EQ(
      std::string(failure.what()).rfind("Update server error: Service Unavailable (503)\nno answer from 127.0.0.1:", 0),
      0u)
      << failure.what();
  // Both URLs were tried; counted on our side, since a loaded server may not
  // have recorded the second request yet when the client gives up on it.
  auto lines = log.lines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.find("' failed: Timeout was reached") != l.npos; }),
            2);

  server.serve(kPath, replyText({{"2026-02-01", "2.0"}}));
  updater->database.update_url = {server.url("/dead/stable"), server.url(kPath)};
  ASSERT_EQ(check().code, ErrorCode::NoError);
  EXPECT_EQ(offeredVersions(), Strings{"2.0"});
}

}  // namespace
}  // namespace nx::test
