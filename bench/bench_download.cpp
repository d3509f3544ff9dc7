// Downloading 2,000 objects of 16 KiB each (gzip, as the publisher stores
// them) from a loopback HTTP server into an empty object store, against one
// curl process fetching the same URLs into the same layout over one reused
// connection (`curl -K list`). Both talk to the same small keep-alive server
// of this program, which serves every object from memory. Ours also gunzips
// and hashes every object on the way; curl only stores it. Each run starts
// from an empty store.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>

#include "base/text.h"
#include "bench_util.h"
#include "db/settings.h"
#include "io/sha256_writer.h"
#include "net/autoupdater.h"

namespace {

constexpr int kObjects = 2000;
constexpr size_t kObjectSize = 16 * 1024;

class NullLog : public nx::MiniLog {
 public:
  double elapsedSeconds() override { return 0; }
  void writeLine(const std::string&) override {}
};

// HTTP/1.1 with keep-alive, one thread per connection, bodies from memory.
class LoopbackServer {
 public:
  explicit LoopbackServer(const std::map<std::string, std::string>& bodies) : bodies_(bodies) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener_, 64) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      std::fprintf(stderr, "bench_download: cannot listen on 127.0.0.1\n");
      std::exit(1);
    }
    port_ = ntohs(address.sin_port);
    std::thread([this] { acceptLoop(); }).detach();
  }
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  // Connections accepted so far.
  int connections() const { return connections_.load(); }

 private:
  void acceptLoop() {
    for (;;) {
      int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      ++connections_;
      int one = 1;
      ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      std::thread([this, client] { serve(client); }).detach();
    }
  }
  void serve(int client) {
    std::string pending;
    char buffer[8192];
    for (;;) {
      size_t end;
      while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
        ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
        if (got <= 0) {
          ::close(client);
          return;
        }
        pending.append(buffer, static_cast<size_t>(got));
      }
      const size_t space = pending.find(' ');
      const std::string path = pending.substr(space + 1, pending.find(' ', space + 1) - space - 1);
      pending.erase(0, end + 4);
      auto found = bodies_.find(path);
      const std::string& body = found == bodies_.end() ? notFound_ : found->second;
      std::string response =
          std::string(found == bodies_.end() ? "HTTP/1.1 404 Not Found" : "HTTP/1.1 200 OK") +
          "\r\nContent-Type: application/octet-stream\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
          body;
      for (size_t sent = 0; sent < response.size();) {
        ssize_t n = ::send(client, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
          ::close(client);
          return;
        }
        sent += static_cast<size_t>(n);
      }
    }
  }

  const std::map<std::string, std::string>& bodies_;
  const std::string notFound_ = "not found";
  int listener_ = -1;
  int port_ = 0;
  std::atomic<int> connections_{0};
};

}  // namespace

int main() {
  nx::bench::ScratchFolder scratch;
  std::map<std::string, std::string> bodies;
  nx::ObjectSet objects;
  std::mt19937_64 random(7);
  std::string content(kObjectSize, '\0');
  for (int i = 0; i < kObjects; ++i) {
    for (size_t k = 0; k < content.size(); k += 8) {
      uint64_t word = random();
      std::memcpy(&content[k], &word, 8);
    }
    nx::Sha256Writer sha;
    sha.write(content.data(), content.size());
    std::string id;
    sha.finish(id);
    bodies["/objects/" + id.substr(0, 2) + "/" + id] = nx::bench::gzip(content);
    objects[id] = content.size();
  }
  LoopbackServer server(bodies);

  NullLog log;
  nx::UpdaterSettings settings(nx::fromUtf8(scratch.file("settings")), log);
  nx::Autoupdater updater(log, settings);
  // Both stores live in memory when the system has a tmpfs: emptied and
  // refilled on a disk, the inode allocator of the file system, not the
  // download, decides the times, and it varies run by run.
  const std::string stores = std::filesystem::is_directory("/dev/shm")
                                 ? "/dev/shm/nx_bench_download_" + std::to_string(::getpid())
                                 : scratch.file("stores");
  struct Remove {
    std::string path;
    ~Remove() { std::filesystem::remove_all(path); }
  } removeStores{stores};
  const std::wstring store = nx::fromUtf8(stores + "/ours");
  const std::string curlStore = stores + "/curl";
  {
    std::ofstream list(scratch.file("list"));
    list << "silent\ncreate-dirs\nfail\n";
    for (const auto& [path, body] : bodies)
      list << "url = \"" << server.url(path) << "\"\noutput = \"" << curlStore << path.substr(8) << "\"\n";
  }
  const std::string curlCommand = "curl -K " + nx::bench::quote(scratch.file("list"));

  // Each run starts from an empty store; emptying it is not timed.
  auto ours = [&] {
    std::filesystem::remove_all(std::filesystem::path(store));
    std::filesystem::create_directories(std::filesystem::path(store));
    updater.downloadUrls = {server.url("/objects")};
    return nx::bench::bestSeconds(1, [&] { updater.downloadObjects(store, objects); });
  };
  auto reference = [&] {
    std::filesystem::remove_all(curlStore);
    return nx::bench::bestSeconds(1, [&] { nx::bench::shell(curlCommand); });
  };

  // A first pass checks that both stored every object, each over one connection.
  ours();
  const int oursConnections = server.connections();
  reference();
  const int curlConnections = server.connections() - oursConnections;
  std::fprintf(stderr, "bench_download: connections: ours %d, curl %d\n", oursConnections, curlConnections);
  size_t stored = 0, curlStored = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(std::filesystem::path(store)))
    stored += e.is_regular_file();
  for (const auto& e : std::filesystem::recursive_directory_iterator(curlStore)) curlStored += e.is_regular_file();
  if (stored != kObjects || curlStored != kObjects) {
    std::fprintf(stderr, "bench_download: stored %zu, curl %zu of %d objects\n", stored, curlStored, kObjects);
    return 1;
  }

  double oursBest = 1e300, referenceBest = 1e300;
  for (int run = 0; run < 7; ++run) {
    oursBest = std::min(oursBest, ours());
    referenceBest = std::min(referenceBest, reference());
  }
  std::printf(
      "| download 2000 objects of 16 KiB from 127.0.0.1 (goal >= 0.77) | %.3f s | %.3f s (curl -K list) | %.2f |\n",
      oursBest, referenceBest, referenceBest / oursBest);
  std::fflush(stdout);
  updater.cacheDirty = false;
  return 0;
}
