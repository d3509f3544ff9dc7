#pragma once
// Reading whole files: a Reader over one file, and the pump that hands a
// file to a Writer chain in chunks.
#include <cstdint>
#include <functional>
#include <string>

#include "io/writer.h"
#include "sys/files.h"
#include "sys/owned_handle.h"

namespace nx {

class FileReader : public Reader {
 public:
  // Throws OpenFileError when the file cannot be opened.
  explicit FileReader(const std::wstring& path);

  // Throws IOError "read".
  size_t read(void* buffer, size_t size) override;

  sys::OwnedHandle handle;
  std::wstring path;
};

// Hands the whole file to out, asking cancelled before every chunk. Returns
// false when cancelled stopped it. sizeOut receives the bytes handed over
// (also after a cancel), timeOut the file's last-write time as a FILETIME (0
// when unknown). Throws OpenFileError, IOError "read", or whatever out throws;
// the file is closed in every case.
bool readFileToWriter(const std::wstring& path, Writer& out, std::function<bool()> cancelled,
                      uint64_t* sizeOut = nullptr, uint64_t* timeOut = nullptr);

// Up to limit bytes from the start of a file, taken with one read; empty
// when the file cannot be opened or read. For small optional text files.
std::string readFileHead(const std::wstring& path, size_t limit);

// A cancel predicate that never cancels.
inline bool neverCancelled() { return false; }

}  // namespace nx
