#include "db/atomic_file.h"

#include "io/io_error.h"
#include "sys/errors.h"
#include "sys/files.h"

namespace nx {

namespace {

// Removes the temporary file and throws, keeping the error that caused it.
[[noreturn]] void fail(sys::Handle handle, const std::wstring& temp, const wchar_t* operation,
                       const std::wstring& path, uint32_t code) {
  uint32_t error = code ? code : sys::lastError();
  if (handle != sys::invalidHandle) sys::close(handle);
  sys::deleteFile(temp);
  if (code) throw IOError(operation, path, code);
  sys::setLastError(error);
  throw IOError(operation, path, 0u);
}

}  // namespace

void writeFileAtomically(const std::wstring& path, std::string_view content) {
  const std::wstring temp = path + L".tmp";
  sys::Handle handle = sys::createWrite(temp);
  if (handle == sys::invalidHandle) fail(handle, temp, L"create", path, 0);
  size_t done = 0;
  if (!sys::write(handle, content.data(), content.size(), &done)) fail(handle, temp, L"write", path, 0);
  if (done < content.size()) fail(handle, temp, L"write", path, sys::diskFull);
  if (!sys::flush(handle)) fail(handle, temp, L"write", path, 0);
  sys::close(handle);
  if (!sys::replaceFile(temp, path)) fail(sys::invalidHandle, temp, L"create", path, 0);
}

}  // namespace nx
