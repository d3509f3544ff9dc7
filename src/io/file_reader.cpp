#include "io/file_reader.h"

#include "io/io_error.h"
#include "sys/errors.h"
#include "sys/owned_handle.h"

namespace nx {

FileReader::FileReader(const std::wstring& path) : handle(sys::openRead(path)), path(path) {
  if (!handle.valid()) throw OpenFileError(path, sys::lastError());
}

size_t FileReader::read(void* buffer, size_t size) {
  size_t got = 0;
  if (!sys::read(handle.get(), buffer, size, &got)) throw IOError(L"read", path, sys::lastError());
  return got;
}

std::string readFileHead(const std::wstring& path, size_t limit) {
  std::string head(limit, '\0');
  try {
    FileReader reader(path);
    head.resize(reader.read(head.data(), limit));
  } catch (const IOError&) {
    head.clear();
  }
  return head;
}

bool readFileToWriter(const std::wstring& path, Writer& out, std::function<bool()> cancelled, uint64_t* sizeOut,
                      uint64_t* timeOut) {
  sys::OwnedHandle file(sys::openRead(path));
  if (!file.valid()) throw OpenFileError(path, sys::lastError());
  const sys::Handle h = file.get();

  char buffer[kChunkSize];
  uint64_t total = 0;
  bool wasCancelled = false;
  for (;;) {
    if (cancelled()) {
      wasCancelled = true;
      break;
    }
    size_t got = 0;
    if (!sys::read(h, buffer, kChunkSize, &got)) throw IOError(L"read", path, sys::lastError());
    if (got == 0) break;
    out.write(buffer, got);
    total += got;
    if (got < kChunkSize) break;
  }
  if (sizeOut) *sizeOut = total;
  if (timeOut) {
    uint64_t t = 0;
    *timeOut = sys::fileTime(h, &t) ? t : 0;
  }
  return !wasCancelled;
}

}  // namespace nx
