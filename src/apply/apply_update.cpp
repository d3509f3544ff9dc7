// The updater's side of applying an update: the applier files go into the
// staging folder and the next stage starts from there. Nothing here changes
// the installation.
#include <filesystem>
#include <system_error>

#include "apply/pending_hand_over.h"
#include "apply/process_start.h"
#include "apply/stage_arguments.h"
#include "base/error_model.h"
#include "base/paths.h"
#include "base/system_error_text.h"
#include "base/text.h"
#include "db/object_id.h"
#include "io/file_reader.h"
#include "io/file_writer.h"
#include "io/gunzip_writer.h"
#include "io/io_error.h"
#include "io/sha256_writer.h"
#include "net/autoupdater.h"
#include "net/object_store.h"
#include "sys/child_process.h"
#include "sys/errors.h"
#include "sys/files.h"

namespace nx {

namespace {

// The object id when source is an object of one of the stores, else empty.
// Objects are kept as received (normally gzip); every other source is an
// installed file, which is copied as it is.
std::string storeObjectId(const std::wstring& source, const std::wstring& store, const std::wstring& otherStore) {
  const std::string id = toUtf8(fileNamePart(source));
  if (!isObjectId(id)) return {};
  if (source == objectPath(store, id) || (!otherStore.empty() && source == objectPath(otherStore, id))) return id;
  return {};
}

// Extracted programs run next (the applier with administrator rights): they
// need the execute permission wherever they may be read.
void makeExecutable(const std::wstring& path) {
  namespace fs = std::filesystem;
  const fs::path native(sys::nativePath(path));
  std::error_code error;
  const fs::perms now = fs::status(native, error).permissions();
  if (error) throw IOError(L"chmod", path, fromUtf8(error.message()));
  fs::perms add = fs::perms::owner_exec;
  if ((now & fs::perms::group_read) != fs::perms::none) add |= fs::perms::group_exec;
  if ((now & fs::perms::others_read) != fs::perms::none) add |= fs::perms::others_exec;
  fs::permissions(native, add, fs::perm_options::add, error);
  if (error) throw IOError(L"chmod", path, fromUtf8(error.message()));
}

// An earlier hand-over's program may still be running from the staging
// folder. A running program cannot be rewritten in place (ETXTBSY), on
// Windows not even deleted, but its name can be taken away: every extracted
// file starts as a new file, and a name that cannot be deleted is renamed
// aside first (that copy goes at a later run, once nothing runs from it).
void removeEarlierCopy(const std::wstring& path) {
  if (sys::deleteFile(path) || !sys::exists(path)) return;
  for (int i = 0; i < 10; ++i) {
    const std::wstring aside = path + L".old" + std::to_wstring(i);
    sys::deleteFile(aside);
    if (sys::moveFile(path, aside)) {
      sys::deleteFile(aside);
      return;
    }
  }
}

// Copies source to target byte for byte; a partial target is removed.
void copyPlain(const std::wstring& source, const std::wstring& target) {
  removeEarlierCopy(target);
  FileWriter file(target);
  readFileToWriter(source, file, neverCancelled);
  file.close();
}

}  // namespace

void Autoupdater::extractApplyFiles(const std::wstring& folder) {
  if (applyList.empty()) failWith(*this, ErrorCode::DatabaseError, "applier is not prepared");
  for (const ApplyEntry& entry : applyList) {
    // The name comes from the update database: it must stay a plain file
    // name in the staging folder.
    if (!isSafeRelativePath(entry.name) || fileNamePart(entry.name) != entry.name)
      failWith(*this, ErrorCode::DatabaseError, "bad applier file name " + entry.name);
    const std::wstring target = joinPath(folder, entry.name);
    const std::string id = storeObjectId(entry.source, folder, stagingFolder);
    if (id.empty()) {
      copyPlain(entry.source, target);
    } else {
      removeEarlierCopy(target);
      FileWriter file(target);
      Sha256Writer sha(file);
      GunzipWriter gunzip(sha);
      readFileToWriter(entry.source, gunzip, neverCancelled);
      // A program about to run elevated is checked against its name once more.
      std::string digest;
      if (sha.finish(digest) != id)
        throw IOError(L"extract", entry.source, L"the content does not match the object id");
      file.close();
    }
    makeExecutable(target);
  }
}

void Autoupdater::applyUpdate() {
  log().log(MiniLog::INFO, "Applying updates...");
  const std::wstring folder = createStagingFolder();
  extractApplyFiles(folder);
  std::wstring program;
  if (applyList.size() >= 2) {
    program = joinPath(folder, applyList[1].name);
  } else {
    // The applier alone: this program, copied beside it, runs the next stage.
    const std::wstring self = executablePath();
    program = joinPath(folder, fileNamePart(self));
    copyPlain(self, program);
    makeExecutable(program);
  }
  // The extraction does not poll: a Cancel that came meanwhile still stops
  // the run before another process takes it over.
  if (cancelRequested()) failWith(*this, ErrorCode::UserCancelled, "");
  startUpdateApplier(program, selfUpdateStage == SelfUpdateStage::OwnFilesFirst ? L"continue" : L"bootstrap", folder);
}

void Autoupdater::startNewUpdater() {
  log().log(MiniLog::INFO, "Starting new updater...");
  const std::wstring folder = createStagingFolder();
  if (applyList.empty()) failWith(*this, ErrorCode::DatabaseError, "applier is not prepared");
  // With the applier alone in the "apply" list, the program that runs this
  // continue stage is the first process's copy of itself in the staging
  // folder; that copy goes on as the bootstrap stage.
  const std::wstring program =
      applyList.size() >= 2 ? joinPath(folder, applyList[1].name) : joinPath(folder, fileNamePart(executablePath()));
  startUpdateApplier(program, L"bootstrap", folder);
}

void Autoupdater::startUpdateApplier(const std::wstring& program, const std::wstring& stageWord,
                                     const std::wstring& folder) {
  const std::vector<std::wstring> line =
      stageCommandLine(program, stageWord, baseFolder, writeFolder, folder, selectedVersion.database_id, installList);
  log().log(MiniLog::INFO, "Starting %s", toUtf8(joinCommandLine(line, 0)).c_str());
  // From here the staging folder belongs to the stage being started.
  if (!PendingHandOver::mark(folder))
    log().log(MiniLog::WARNING, "Can't mark the hand-over in \"%s\": %s", toUtf8(folder).c_str(),
              systemErrorText(sys::lastError()).c_str());
  const bool started = waitForHandOver ? sys::startChild(line, &handedOverTo) : runProcess(line, false);
  if (!started) {
    sys::deleteFile(PendingHandOver::markerPath(folder));
    failWith(*this, ErrorCode::SystemError, "Can't start update applier");
  }
}

}  // namespace nx
