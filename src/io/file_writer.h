#pragma once
// Writes a new file. Creation truncates an existing file at once. The file is
// kept only when close() is called: a writer destroyed while still open (an
// exception unwinding, a cancelled transfer) deletes its file.
#include <string>

#include "io/handle_writer.h"

namespace nx {

// Writes go through HandleWriter: IOError "write", a short write with the
// disk-full number; nothing once closed. `written` and `failed` are its.
class FileWriter : public HandleWriter {
 public:
  // Throws IOError "create" when the file cannot be created.
  explicit FileWriter(const std::wstring& path);
  ~FileWriter() override;
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  // Keeps the file. A second call does nothing.
  void close();

  std::wstring path;
};

}  // namespace nx
