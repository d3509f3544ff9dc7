// One object from the mirrors: each transfer streams into the object file
// and, at the same time, through gunzip into SHA-256, so the digest is known
// the moment the body ends. A body that fails any check is deleted and the
// next mirror is tried; the mirror that worked stays first for the next
// object.
#include <limits>
#include <string>

#include "base/error_model.h"
#include "db/install_state.h"
#include "db/object_id.h"
#include "io/file_writer.h"
#include "io/gunzip_writer.h"
#include "io/io_error.h"
#include "io/sha256_writer.h"
#include "net/autoupdater.h"
#include "net/object_store.h"

namespace nx {

namespace {

const char* const kServersFailed = "Update servers can't handle your request. Please, try again later.";

// What an object may exceed its announced size by: gzip's header and
// trailer and its few bytes per stored block of incompressible data.
uint64_t withMargin(uint64_t size) {
  const uint64_t margin = size / 256 + 64 * 1024;
  return size > std::numeric_limits<uint64_t>::max() - margin ? std::numeric_limits<uint64_t>::max() : size + margin;
}

// Passes bytes on until more than `limit` have come; then refuses the chunk
// that would pass it, so an endless body or a gzip bomb stops at the limit.
class LimitWriter : public Writer {
 public:
  LimitWriter(Writer& next, uint64_t limit, const char* what, uint64_t announced)
      : next_(next), limit_(limit), what_(what), announced_(announced) {}
  void write(const void* data, size_t size) override {
    if (size > limit_ - count_)
      throw IOError(
          std::string(what_) + " more than the " + std::to_string(announced_) + " bytes the version announces",
          IOError::kNoCode);
    count_ += size;
    next_.write(data, size);
  }

 private:
  Writer& next_;
  const uint64_t limit_;
  uint64_t count_ = 0;
  const char* what_;
  const uint64_t announced_;
};

}  // namespace

void Autoupdater::fetchObject(std::deque<std::string>& urls, const std::wstring& store, const std::string& id,
                              uint64_t size) {
  const size_t attempts = urls.size();
  for (size_t k = 0; k < attempts; ++k) {
    const std::string url = urls.front();
    if (k > 0) log().log(MiniLog::INFO, "Switching download URL to %s", url.c_str());
    if (downloadObject(url, store, id, size)) return;
    // The failed mirror goes last; the order stays for every later object.
    urls.push_back(urls.front());
    urls.pop_front();
    if (cancelRequested()) failWith(*this, ErrorCode::UserCancelled, "");
  }
  log().log(MiniLog::ERROR, "Can't download object %s", id.c_str());
  failWith(*this, ErrorCode::ServerError, kServersFailed);
}

bool Autoupdater::downloadObject(const std::string& url, const std::wstring& store, const std::string& id,
                                 uint64_t size) {
  if (!isObjectId(id)) failWith(*this, ErrorCode::ServerError, kInvalidStructure);
  const std::wstring path = objectPath(store, id);
  const std::string objectUrl = url + "/" + id.substr(0, 2) + "/" + id;
  const std::string prefix = "Can't download object " + objectUrl + ": ";
  try {
    // The file takes the bytes as they arrive; the digest is taken after
    // gunzip. Either side stops a body that grows past what was announced.
    FileWriter file(path);
    LimitWriter received(file, withMargin(size), "received", size);
    Sha256Writer sha;
    ContentProgress added(*this, sha);
    LimitWriter inflated(added, withMargin(size), "content inflates to", size);
    GunzipWriter gunzip(inflated);
    SplitWriter split(received, gunzip);

    TransferSink sink;
    sink.out = &split;
    sink.cancelled = [this] { return cancelRequested(); };
    sink.progress = [this](uint64_t n) { addProgress(n); };
    const int result = http.get(objectUrl, sink, {},
                                localRepository ? HttpClient::Reach::networkAndFiles : HttpClient::Reach::network);

    if (sink.aborted) failWith(*this, ErrorCode::UserCancelled, "");
    if (result == kCurlWriteError) {
      if (file.failed) failWith(*this, ErrorCode::NotEnoughDiskSpace, prefix + sink.error.what());
      log().log(MiniLog::ERROR, "%s%s", prefix.c_str(), sink.error.what());
      return false;  // the writer's destruction deletes the file
    }
    if (result != kCurlOk) log().log(MiniLog::ERROR, "%s%s", prefix.c_str(), HttpClient::resultText(result).c_str());
    const uint32_t status = http.responseCode();
    if (status != 0 && status != 200) {
      log().log(MiniLog::ERROR, "%sHTTP status %d", prefix.c_str(), static_cast<int>(status));
      return false;
    }
    const double length = http.contentLength();
    if (length != -1.0 && static_cast<double>(file.written) != length) {
      log().log(MiniLog::ERROR, "Incomplete file received: %lld of %lld bytes", static_cast<long long>(file.written),
                static_cast<long long>(length));
      return false;
    }
    std::string digest;
    if (sha.finish(digest) != id) {
      log().log(MiniLog::ERROR, "%s%s", prefix.c_str(), "hash mismatch");
      return false;
    }
    file.close();
    added.keep();
    return true;
  } catch (const GzipError& e) {
    failWith(*this, ErrorCode::ServerError, prefix + e.what());
  } catch (const IOError& e) {
    failWith(*this, ErrorCode::DiskAccessError, prefix + e.what());
  }
}

}  // namespace nx
