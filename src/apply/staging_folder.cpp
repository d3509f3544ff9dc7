#include "apply/staging_folder.h"

#include "app/error_model.h"
#include "app/folders.h"
#include "sys/errors.h"
#include "sys/files.h"

namespace nx {

std::wstring makeStagingFolder(Autoupdater& updater) {
  const std::wstring& folder = updater.stagingFolder;
  if (!sys::createPrivateFolders(folder))
    failWithSystemError(updater, "Can't create temp directory", folder, sys::lastError(), ErrorCode::DiskAccessError);
  // What is extracted here runs next, and the applier with administrator rights.
  if (std::string unsafe = unsafeFolderMessage(folder); !unsafe.empty())
    failWith(updater, ErrorCode::DiskAccessError, unsafe);
  return folder;
}

}  // namespace nx
