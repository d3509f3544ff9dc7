#include "app/autoupdater.h"
#include "app/paths.h"
#include "net/file_cache.h"

namespace nx {

void Autoupdater::saveFileCacheIfDirty() {
  if (!cacheDirty) return;
  saveFileCache(joinPath(writeFolder, L"autoupdate.cache"), database);
  cacheDirty = false;
}

}  // namespace nx
