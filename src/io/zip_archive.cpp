#include "io/zip_archive.h"

#include <minizip/unzip.h>
#include <minizip/zip.h>
#include <zlib.h>

#include <cerrno>
#include <climits>

#include "base/text.h"
#include "io/io_error.h"
#include "sys/files.h"

namespace nx {

namespace {

zipFile zipHandle(ZipFile* archive) { return static_cast<zipFile>(archive->handle); }
unzFile unzHandle(UnzipFile* archive) { return static_cast<unzFile>(archive->handle); }

// The library opens files with the C runtime, which reports through errno. A
// file that opens but holds no archive leaves errno at 0: say so in words
// rather than print a meaningless number.
[[noreturn]] void throwOpenArchive(const std::wstring& path, int error) {
  if (error != 0) throw OpenFileError(path, static_cast<uint32_t>(error));
  throw OpenFileError(path, std::wstring(L"not a zip archive"));
}

}  // namespace

ZipFile::ZipFile(const std::wstring& path) {
  zlib_filefunc64_def functions;
  fill_fopen64_filefunc(&functions);
  std::string native = sys::nativePath(path);
  errno = 0;
  handle = zipOpen2_64(native.c_str(), APPEND_STATUS_CREATE, nullptr, &functions);
  if (!handle) throwOpenArchive(path, errno);
}

ZipFile::~ZipFile() {
  if (handle) zipClose(zipHandle(this), nullptr);
}

void ZipFile::close() {
  if (!handle) return;
  int status = zipClose(zipHandle(this), nullptr);
  handle = nullptr;
  if (status != ZIP_OK) throw IOError("zipClose failed", static_cast<uint32_t>(status));
}

ZipWriter::ZipWriter(ZipFile& archive, const char* name, int level) : archive(&archive) {
  if (archive.inUse) throw IOError("only one ZipWriter can use ZipFile at a time", IOError::kNoCode);
  zip_fileinfo info{};  // no date: the same content gives the same archive
  errno = 0;
  int status =
      zipOpenNewFileInZip64(zipHandle(&archive), name, &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, level, 1);
  if (status != ZIP_OK) {
    if (errno != 0) throw OpenFileError(fromUtf8(name), static_cast<uint32_t>(errno));
    throw OpenFileError(fromUtf8(name), L"zipOpenNewFileInZip64 failed (" + std::to_wstring(status) + L")");
  }
  archive.inUse = true;
  open_ = true;
}

ZipWriter::~ZipWriter() {
  try {
    close();
  } catch (const IOError&) {
    // Only an explicit close reports; the archive's close finds the damage.
  }
}

void ZipWriter::write(const void* data, size_t size) {
  // A closed writer must not write into a member another writer has opened.
  if (!open_) throw IOError("zipWriteInFileInZip failed", static_cast<uint32_t>(ZIP_PARAMERROR));
  if (size == 0) return;
  const char* bytes = static_cast<const char*>(data);
  do {
    size_t piece = size < UINT_MAX ? size : UINT_MAX;
    int status = zipWriteInFileInZip(zipHandle(archive), bytes, static_cast<unsigned>(piece));
    if (status != ZIP_OK) throw IOError("zipWriteInFileInZip failed", static_cast<uint32_t>(status));
    bytes += piece;
    size -= piece;
  } while (size > 0);
}

void ZipWriter::close() {
  if (!open_) return;
  open_ = false;
  archive->inUse = false;
  int status = zipCloseFileInZip(zipHandle(archive));
  if (status != ZIP_OK) throw IOError("zipCloseFileInZip failed", static_cast<uint32_t>(status));
}

UnzipFile::UnzipFile(const std::wstring& path) {
  zlib_filefunc64_def functions;
  fill_fopen64_filefunc(&functions);
  std::string native = sys::nativePath(path);
  errno = 0;
  handle = unzOpen2_64(native.c_str(), &functions);
  if (!handle) throwOpenArchive(path, errno);
}

UnzipFile::~UnzipFile() { unzClose(unzHandle(this)); }

UnzipReader::UnzipReader(UnzipFile& archive, const std::string& name, int caseSensitivity) : archive(&archive) {
  unzFile h = unzHandle(&archive);
  // The library's platform default (0) is case-sensitive here; member names
  // compare without regard to case everywhere.
  int mode = caseSensitivity == 0 ? 2 : caseSensitivity;
  // Looking up a name moves the archive's current entry; while another reader
  // is active, put it back so that reader's member stays the current one.
  unz64_file_pos saved{};
  bool busy = archive.inUse;
  if (busy) unzGetFilePos64(h, &saved);
  int found = unzLocateFile(h, name.c_str(), mode);
  if (busy && found == UNZ_OK) unzGoToFilePos64(h, &saved);
  if (found != UNZ_OK) throw OpenFileError(fromUtf8(name), std::wstring(L"File not found"));
  if (busy) throw IOError("only one UnzipReader can use UnzipFile at a time", IOError::kNoCode);
  unz_file_info64 info;
  int status = unzGetCurrentFileInfo64(h, &info, nullptr, 0, nullptr, 0, nullptr, 0);
  if (status != UNZ_OK) throw IOError("unzOpenCurrentFile failed", static_cast<uint32_t>(status));
  // The system's library does not take a member's sizes from the zip64 extra
  // field: it would report 4 GiB - 1 and read past the member's data. Such
  // members (4 GiB or more) are refused rather than read wrong.
  if (info.uncompressed_size == 0xFFFFFFFFu || info.compressed_size == 0xFFFFFFFFu)
    throw IOError(L"open", fromUtf8(name), L"zip64 sizes (a member of 4 GiB or more) are not supported");
  status = unzOpenCurrentFile(h);
  if (status != UNZ_OK) throw IOError("unzOpenCurrentFile failed", static_cast<uint32_t>(status));
  size_ = info.uncompressed_size;
  expectedCrc_ = info.crc;
  crc_ = crc32(0L, Z_NULL, 0);
  archive.inUse = true;
}

UnzipReader::~UnzipReader() {
  unzCloseCurrentFile(unzHandle(archive));
  archive->inUse = false;
}

size_t UnzipReader::read(void* buffer, size_t size) {
  unzFile h = unzHandle(archive);
  unsigned ask = size < INT_MAX ? static_cast<unsigned>(size) : INT_MAX;
  int got = unzReadCurrentFile(h, buffer, ask);
  if (got < 0) throw IOError("unzReadCurrentFile failed", static_cast<uint32_t>(got));
  crc_ = crc32(crc_, static_cast<const Bytef*>(buffer), static_cast<uInt>(got));
  done_ += static_cast<unsigned>(got);
  // The library checks the CRC only when the member is closed, and a
  // destructor cannot report it: check it as soon as the end is read. A
  // member whose data ends before the size its header claims (a broken or
  // hostile archive) ends there too, and is just as wrong.
  if (!checked_ && static_cast<unsigned>(got) < ask) {
    checked_ = true;
    if (done_ != size_) throw IOError("unzReadCurrentFile failed", static_cast<uint32_t>(UNZ_BADZIPFILE));
    if (expectedCrc_ != crc_) throw IOError("unzReadCurrentFile failed", static_cast<uint32_t>(UNZ_CRCERROR));
  }
  return static_cast<size_t>(got);
}

uint64_t UnzipReader::size() { return size_; }

}  // namespace nx
