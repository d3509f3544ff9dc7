#include "net/http_client.h"

#include <curl/curl.h>

#include "sys/files.h"

namespace nx {

namespace {

CURL* curl(void* handle) { return static_cast<CURL*>(handle); }

// Asked by libcurl about once a second and whenever data moves: a set cancel
// flag ends the transfer even while the server sends nothing.
int transferInfo(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* sink = static_cast<TransferSink*>(context);
  if (sink->cancelled && sink->cancelled()) {
    sink->aborted = true;
    return 1;
  }
  return 0;
}

// The part of a URL the library would open, decoded as the library decodes
// it; empty when the URL does not parse.
std::string urlPart(const std::string& url, CURLUPart part, unsigned flags) {
  CURLU* parsed = curl_url();
  std::string value;
  char* text = nullptr;
  if (parsed &&
      curl_url_set(parsed, CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME | CURLU_GUESS_SCHEME) == CURLUE_OK &&
      curl_url_get(parsed, part, &text, flags) == CURLUE_OK)
    value = text;
  curl_free(text);
  curl_url_cleanup(parsed);
  return value;
}

// Opening a FIFO blocks until a writer comes and a device may never end:
// a local source is looked at, through its links, before the library opens it.
bool isOpenableLocalFile(const std::string& url) {
  sys::FileInfo info;
  const std::string path = urlPart(url, CURLUPART_PATH, CURLU_URLDECODE);
  if (path.empty() || !sys::fileInfo(sys::fromNativePath(path), &info)) return true;  // the library reports it missing
  return !info.isFolder && !info.isDevice;
}

struct HeaderList {
  curl_slist* list = nullptr;
  ~HeaderList() { curl_slist_free_all(list); }
};

}  // namespace

size_t sinkWrite(char* data, size_t size, size_t count, void* context) {
  auto* sink = static_cast<TransferSink*>(context);
  if (sink->cancelled && sink->cancelled()) {
    sink->aborted = true;
    return 0;
  }
  const size_t n = size * count;
  try {
    sink->out->write(data, n);
    if (sink->progress) sink->progress(n);
    return n;
  } catch (const IOError& e) {
    sink->error = e;
  } catch (...) {
    sink->error = IOError("unknown write error", IOError::kNoCode);
  }
  return 0;
}

bool HttpClient::isFileUrl(const std::string& url) { return urlPart(url, CURLUPART_SCHEME, 0) == "file"; }

HttpClient::HttpClient() {
  curl_global_init(CURL_GLOBAL_ALL);
  handle = curl_easy_init();
  // A cancelled transfer does not wait for a name lookup that hangs.
  if (handle) curl_easy_setopt(curl(handle), CURLOPT_QUICK_EXIT, 1L);
}

HttpClient::~HttpClient() {
  if (handle) curl_easy_cleanup(curl(handle));
  curl_global_cleanup();
}

void HttpClient::followRedirects() {
  curl_easy_setopt(curl(handle), CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl(handle), CURLOPT_MAXREDIRS, kMaxRedirects);
}

void HttpClient::setUserAgent(const std::string& agent) {
  curl_easy_setopt(curl(handle), CURLOPT_USERAGENT, agent.c_str());
}

int HttpClient::get(const std::string& url, TransferSink& sink, const std::vector<std::string>& headers, Reach reach) {
  CURL* h = curl(handle);
  const bool files = reach == Reach::networkAndFiles;
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, files ? "http,https,file" : "http,https");
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  if (files && isFileUrl(url) && !isOpenableLocalFile(url)) return CURLE_FILE_COULDNT_READ_FILE;
  HeaderList list;
  for (const std::string& header : headers) list.list = curl_slist_append(list.list, header.c_str());
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, list.list);
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, sinkWrite);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, transferInfo);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &sink);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, connectTimeoutSeconds);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedLimit);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, lowSpeedTimeSeconds);
  // Time-outs must not use signals: transfers run on a worker thread.
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  int result = static_cast<int>(curl_easy_perform(h));
  // The header list dies with this call; the handle must not keep it.
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, nullptr);
  return result;
}

uint32_t HttpClient::responseCode() {
  long status = 0;
  if (curl_easy_getinfo(curl(handle), CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) return 0;
  return static_cast<uint32_t>(status);
}

double HttpClient::contentLength() {
  curl_off_t length = -1;
  if (curl_easy_getinfo(curl(handle), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK) return -1.0;
  return static_cast<double>(length);
}

std::string HttpClient::resultText(int code) { return curl_easy_strerror(static_cast<CURLcode>(code)); }

std::string HttpClient::libraryVersion() { return curl_version(); }

}  // namespace nx
