// The hand-over file (_update_info in the staging folder): the mirror list
// and the selected version, written before the updater replaces itself and
// read back by the new updater. Its format is that of an update reply.
#include "db/install_state.h"
#include "db/json.h"
#include "io/file_reader.h"
#include "io/gunzip_writer.h"
#include "io/io_error.h"
#include "net/autoupdater.h"
#include "net/update_reply.h"
#include "sys/files.h"

namespace nx {

void Autoupdater::writeHandOverFile(const std::wstring& path) {
  writeJsonFile(path, [&](yajl_gen gen) {
    jsonMapOpen(gen);
    jsonString(gen, "download_url");
    jsonStringArray(gen, downloadUrls);
    jsonString(gen, "versions");
    jsonArrayOpen(gen);
    jsonMapOpen(gen);
    jsonMember(gen, "timestamp", selectedVersion.timestamp);
    jsonMember(gen, "version", selectedVersion.version);
    jsonMember(gen, "database_id", selectedVersion.database_id);
    jsonMember(gen, "database_size", static_cast<int64_t>(selectedVersion.database_size));  // read back bit for bit
    jsonMapClose(gen);
    jsonArrayClose(gen);
    jsonMapClose(gen);
  });
}

void Autoupdater::readHandOverFile(const std::wstring& path) {
  // Opening a FIFO or a device for reading could block for ever.
  sys::FileInfo info;
  if (sys::fileInfo(path, &info) && (info.isFolder || info.isDevice)) throw OpenFileError(path, L"not a regular file");
  std::string text;
  ReplyTextWriter collect(text);
  GunzipWriter gunzip(collect);
  try {
    readFileToWriter(path, gunzip, neverCancelled);
  } catch (const IOError&) {
    if (collect.overflowed())
      throw IOError(L"read", path, L"larger than " + std::to_wstring(kMaxReplyBytes >> 20) + L" MiB");
    throw;
  }
  UpdateReply reply = parseUpdateReply(text, kInvalidStructure);
  downloadUrls = std::move(reply.downloadUrls);
  versions = std::move(reply.versions);
}

}  // namespace nx
