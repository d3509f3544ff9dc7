#pragma once
// A release repository on disk, laid out for any static HTTP server or a
// file:// URL:
//   objects/XX/<id>   content objects (gzip) and update databases (plain zip),
//                     named by the SHA-256 of their content after gunzip
//   update/<channel>  the update reply of one channel
//   publish.lock      held while a publish runs
// Every file appears under its final name only when complete. Objects this
// writer created are removed again by rollback(), so a failed publish leaves
// the repository as it was.
#include <cstdint>
#include <string>
#include <vector>

#include "sys/files.h"
#include "sys/owned_handle.h"

namespace nx::publish {

class Repository {
 public:
  explicit Repository(std::wstring root);
  ~Repository();
  Repository(const Repository&) = delete;
  Repository& operator=(const Repository&) = delete;

  // Creates the folders and takes the lock; throws PublishError when another
  // publish holds it.
  void open();

  std::wstring objectPath(const std::string& id) const;
  std::wstring replyPath(const std::string& channel) const;
  bool hasObject(const std::string& id) const;

  // Stores the file's content gzip-compressed under id unless an object of
  // that id exists. Throws PublishError when the content no longer hashes to
  // id (the file changed since it was hashed). Returns true when written.
  bool putGzipObject(const std::string& id, const std::wstring& source);
  // A scratch path inside the repository for building a plain object.
  std::wstring scratchPath(const std::string& name) const;
  // Moves a finished scratch file in as the plain object of its content and
  // returns the id; a copy already present wins and the scratch is removed.
  std::string putPlainObject(const std::wstring& scratch, uint64_t* size);

  // Removes every object and folder this writer created.
  void rollback();
  // Forgets them: the publish succeeded.
  void commit();

  const std::wstring root;
  uint32_t objectsWritten = 0;

 private:
  void ensureFolder(const std::wstring& path);

  sys::OwnedHandle lock_;
  bool createdRoot_ = false;
  std::vector<std::wstring> createdFiles_;
  std::vector<std::wstring> createdFolders_;
};

}  // namespace nx::publish
