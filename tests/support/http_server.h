#pragma once
// Loopback servers for transfer tests, started and stopped by the test.
//
// HttpServer: a real HTTP/1.1 server (cpp-httplib) on 127.0.0.1 at a port the
// system picks, serving on its own threads for the life of the object. Each
// path answers as told (any body, any status, a redirect, a
// stalled, short or endless response, or a folder served as files); any
// other path is 404. Connections are kept alive, so a client can fetch many
// objects over one. Every request is recorded as received.
//
//   HttpServer server;
//   server.serve("/update/stable", reply);
//   server.serve("/objects/ab/ab12...", gzipped(content));
//   ... updater fetches server.url("/update/stable") ...
//   EXPECT_EQ(server.requests().at(0).header("Pragma"), "no-cache");
#include <httplib.h>  // on Windows: winsock2.h, and WSAStartup before main

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace nx::test {

// One request as the server received it.
struct ReceivedRequest {
  std::string method;
  std::string target;  // path and query exactly as sent: "/update/stable?mods=a,b"
  std::string path;    // the path alone
  httplib::Headers headers;
  int remotePort = -1;  // the client's port: one per connection

  // The first value of a header (names ignore case); empty when absent.
  std::string header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
  }
};

class HttpServer {
 public:
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

  HttpServer() {
    server_.set_keep_alive_max_count(1000000);
    server_.set_tcp_nodelay(true);  // no 40 ms wait between a response's head and body
    server_.set_keep_alive_timeout(1);
    server_.set_write_timeout(2, 0);
    server_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
      Handler handler;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(ReceivedRequest{req.method, req.target, req.path, req.headers, req.remote_port});
        auto it = routes_.find(req.path);
        if (it != routes_.end()) handler = it->second;
      }
      if (!handler) return httplib::Server::HandlerResponse::Unhandled;
      handler(req, res);
      return httplib::Server::HandlerResponse::Handled;
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("test server: cannot bind 127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  // Releases stalled responses, stops listening and waits for every thread.
  ~HttpServer() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    released_.notify_all();
    server_.stop();
    thread_.join();
  }
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // "http://127.0.0.1:<port>" followed by path (which should start with "/").
  std::string url(const std::string& path = "") const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

  // ---- what a path answers; a later call for the same path replaces it ----

  // The body as it stands, with the status.
  void serve(const std::string& path, const std::string& body, int status = 200) {
    handle(path, [body, status](const httplib::Request&, httplib::Response& res) {
      res.status = status;
      if (status != 204 && status != 304) res.set_content(body, "application/octet-stream");
    });
  }
  // A redirect to location (another server's url(), say).
  void redirect(const std::string& path, const std::string& location, int status = 302) {
    handle(path,
           [location, status](const httplib::Request&, httplib::Response& res) { res.set_redirect(location, status); });
  }
  // Reads the request and sends nothing at all until the server is stopped.
  void stall(const std::string& path) {
    handle(path, [this](const httplib::Request&, httplib::Response& res) {
      std::unique_lock<std::mutex> lock(mutex_);
      released_.wait(lock, [this] { return stopping_; });
      res.status = 503;
    });
  }
  // Announces `announced` bytes, sends the body (shorter) and drops the connection.
  void serveShort(const std::string& path, const std::string& body, size_t announced) {
    handle(path, [body, announced](const httplib::Request&, httplib::Response& res) {
      res.set_content_provider(announced, "application/octet-stream",
                               [body](size_t offset, size_t length, httplib::DataSink& sink) {
                                 if (offset >= body.size()) return false;  // cut: the connection is dropped
                                 return sink.write(body.data() + offset, std::min(length, body.size() - offset));
                               });
    });
  }
  // A 200 whose body never ends (chunked, `filler` bytes over and over) until
  // the client leaves or the server stops.
  void serveEndless(const std::string& path, char filler = 'x') {
    handle(path, [this, filler](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("application/octet-stream", [this, filler](size_t, httplib::DataSink& sink) {
        if (isStopping()) return false;
        const std::string block(16384, filler);
        return sink.write(block.data(), block.size());
      });
    });
  }
  // The files below folder under the URL prefix ("/repo" -> folder/...).
  void serveFolder(const std::string& prefix, const std::string& folder) {
    // Under the lock the request threads take before they look at the mount points.
    std::lock_guard<std::mutex> lock(mutex_);
    if (!server_.set_mount_point(prefix, folder)) throw std::runtime_error("test server: no folder " + folder);
  }
  // Anything else.
  void handle(const std::string& path, Handler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    routes_[path] = std::move(handler);
  }

  // ---- what arrived ----
  std::vector<ReceivedRequest> requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  // How many connections the requests came over.
  size_t connections() const {
    std::set<int> ports;
    for (const ReceivedRequest& r : requests()) ports.insert(r.remotePort);
    return ports.size();
  }

 private:
  bool isStopping() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopping_;
  }

  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::condition_variable released_;
  bool stopping_ = false;
  std::map<std::string, Handler> routes_;
  std::vector<ReceivedRequest> requests_;
};

}  // namespace nx::test
