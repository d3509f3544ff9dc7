#pragma once
// An updater with an installed version 1.0 of 2026-01-01 whose update URLs
// point at a loopback server, and update replies built for it.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <memory>
#include <string>
#include <vector>

#include "base/text.h"
#include "db/settings.h"
#include "io/handmade_zip.h"
#include "io/io_test_util.h"
#include "net/autoupdater.h"
#include "support/http_server.h"
#include "support/memory_log.h"
#include "support/temp_folder.h"

namespace nx::test {

// A named pipe (none on Windows: false), which would block a reader that opens it.
inline bool makeFifo(const std::wstring& path) {
#ifdef _WIN32
  (void)path;
  return false;
#else
  return ::mkfifo(toUtf8(path).c_str(), 0600) == 0;
#endif
}

// An object id made of one repeated hex digit.
inline std::string objectId(char digit) { return std::string(64, digit); }

struct Offer {
  std::string timestamp, version;
  std::string requirements{};
  std::string id = objectId('a');
};

// A reply as the publisher writes it: mirrors, then the versions in order.
inline std::string replyText(const std::vector<Offer>& offers,
                             const std::string& urls = R"(["http://mirror1/objects", "http://mirror2/objects"])") {
  std::string text = "{\"download_url\": " + urls + ", \"versions\": [";
  for (size_t i = 0; i < offers.size(); ++i) {
    const Offer& o = offers[i];
    text += (i ? ", " : "") + std::string("{\"timestamp\": \"") + o.timestamp + "\", \"version\": \"" + o.version +
            "\", \"database_id\": \"" + o.id + "\", \"database_size\": 1234, \"requirements\": \"" + o.requirements +
            "\"}";
  }
  return text + "]}";
}

template <class Call>
Autoupdater::Fail failureOf(Call call) {
  try {
    call();
  } catch (const Autoupdater::Fail& e) {
    return e;
  }
  return Autoupdater::Fail(ErrorCode::NoError, "no failure");
}

class CheckTest : public ::testing::Test {
 protected:
  CheckTest() {
    Database& db = updater->database;
    db.format = 1;
    db.version = "1.0";
    db.timestamp = "2026-01-01T00:00:00Z";
    db.main = "veltra";
    db.modules = {{"veltra", true}, {"maps", true}, {"hd_textures", false}};
    db.update_url = {server.url("/update/stable")};
    updater->setUserAgent();
  }

  // Runs the check; the failure it ends with, or code 0 "no failure".
  Autoupdater::Fail check(const std::string& branch = "") {
    return failureOf([&] { updater->checkForUpdates(branch); });
  }

  HttpServer server;  // outlives the updater, whose connections close first
  TempFolder folder;
  MemoryLog log;
  UpdaterSettings settings{folder.file(L"autoupdate.settings"), log};
  std::unique_ptr<Autoupdater> updater = std::make_unique<Autoupdater>(log, settings);
};

}  // namespace nx::test
