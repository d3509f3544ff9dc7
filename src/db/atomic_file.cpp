#include "db/atomic_file.h"

#include "io/io_error.h"
#include "sys/errors.h"
#include "sys/files.h"
#include "sys/owned_handle.h"

namespace nx {

namespace {

// Closes and removes the temporary file and throws, keeping the error that
// caused it.
[[noreturn]] void fail(sys::OwnedHandle& file, const std::wstring& temp, const wchar_t* operation,
                       const std::wstring& path, uint32_t code) {
  uint32_t error = code ? code : sys::lastError();
  file.reset();
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
  sys::OwnedHandle file(sys::createUnique(path, &temp, path));
  if (!file.valid()) fail(file, temp, L"create", path, 0);
  size_t done = 0;
  if (!sys::write(file.get(), content.data(), content.size(), &done)) fail(file, temp, L"write", path, 0);
  if (done < content.size()) fail(file, temp, L"write", path, sys::diskFull);
  if (!sys::flush(file.get())) fail(file, temp, L"write", path, 0);
  file.reset();
  if (!sys::replaceFile(temp, path)) fail(file, temp, L"create", path, 0);
}

}  // namespace nx
