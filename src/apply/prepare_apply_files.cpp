// Where each applier file of a new database will come from: a freshly
// downloaded object when the update brings its content, else the installed
// file. Decided during the download, before the objects are fetched, so the
// download knows which objects the updater needs for itself.
#include "base/error_model.h"
#include "base/paths.h"
#include "db/install_state.h"
#include "db/object_id.h"
#include "net/autoupdater.h"
#include "net/object_store.h"

namespace nx {

void Autoupdater::prepareApplyFiles(const Database& newDatabase, const ObjectSet& objects, ObjectSet& updaterObjects) {
  applyList.clear();
  for (const std::string& entry : newDatabase.apply) {
    // The installed file of an entry is copied into the staging folder and
    // run elevated: an entry that leads out of the installation is refused.
    if (!isSafeRelativePath(entry)) {
      log().log(MiniLog::ERROR, "Unsafe applier file path: \"%s\"", entry.c_str());
      failWith(*this, ErrorCode::ServerError, kInvalidStructure);
    }
    auto found = newDatabase.files.find(entry);
    if (found == newDatabase.files.end())
      failWith(*this, ErrorCode::ServerError, "no db entry for applier file " + entry);
    const std::string& id = found->second.hash;
    auto object = objects.find(id);
    std::wstring source;
    if (!debug_keep_updater && object != objects.end()) {
      if (!isObjectId(id)) failWith(*this, ErrorCode::ServerError, kInvalidStructure);
      source = objectPath(stagingFolder, id);
      updaterObjects.insert(*object);
    } else {
      source = joinPath(baseFolder, entry);
    }
    applyList.push_back(ApplyEntry{fileNamePart(entry), source});
  }
}

}  // namespace nx
