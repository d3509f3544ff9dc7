#include "io/file_writer.h"

#include <limits>

#include "io/io_error.h"

namespace nx {

FileWriter::FileWriter(const std::wstring& path)
    : HandleWriter(sys::createWrite(path), std::numeric_limits<uint64_t>::max(), path), path(path) {
  if (handle == sys::invalidHandle) {
    failed = true;
    throw IOError(L"create", path, 0u);
  }
}

FileWriter::~FileWriter() {
  if (handle != sys::invalidHandle) {
    close();
    // Only a file this writer made is removed: a writer aimed at a device
    // (a pipe, /dev/null) must never unlink the device's name.
    sys::FileInfo info;
    if (sys::fileInfo(path, &info) && !info.isDevice) sys::deleteFile(path);
  }
}

void FileWriter::close() {
  if (handle == sys::invalidHandle) return;
  sys::close(handle);
  handle = sys::invalidHandle;
}

}  // namespace nx
