#pragma once
// Writes a new file. Creation truncates an existing file at once. The file is
// kept only when close() is called: a writer destroyed while still open (an
// exception unwinding, a cancelled transfer) deletes its file.
#include <cstdint>
#include <string>

#include "io/writer.h"
#include "sys/files.h"

namespace nx {

class FileWriter : public Writer {
 public:
  // Throws IOError "create" when the file cannot be created.
  explicit FileWriter(const std::wstring& path);
  ~FileWriter() override;
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  // Throws IOError "write"; a short write is reported with the disk-full
  // number. Does nothing once closed.
  void write(const void* data, size_t size) override;
  // Keeps the file. A second call does nothing.
  void close();

  sys::Handle handle;
  std::wstring path;
  uint64_t written = 0;  // bytes the system reported as written
  bool failed = false;   // set by every error this writer raised
};

}  // namespace nx
