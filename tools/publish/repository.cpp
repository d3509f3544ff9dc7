#include "publish/repository.h"

#include "base/text.h"
#include "io/file_reader.h"
#include "io/file_writer.h"
#include "io/io_error.h"
#include "io/sha256_writer.h"
#include "publish/gzip_writer.h"
#include "publish/publish_error.h"
#include "publish/release_content.h"
#include "sys/errors.h"
#include "sys/lock.h"

namespace nx::publish {

namespace {

// A file of the repository's own making that is deleted when it goes out of
// scope, on every path, unless it was put in place.
struct ScratchFile {
  explicit ScratchFile(std::wstring path) : path(std::move(path)) {}
  ~ScratchFile() {
    if (!path.empty()) sys::deleteFile(path);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  std::wstring path;
};

// Renames the scratch file to target; it is gone from its old name either way.
void putInPlace(ScratchFile& scratch, const std::wstring& target) {
  if (!sys::moveFile(scratch.path, target))
    throw PublishError("cannot put the object \"" + toUtf8(target) +
                       "\" in place: " + sys::errorMessage(sys::lastError()));
  scratch.path.clear();
}

}  // namespace

Repository::Repository(std::wstring root) : root(std::move(root)) {}

Repository::~Repository() = default;

void Repository::ensureFolder(const std::wstring& path) {
  sys::FileInfo info;
  if (sys::fileInfo(path, &info)) {
    if (!info.isFolder) throw PublishError("\"" + toUtf8(path) + "\" is in the way of a repository folder");
    return;
  }
  if (!sys::createFolder(path) && sys::lastError() != sys::alreadyExists)
    throw PublishError("cannot create the folder \"" + toUtf8(path) + "\": " + sys::errorMessage(sys::lastError()));
  createdFolders_.push_back(path);
}

void Repository::open() {
  sys::FileInfo info;
  if (!sys::fileInfo(root, &info)) {
    if (!sys::createFolders(root))
      throw PublishError("cannot create the repository \"" + toUtf8(root) +
                         "\": " + sys::errorMessage(sys::lastError()));
    createdRoot_ = true;
  } else if (!info.isFolder) {
    throw PublishError("repository \"" + toUtf8(root) + "\" is not a folder");
  }
  lock_.reset(sys::tryLockFile(root + L"/publish.lock"));
  if (!lock_.valid()) {
    if (sys::lastError() == sys::sharingViolation)
      throw PublishError("another publish is running in \"" + toUtf8(root) + "\"");
    throw PublishError("cannot lock the repository \"" + toUtf8(root) + "\": " + sys::errorMessage(sys::lastError()));
  }
  ensureFolder(root + L"/objects");
  ensureFolder(root + L"/update");
}

std::wstring Repository::objectPath(const std::string& id) const {
  return root + L"/objects/" + fromUtf8(id.substr(0, 2)) + L"/" + fromUtf8(id);
}

std::wstring Repository::replyPath(const std::string& channel) const { return root + L"/update/" + fromUtf8(channel); }

bool Repository::hasObject(const std::string& id) const {
  sys::FileInfo info;
  return sys::fileInfo(objectPath(id), &info) && !info.isFolder;
}

bool Repository::putGzipObject(const std::string& id, const std::wstring& source) {
  if (hasObject(id)) return false;
  ensureFolder(root + L"/objects/" + fromUtf8(id.substr(0, 2)));
  const std::wstring target = objectPath(id);
  const std::wstring partial = target + L".partial";
  std::string digest;
  {
    FileWriter file(partial);  // removed again unless closed; then by the scratch file
    GzipWriter gzip(file);
    Sha256Writer sha(gzip);
    try {
      readFileToWriter(source, sha, neverCancelled);
    } catch (const OpenFileError& e) {
      throw PublishError(std::string("cannot read product file: ") + e.what());
    }
    gzip.finish();
    sha.finish(digest);
    if (digest != id) throw PublishError("\"" + toUtf8(source) + "\" changed while it was being published");
    file.close();
  }
  ScratchFile scratch(partial);
  putInPlace(scratch, target);
  createdFiles_.push_back(target);
  ++objectsWritten;
  return true;
}

std::wstring Repository::scratchPath(const std::string& name) const { return root + L"/objects/" + fromUtf8(name); }

std::string Repository::putPlainObject(const std::wstring& file, uint64_t* size) {
  ScratchFile scratch(file);
  const std::string id = hashFile(scratch.path, size);
  if (hasObject(id)) return id;
  ensureFolder(root + L"/objects/" + fromUtf8(id.substr(0, 2)));
  const std::wstring target = objectPath(id);
  putInPlace(scratch, target);
  createdFiles_.push_back(target);
  ++objectsWritten;
  return id;
}

void Repository::rollback() {
  for (auto it = createdFiles_.rbegin(); it != createdFiles_.rend(); ++it) sys::deleteFile(*it);
  for (auto it = createdFolders_.rbegin(); it != createdFolders_.rend(); ++it) sys::removeFolder(*it);
  if (createdRoot_ && lock_.valid()) {
    // A repository that this run created goes away again.
    sys::deleteFile(root + L"/publish.lock");
    lock_.reset();
    sys::removeFolder(root);
  }
  commit();
}

void Repository::commit() {
  createdRoot_ = false;
  createdFiles_.clear();
  createdFolders_.clear();
}

}  // namespace nx::publish
