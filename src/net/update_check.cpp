// The update check: ask the update servers, in random order, which versions
// exist for the installed modules; keep the first usable answer.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "base/error_model.h"
#include "base/text.h"
#include "db/install_state.h"
#include "io/gunzip_writer.h"
#include "net/autoupdater.h"
#include "net/http_status.h"
#include "net/random_order.h"
#include "net/requirements.h"
#include "net/update_reply.h"
#include "sys/os_version.h"

namespace nx {

namespace {

// "?mods=a,b,c" with each requested module once, then "&src=TAG" when the
// installation has a source tag. Names and tag go in unescaped, as the
// servers expect them.
std::string updateQuery(const std::vector<std::string>& installList, const Database& db, const std::string& tag) {
  std::vector<std::string> names;
  auto add = [&](const std::string& name) {
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  };
  for (const std::string& name : installList) add(name);
  for (const std::string& name : selectedModules(db)) add(name);
  std::string query = "?mods=";
  for (size_t i = 0; i < names.size(); ++i) query += (i ? "," : "") + names[i];
  if (!tag.empty()) query += "&src=" + tag;
  return query;
}

// A forced branch replaces the last piece of the update URL (".../update/stable"
// becomes ".../update/beta"); a URL without "/" stays as it is.
std::string withBranch(const std::string& url, const std::string& branch) {
  size_t slash = url.rfind('/');
  if (branch.empty() || slash == std::string::npos) return url;
  return url.substr(0, slash + 1) + branch;
}

std::string serverErrorMessage(uint32_t status) {
  std::string message = "Update server error: ";
  if (const char* text = httpStatusText(status)) return message + text + " (" + std::to_string(status) + ")";
  return message + "HTTP ERROR " + std::to_string(status);
}

// "host:port" of a URL (the scheme's port when none is given), or the URL.
std::string hostAndPort(const std::string& url) {
  const size_t scheme = url.find("://");
  if (scheme == std::string::npos) return url;
  const size_t begin = scheme + 3;
  std::string host = url.substr(begin, url.find_first_of("/?#", begin) - begin);
  host = host.substr(host.rfind('@') == std::string::npos ? 0 : host.rfind('@') + 1);
  if (host.find(':') == std::string::npos || (host.front() == '[' && host.back() == ']')) {
    const std::string name = url.substr(0, scheme);
    if (name == "http") host += ":80";
    if (name == "https") host += ":443";
  }
  return host;
}

// What became of a transfer that got no answer, in the user's words.
std::string transportCause(int result, const std::string& url) {
  // libcurl's result codes.
  constexpr int kUnsupportedProtocol = 1, kMalformedUrl = 3, kUnresolvedHost = 6, kNoConnection = 7, kFileNotRead = 37,
                kTimedOut = 28;
  switch (result) {
    case kUnsupportedProtocol:
    case kMalformedUrl:
      return "malformed update URL \"" + url + "\"";
    case kUnresolvedHost:
      return "could not resolve the host of " + hostAndPort(url);
    case kNoConnection:
      return "could not connect to " + hostAndPort(url);
    case kTimedOut:
      return "no answer from " + hostAndPort(url) + " in time (the transfer stalled)";
    case kFileNotRead:
      return "could not read " + url;
    default:
      return HttpClient::resultText(result) + " (" + hostAndPort(url) + ")";
  }
}

}  // namespace

void Autoupdater::checkForUpdates(const std::string& forcedBranch) {
  log().log(MiniLog::INFO, "Checking for updates...");
  if (!forcedBranch.empty()) log().log(MiniLog::INFO, "Forced branch: %s", forcedBranch.c_str());
  Fail last(ErrorCode::ConnectionError, "operation failed");
  const std::string query = updateQuery(installList, database, sourceTag);
  std::vector<std::string> urls = database.update_url;
  shuffleList(urls);
  for (const std::string& url : urls) {
    try {
      queryUpdateServer(withBranch(url, forcedBranch) + query);
      return;
    } catch (const Fail& failure) {
      last = failure;
    }
    // Once the user has said stop, no further server is asked.
    if (cancelRequested()) break;
  }
  throw last;
}

void Autoupdater::queryUpdateServer(const std::string& url) {
  std::string text;
  ReplyTextWriter collect(text);
  GunzipWriter gunzip(collect);
  TransferSink sink;
  sink.out = &gunzip;
  sink.cancelled = [this] { return cancelRequested(); };
  const bool local = HttpClient::isFileUrl(url);
  const int result = http.get(url, sink, {"Cache-Control: no-cache", "Pragma: no-cache"},
                              local ? HttpClient::Reach::networkAndFiles : HttpClient::Reach::network);

  if (sink.aborted) failWith(*this, ErrorCode::UserCancelled, "");
  if (result == kCurlWriteError) {
    if (collect.overflowed()) {
      // An endless or hostile body: not an answer this updater can use.
      std::string message = "Update server reply is larger than " + std::to_string(kMaxReplyBytes >> 20) + " MiB";
      log().log(MiniLog::ERROR, "invalid server reply: %s", message.c_str());
      failWith(*this, ErrorCode::ServerError, message);
    }
    failWith(*this, ErrorCode::SystemError, sink.error.what());
  }
  uint32_t status = 503;  // a transport failure counts as an unavailable server
  if (result == kCurlOk) {
    status = http.responseCode();
  } else {
    log().log(MiniLog::ERROR, "Conection to update server '%s' failed: %s", url.c_str(),
              HttpClient::resultText(result).c_str());
    // The documented first line, and under it what happened and where to read more.
    std::string cause = transportCause(result, url);
    if (!logFile.empty()) cause += "; details in " + toUtf8(logFile);
    failWith(*this, ErrorCode::ConnectionError, serverErrorMessage(status) + "\n" + cause);
  }

  if (status == 204) return;  // nothing on offer; the reply state stays as it was
  if (status != 200 && status != 0) failWith(*this, ErrorCode::ConnectionError, serverErrorMessage(status));

  latestIndex = -1;
  repairIndex = -1;
  downloadUrls.clear();
  versions.clear();
  selectedVersion = VersionEntry();
  UpdateReply reply;
  try {
    reply = parseUpdateReply(text, kInvalidStructure);
  } catch (const std::runtime_error& e) {
    log().log(MiniLog::ERROR, "invalid server reply: %s", e.what());
    failWith(*this, ErrorCode::ServerError, e.what());
  }
  downloadUrls = std::move(reply.downloadUrls);
  localRepository = local;
  const sys::OsVersion system = sys::osVersion();
  for (VersionEntry& entry : reply.versions)
    if (requirementsMet(entry.requirements, system)) versions.push_back(std::move(entry));

  // The order of the reply decides: the last entry newer than the
  // installation is the one an update installs.
  for (size_t i = 0; i < versions.size(); ++i) {
    if (database.timestamp < versions[i].timestamp) latestIndex = static_cast<int32_t>(i);
    if (versions[i].timestamp == database.timestamp && versions[i].version == database.version)
      repairIndex = static_cast<int32_t>(i);
  }
  if (repairIndex >= 0) log().log(MiniLog::INFO, "Repair is available.");
  if (latestIndex >= 0)
    log().log(MiniLog::INFO, "Update is available. Latest version is %s", versions[latestIndex].version.c_str());
}

}  // namespace nx
