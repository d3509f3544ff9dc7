#pragma once
// HTTP transfers: one libcurl easy handle per updater, reused by every
// transfer so connections stay open between them. A response body streams
// through a TransferSink into a chain of Writers while the cancel request and
// the progress accounting are honoured.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "io/io_error.h"
#include "io/writer.h"

namespace nx {

// libcurl result codes the callers tell apart.
inline constexpr int kCurlOk = 0;
inline constexpr int kCurlWriteError = 23;  // the sink refused a chunk

// The context of one transfer. The caller owns `out` and the callables.
struct TransferSink {
  Writer* out = nullptr;
  // The failure that stopped the transfer inside the writers ("OK", 0 before).
  IOError error{"OK", 0};
  std::function<bool()> cancelled;         // asked before each chunk; true stops
  std::function<void(uint64_t)> progress;  // received bytes per chunk; may be empty
  bool aborted = false;                    // set when `cancelled` stopped the transfer
};

// The write callback: hands a chunk to sink.out, counts it, and returns 0
// (ending the transfer with result 23) when cancelled or when a writer
// throws; the failure is kept in sink.error. Never throws.
size_t sinkWrite(char* data, size_t size, size_t count, void* sink);

class HttpClient {
 public:
  // A set cancel flag ends a transfer at once even while nothing arrives; a
  // server that does not answer, or sends under kLowSpeedLimit bytes a second
  // for kLowSpeedTime seconds, ends the transfer as a transport failure.
  static constexpr long kConnectTimeoutSeconds = 30;
  static constexpr long kLowSpeedLimit = 1;
  static constexpr long kLowSpeedTime = 60;
  // The limits in force; a test may shorten them.
  long connectTimeoutSeconds = kConnectTimeoutSeconds;
  long lowSpeedTimeSeconds = kLowSpeedTime;
  // A chain of redirects longer than this ends as a transport failure, so a
  // redirect loop cannot keep a transfer going for ever.
  static constexpr long kMaxRedirects = 20;

  // Which URLs a transfer may reach. What a server sends may lead only to
  // more servers: a file:// mirror or redirect named by a reply could make
  // the updater open a FIFO or a device and hang inside the library, where
  // no Cancel reaches it. Local files are for repositories that are local
  // themselves, and even there only regular files are opened.
  enum class Reach { network, networkAndFiles };
  // True for a URL the library would read as a local file.
  static bool isFileUrl(const std::string& url);

  HttpClient();  // valid() is false when the library cannot start
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  bool valid() const { return handle != nullptr; }
  // Every later transfer follows up to kMaxRedirects redirects.
  void followRedirects();
  void setUserAgent(const std::string& agent);

  // One GET of url into the sink, with extra request headers for this
  // transfer only. Returns the libcurl result code; when the sink's
  // `aborted` is set the user cancelled, whatever the code. A URL out of
  // reach, and a local source that is not a regular file, end as a transport
  // failure without being opened. Redirects only ever lead to HTTP(S).
  int get(const std::string& url, TransferSink& sink, const std::vector<std::string>& headers = {},
          Reach reach = Reach::network);
  // Status of the last response (after redirects); 0 when there was none or
  // the URL is not an HTTP URL.
  uint32_t responseCode();
  // Length the last response announced; -1 when it announced none.
  double contentLength();

  // The library's text for a result code.
  static std::string resultText(int code);
  // The library's name and release with its zlib's ("libcurl/7.88.1 ...").
  static std::string libraryVersion();

  void* handle = nullptr;  // the CURL easy handle
};

}  // namespace nx
