#include "applier/base_tree.h"

#include "applier/applier_error.h"
#include "base/text.h"
#include "db/object_id.h"
#include "sys/errors.h"
#include "sys/owned_handle.h"

namespace nx::applier {

namespace {

// Folder handles kept open at once; a product with more folders than this
// reopens some of them, which costs a little time and nothing else.
constexpr size_t kMaxOpenFolders = 400;

std::wstring wide(const std::string& name) { return fromUtf8(name); }

}  // namespace

bool splitTreePath(const std::string& path, TreePath* out) {
  if (!isSafeRelativePath(path)) return false;
  std::string normal = path;
  for (char& c : normal)
    if (c == '\\') c = '/';
  if (fromUtf8(normal) == L"#utf8_error" && normal != "#utf8_error") return false;
  size_t slash = normal.rfind('/');
  out->folder = slash == std::string::npos ? std::string() : normal.substr(0, slash);
  out->name = slash == std::string::npos ? normal : normal.substr(slash + 1);
  return true;
}

std::string parentOf(const std::string& folder) {
  size_t slash = folder.rfind('/');
  return slash == std::string::npos ? std::string() : folder.substr(0, slash);
}

std::string describeReach(BaseTree::Reach reach, const std::string& path, const std::string& where) {
  switch (reach) {
    case BaseTree::Reach::link:
      return "path \"" + path + "\" passes through the symbolic link \"" + where + "\"";
    case BaseTree::Reach::file:
      return "path \"" + path + "\" needs the folder \"" + where + "\", which is a file";
    case BaseTree::Reach::missing:
      return "path \"" + path + "\": the folder \"" + where + "\" is missing";
    default:
      return "path \"" + path + "\": the folder \"" + where +
             "\" cannot be opened: " + sys::errorMessage(sys::lastError());
  }
}

BaseTree::BaseTree(const std::wstring& root) : root_(root) {
  sys::Handle handle = sys::openFolder(root);
  if (handle == sys::invalidHandle)
    failWithCode(kBadArguments,
                 "base folder \"" + toUtf8(root) + "\" cannot be opened: " + sys::errorMessage(sys::lastError()));
  rootFolder_ = Folder(std::make_shared<Folder::Open>(handle));
}

BaseTree::~BaseTree() = default;

BaseTree::Folder BaseTree::folder(const std::string& rel, Reach* reach, std::string* where) {
  if (rel.empty()) {
    *reach = Reach::ok;
    return rootFolder_;
  }
  auto found = open_.find(rel);
  if (found != open_.end()) {
    *reach = Reach::ok;
    return found->second;
  }
  // Folders a caller still holds stay open through their copies.
  if (open_.size() >= kMaxOpenFolders) open_.clear();
  return open(rel, reach, where);
}

BaseTree::Folder BaseTree::open(const std::string& rel, Reach* reach, std::string* where) {
  if (rel.empty()) {
    *reach = Reach::ok;
    return rootFolder_;
  }
  auto found = open_.find(rel);
  if (found != open_.end()) {
    *reach = Reach::ok;
    return found->second;
  }
  Folder parent = open(parentOf(rel), reach, where);
  if (parent == sys::invalidHandle) return parent;
  size_t slash = rel.rfind('/');
  std::string name = slash == std::string::npos ? rel : rel.substr(slash + 1);
  sys::Handle handle = sys::openSubfolder(parent, wide(name));
  if (handle == sys::invalidHandle) {
    uint32_t error = sys::lastError();
    *where = rel;
    *reach = error == sys::linkRefused    ? Reach::link
             : error == sys::notAFolder   ? Reach::file
             : error == sys::fileNotFound ? Reach::missing
                                          : Reach::error;
    sys::setLastError(error);
    return Folder();
  }
  Folder opened(std::make_shared<Folder::Open>(handle));
  open_.emplace(rel, opened);
  *reach = Reach::ok;
  return opened;
}

BaseTree::Folder BaseTree::requireFolder(const std::string& rel) {
  Reach reach;
  std::string where;
  Folder handle = folder(rel, &reach, &where);
  if (handle == sys::invalidHandle)
    failWithCode(reach == Reach::link ? kPathRefused : kReplaceFailed, describeReach(reach, rel, where));
  return handle;
}

sys::EntryInfo BaseTree::info(const TreePath& path) {
  Reach reach;
  std::string where;
  sys::EntryInfo entry;
  Folder handle = folder(path.folder, &reach, &where);
  if (handle == sys::invalidHandle) {
    if (reach == Reach::missing) return entry;
    if (reach == Reach::file) {
      // A file where a folder was: the path's entry cannot exist.
      return entry;
    }
    failWithCode(reach == Reach::link ? kPathRefused : kReplaceFailed, describeReach(reach, path.full(), where));
  }
  if (!sys::entryInfo(handle, wide(path.name), &entry))
    failWithCode(kReplaceFailed,
                 "cannot read the attributes of \"" + path.full() + "\": " + sys::errorMessage(sys::lastError()));
  return entry;
}

void BaseTree::forget(const std::string& rel) {
  // The folder and everything cached below it, closed for every holder too:
  // a folder about to go is not used again, and on Windows a folder that a
  // handle holds cannot be removed.
  for (auto it = open_.begin(); it != open_.end();) {
    if (it->first == rel ||
        (it->first.size() > rel.size() && it->first.compare(0, rel.size(), rel) == 0 && it->first[rel.size()] == '/')) {
      sys::close(it->second.open_->handle);
      it->second.open_->handle = sys::invalidHandle;
      it = open_.erase(it);
    } else {
      ++it;
    }
  }
}

bool BaseTree::removeFolderIfEmpty(const std::string& rel) {
  if (rel.empty()) return false;
  Reach reach;
  std::string where;
  Folder parent = folder(parentOf(rel), &reach, &where);
  if (parent == sys::invalidHandle) return false;
  forget(rel);
  size_t slash = rel.rfind('/');
  return sys::removeSubfolder(parent, wide(slash == std::string::npos ? rel : rel.substr(slash + 1)));
}

void BaseTree::createFolder(const std::string& rel) {
  Folder parent = requireFolder(parentOf(rel));
  size_t slash = rel.rfind('/');
  const std::wstring name = wide(slash == std::string::npos ? rel : rel.substr(slash + 1));
  // Like its parent, whatever the umask and whoever runs this: permissions
  // and, in an elevated run, owner.
  sys::EntryInfo like;
  bool ok = sys::handleEntryInfo(parent, &like);
  if (ok && !sys::createSubfolder(parent, name, like.mode & 0777)) {
    if (sys::lastError() == sys::alreadyExists) return;
    ok = false;
  }
  if (ok && sys::effectiveUser() == 0 && (like.owner != 0 || like.group != 0)) {
    sys::OwnedHandle made(sys::openSubfolder(parent, name));
    ok = made.valid() && sys::setOwner(made.get(), like.owner, like.group);
  }
  if (!ok)
    failWithCode(kReplaceFailed, "cannot create the folder \"" + rel + "\": " + sys::errorMessage(sys::lastError()));
}

}  // namespace nx::applier
