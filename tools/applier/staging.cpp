#include "applier/staging.h"

#include <algorithm>

#include "applier/applier_error.h"
#include "applier/content_stream.h"
#include "applier/transaction.h"
#include "base/text.h"
#include "io/file_reader.h"
#include "io/gunzip_writer.h"
#include "io/io_error.h"
#include "io/sha256_writer.h"
#include "net/worker_pool.h"
#include "sys/errors.h"
#include "sys/no_follow.h"
#include "sys/owned_handle.h"

namespace nx::applier {

namespace {

std::string describe(const ContentSource& source) {
  switch (source.kind) {
    case ContentSource::Kind::object:
      return "object \"" + toUtf8(source.file) + "\"";
    case ContentSource::Kind::installed:
      return "installed file \"" + source.installed.full() + "\"";
    case ContentSource::Kind::file:
      return "file \"" + toUtf8(source.file) + "\"";
    default:
      return "generated text";
  }
}

// Feeds the source into out. A problem of the source (missing, unreadable,
// corrupt) returns its text; a problem of the new file throws.
std::string feed(const ContentSource& source, Writer& out, const HandleWriter& target) {
  try {
    switch (source.kind) {
      case ContentSource::Kind::object: {
        // The store is the user's: never through a link, regular files only.
        sys::OwnedHandle in(sys::openFileAt(source.installedFolder, fromUtf8(source.installed.name)));
        if (!in.valid()) return "cannot be opened: " + sys::errorMessage(sys::lastError());
        GunzipWriter gunzip(out);
        pumpHandle(in.get(), gunzip, source.file);
        break;
      }
      case ContentSource::Kind::file:
        readFileToWriter(source.file, out, neverCancelled);
        break;
      case ContentSource::Kind::installed: {
        sys::OwnedHandle in(sys::openFileAt(source.installedFolder, fromUtf8(source.installed.name)));
        if (!in.valid()) return "cannot be opened: " + sys::errorMessage(sys::lastError());
        pumpHandle(in.get(), out, fromUtf8(source.installed.full()));
        break;
      }
      case ContentSource::Kind::text:
        out.write(source.text->data(), source.text->size());
        break;
    }
  } catch (const ContentTooLong&) {
    return "holds more bytes than the database lists";
  } catch (const GzipError& e) {
    return std::string("is not valid gzip data: ") + e.what();
  } catch (const IOError& e) {
    if (target.failed) throw;  // the new file, not the source
    return e.what();
  }
  return {};
}

// An elevated run makes files owned by the installation's owners, not by
// itself: the replaced file's owner, or the folder's.
bool giveOwner(sys::Handle handle, sys::Handle folder, const NewFile& file) {
  if (sys::effectiveUser() != 0) return true;
  uint32_t owner = file.owner, group = file.group;
  if (!file.ownerKnown) {
    sys::EntryInfo info;
    if (!sys::handleEntryInfo(folder, &info)) return false;
    owner = info.owner;
    group = info.group;
  }
  return (owner == 0 && group == 0) || sys::setOwner(handle, owner, group);
}

}  // namespace

void resolveFolders(BaseTree& tree, BaseTree& store, NewFile& file) {
  file.folder = tree.requireFolder(file.path.folder);
  for (ContentSource& source : file.sources)
    if (source.kind == ContentSource::Kind::installed)
      source.installedFolder = tree.requireFolder(source.installed.folder);
    else if (source.kind == ContentSource::Kind::object)
      source.installedFolder = store.requireFolder(source.installed.folder);
}

StagedFile stageFile(const NewFile& file, MiniLog& log) {
  const BaseTree::Folder& folder = file.folder;
  const std::wstring staged = Transaction::stagedName(file.path.name);
  const std::wstring display = fromUtf8(file.path.full());
  std::string problem = "no source holds its content";
  for (const ContentSource& source : file.sources) {
    sys::OwnedHandle handle(sys::createFileAt(folder, staged, file.executable));
    if (!handle.valid())
      failWithCode(kReplaceFailed, "cannot create the new copy of \"" + file.path.full() +
                                       "\": " + sys::errorMessage(sys::lastError()));
    if (!giveOwner(handle.get(), folder, file)) {
      uint32_t error = sys::lastError();
      handle.reset();
      sys::deleteAt(folder, staged);
      failWithCode(kReplaceFailed,
                   "cannot give the new copy of \"" + file.path.full() + "\" its owner: " + sys::errorMessage(error));
    }
    HandleWriter target(handle.get(), file.size, display);
    Sha256Writer sha(target);
    std::string digest;
    try {
      problem = feed(source, sha, target);
      if (problem.empty()) {
        sha.finish(digest);
        if (digest != file.digest)
          problem = "holds content that hashes to " + digest;
        else if (target.written != file.size)
          problem =
              "holds " + std::to_string(target.written) + " bytes, the database lists " + std::to_string(file.size);
      }
    } catch (const IOError& e) {
      handle.reset();
      sys::deleteAt(folder, staged);
      failWithCode(kReplaceFailed,
                   std::string("cannot write the new copy of \"") + file.path.full() + "\": " + e.what());
    }
    if (problem.empty()) {
      StagedFile result;
      // No write-back is started per file: one sync for all of them before
      // the replacements writes the same data in far fewer requests.
      bool known = sys::handleInfo(handle.get(), &result.size, &result.writeTime);
      handle.reset();
      if (!known) failWithCode(kReplaceFailed, "cannot read back \"" + file.path.full() + "\"");
      return result;
    }
    handle.reset();
    sys::deleteAt(folder, staged);
    problem = describe(source) + " " + problem;
    log.log(MiniLog::WARNING, "Content of \"%s\" (%s): %s", file.path.full().c_str(), file.digest.c_str(),
            problem.c_str());
  }
  failWithCode(kBadObject,
               "the content " + file.digest + " of \"" + file.path.full() + "\" is missing or corrupt: " + problem);
}

std::vector<StagedFile> stageFiles(const std::vector<const NewFile*>& files, MiniLog& log, TestHook& hook,
                                   unsigned threads) {
  std::vector<StagedFile> staged(files.size());
  threads = std::max(1u, std::min<unsigned>(threads, static_cast<unsigned>(files.size() / 8 + 1)));
  forEachInParallel(
      files.size(), threads,
      [&](size_t i) {
        staged[i] = stageFile(*files[i], log);
        hook.step("stage");
      },
      [] { return false; });
  return staged;
}

}  // namespace nx::applier
