// The transfer layer on its own: how a transfer's end is told apart.
#include <gtest/gtest.h>

#include <stdexcept>

#include "app/text.h"
#include "io/io_error.h"
#include "net/http_client.h"
#include "support/http_server.h"
#include "support/temp_folder.h"

namespace nx::test {
namespace {

class ThrowingWriter : public Writer {
 public:
  explicit ThrowingWriter(bool io) : io_(io) {}
  void write(const void*, size_t) override {
    if (io_) throw IOError("write(\"x\"): (28) No space left on device", 28);
    throw std::logic_error("boom");
  }

 private:
  bool io_;
};

struct Transfer {
  HttpClient client;
  std::string body;
  StringWriter collect{body};
  uint64_t counted = 0;
  bool stop = false;
  int get(const std::string& url, Writer* out = nullptr) {
    TransferSink sink;
    sink.out = out ? out : &collect;
    sink.cancelled = [this] { return stop; };
    sink.progress = [this](uint64_t n) { counted += n; };
    int result = client.get(url, sink);
    aborted = sink.aborted;
    error = sink.error;
    return result;
  }
  bool aborted = false;
  IOError error{"", 0};
};

TEST(HttpClient, WriterFailuresAndCancelStopTheTransferWithTheirCause) {
  HttpServer server;
  server.serve("/a", std::string(100000, 'a'));
  Transfer t;
  t.client.followRedirects();

  ThrowingWriter io(true), other(false);
  EXPECT_EQ(t.get(server.url("/a"), &io), kCurlWriteError);
  EXPECT_FALSE(t.aborted);
  EXPECT_STREQ(t.error.what(), "write(\"x\"): (28) No space left on device");
  EXPECT_EQ(t.error.code, 28u);
  EXPECT_EQ(t.get(server.url("/a"), &other), kCurlWriteError);
  EXPECT_STREQ(t.error.what(), "unknown write error");
  EXPECT_EQ(t.error.code, 4294967295u);

  t.stop = true;  // asked before any byte: nothing is written or counted
  t.get(server.url("/a"));
  EXPECT_TRUE(t.aborted);
  EXPECT_EQ(t.body, "");
  EXPECT_EQ(t.counted, 0u);

  t.stop = false;
  EXPECT_EQ(t.get(server.url("/a")), kCurlOk);
  EXPECT_EQ(t.client.responseCode(), 200u);
  EXPECT_EQ(t.client.contentLength(), 100000.0);
  EXPECT_EQ(t.counted, 100000u);
}

TEST(HttpClient, RedirectsEndAtTheFinalServerAndLoopsEnd) {
  HttpServer first, second;
  second.serve("/gone", "", 410);
  first.redirect("/r", second.url("/gone"));
  first.redirect("/loop", first.url("/loop"));
  Transfer t;
  t.client.followRedirects();
  EXPECT_EQ(t.get(first.url("/r")), kCurlOk);
  EXPECT_EQ(t.client.responseCode(), 410u);
  EXPECT_NE(t.get(first.url("/loop")), kCurlOk);  // too many redirects, not for ever
  EXPECT_EQ(first.requestsFor("/loop").size(), static_cast<size_t>(HttpClient::kMaxRedirects + 1));
}

TEST(HttpClient, FileUrlsHaveNoStatus) {
  TempFolder folder;
  folder.write(L"reply", "{}");
  Transfer t;
  EXPECT_EQ(t.get("file://" + toUtf8(folder.file(L"reply"))), kCurlOk);
  EXPECT_EQ(t.client.responseCode(), 0u);
  EXPECT_EQ(t.body, "{}");
}

}  // namespace
}  // namespace nx::test
