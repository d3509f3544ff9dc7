#include "io/file_writer.h"

#include "io/io_error.h"
#include "sys/errors.h"

namespace nx {

FileWriter::FileWriter(const std::wstring& path) : handle(sys::createWrite(path)), path(path) {
  if (handle == sys::invalidHandle) {
    failed = true;
    throw IOError(L"create", path, 0u);
  }
}

FileWriter::~FileWriter() {
  if (handle != sys::invalidHandle) {
    sys::close(handle);
    // Only a file this writer made is removed: a writer aimed at a device
    // (a pipe, /dev/null) must never unlink the device's name.
    sys::FileInfo info;
    if (sys::fileInfo(path, &info) && !info.isDevice) sys::deleteFile(path);
  }
}

void FileWriter::write(const void* data, size_t size) {
  if (handle == sys::invalidHandle || size == 0) return;
  size_t done = 0;
  bool ok = sys::write(handle, data, size, &done);
  written += done;
  if (!ok) {
    failed = true;
    throw IOError(L"write", path, 0u);
  }
  if (done < size) {
    failed = true;
    throw IOError(L"write", path, sys::diskFull);
  }
}

void FileWriter::close() {
  if (handle == sys::invalidHandle) return;
  sys::close(handle);
  handle = sys::invalidHandle;
}

}  // namespace nx
