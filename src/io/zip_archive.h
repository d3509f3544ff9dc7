#pragma once
// Zip archives whose members are read or written one at a time. The archive
// object must outlive its member writer or reader; a second member writer or
// reader on a busy archive is refused. Member names are UTF-8 with '/' and
// are looked up without regard to letter case.
#include <cstdint>
#include <string>

#include "io/writer.h"

namespace nx {

// A new archive (an existing file is replaced). Throws OpenFileError.
class ZipFile {
 public:
  explicit ZipFile(const std::wstring& path);
  // Closes the archive unless close() did; a failure there goes unreported,
  // so whoever needs the archive complete calls close().
  ~ZipFile();
  // Writes the central directory and closes the file. Throws IOError
  // "zipClose failed" when that fails (a full disk): the archive is then
  // incomplete. A second call does nothing.
  void close();
  ZipFile(const ZipFile&) = delete;
  ZipFile& operator=(const ZipFile&) = delete;

  void* handle;
  bool inUse = false;
};

// Writes one member (deflate level 9 unless told). Throws IOError
// "only one ZipWriter can use ZipFile at a time", OpenFileError for a member
// that cannot be started, IOError "zipWriteInFileInZip failed".
class ZipWriter : public Writer {
 public:
  ZipWriter(ZipFile& archive, const char* name, int level = 9);
  ~ZipWriter() override;  // completes the member like close(), unreported
  ZipWriter(const ZipWriter&) = delete;
  ZipWriter& operator=(const ZipWriter&) = delete;

  // Throws IOError "zipWriteInFileInZip failed", also once the writer is closed.
  void write(const void* data, size_t size) override;
  // Completes the member and frees the archive; a second call does nothing.
  // Throws IOError "zipCloseFileInZip failed" when the member cannot be
  // completed (a full disk).
  virtual void close();

  ZipFile* archive;

 private:
  bool open_ = false;  // this writer's member is the archive's open one
};

// An existing archive for reading. Throws OpenFileError.
class UnzipFile {
 public:
  explicit UnzipFile(const std::wstring& path);
  ~UnzipFile();
  UnzipFile(const UnzipFile&) = delete;
  UnzipFile& operator=(const UnzipFile&) = delete;

  void* handle;
  bool inUse = false;
};

// Reads one member. Throws OpenFileError ending in "File not found" for a
// missing member, IOError "only one UnzipReader can use UnzipFile at a time",
// IOError "open(<name>): zip64 sizes ... are not supported" for a member of
// 4 GiB or more, IOError "unzOpenCurrentFile failed" / "unzReadCurrentFile
// failed". The member's length and CRC-32 are checked when its end is read:
// data shorter than the size the archive claims, or a CRC mismatch, is a read
// error. caseSensitivity 0 (the default) compares names without regard to case.
class UnzipReader : public Reader {
 public:
  UnzipReader(UnzipFile& archive, const std::string& name, int caseSensitivity = 0);
  ~UnzipReader() override;
  UnzipReader(const UnzipReader&) = delete;
  UnzipReader& operator=(const UnzipReader&) = delete;

  size_t read(void* buffer, size_t size) override;
  // Uncompressed size of the member as the archive claims it: a hint, never
  // a bound to allocate by (the data is checked against it at its end).
  uint64_t size();

  UnzipFile* archive;

 private:
  uint64_t size_ = 0;              // claimed uncompressed size
  uint64_t done_ = 0;              // bytes read so far
  unsigned long expectedCrc_ = 0;  // claimed CRC-32
  unsigned long crc_ = 0;          // CRC-32 of the bytes read so far
  bool checked_ = false;           // the end of the member was reached and verified
};

}  // namespace nx
