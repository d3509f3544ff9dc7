#include "db/atomic_file.h"

#include "io/io_error.h"
#include "sys/errors.h"
#include "sys/files.h"

namespace nx {

namespace {

// Removes the temporary file and throws, keeping the error that caused it.
[[noreturn]] void fail(sys::Handle handle, const std::wstring& temp, const wchar_t* operation, const std::wstring& path,
                       uint32_t code) {
  uint32_t error = code ? code : sys::lastError();
  if (handle != sys::invalidHandle) sys::close(handle);
  if (!temp.empty()) sys::deleteFile(temp);
  if (code) throw IOError(operation, path, code);
  sys::setLastError(error);
  throw IOError(operation, path, 0u);
}

}  // namespace

void writeFileAtomically(const std::wstring& path, std::string_view content) {
  // A fresh name, created exclusively: nothing planted beside the file (a
  // link, a FIFO) is ever written through. The previous file's mode carries
  // over, so a private file stays private.
  std::wstring temp;
  sys::Handle handle = sys::createUnique(path, &temp, path);
  if (handle == sys::invalidHandle) fail(handle, temp, L"create", path, 0);
  size_t done = 0;
  if (!sys::write(handle, content.data(), content.size(), &done)) fail(handle, temp, L"write", path, 0);
  if (done < content.size()) fail(handle, temp, L"write", path, sys::diskFull);
  if (!sys::flush(handle)) fail(handle, temp, L"write", path, 0);
  sys::close(handle);
  if (!sys::replaceFile(temp, path)) fail(sys::invalidHandle, temp, L"create", path, 0);
}

}  // namespace nx
