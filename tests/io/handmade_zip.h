#pragma once
// Zip archives and gzip streams built byte by byte, for what the libraries
// will not write: members that claim sizes they do not have, and members or
// streams of more than 4 GiB made in an instant (a deflate unit, repeated).
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace nx::test {

struct HandmadeMember {
  std::string name;
  std::string deflated;  // raw deflate data
  uint32_t crc = 0;
  uint64_t size = 0;                // real uncompressed size
  uint64_t declaredSize = UINT64_MAX;  // what the headers claim; UINT64_MAX: the real size
  bool zip64 = false;                  // sizes in a zip64 extra field, as writers store 4 GiB and more
};

inline void putLe(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

// Raw deflate of the bytes, level 9.
inline std::string rawDeflate(const std::string& data) {
  z_stream s{};
  deflateInit2(&s, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&s, data.size()), '\0');
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = reinterpret_cast<Bytef*>(out.data());
  s.avail_out = static_cast<uInt>(out.size());
  deflate(&s, Z_FINISH);
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

inline HandmadeMember deflatedMember(const std::string& name, const std::string& data) {
  HandmadeMember m;
  m.name = name;
  m.deflated = rawDeflate(data);
  m.crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
  m.size = data.size();
  return m;
}

// A member of `mebibytes` MiB of zero bytes. A full flush resets the
// compressor, so every MiB compresses to the same bytes: one unit, repeated.
inline HandmadeMember zeroMember(const std::string& name, uint64_t mebibytes) {
  const std::string zeros(1 << 20, '\0');
  z_stream s{};
  deflateInit2(&s, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  auto run = [&](int flush, const std::string& in) {
    std::string out(deflateBound(&s, in.size()) + 64, '\0');
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    s.avail_in = static_cast<uInt>(in.size());
    s.next_out = reinterpret_cast<Bytef*>(out.data());
    s.avail_out = static_cast<uInt>(out.size());
    deflate(&s, flush);
    out.resize(out.size() - s.avail_out);
    return out;
  };
  const std::string unit = run(Z_FULL_FLUSH, zeros);
  const std::string end = run(Z_FINISH, "");
  deflateEnd(&s);
  HandmadeMember m;
  m.name = name;
  m.deflated.reserve(unit.size() * mebibytes + end.size());
  const uLong unitCrc = crc32(0, reinterpret_cast<const Bytef*>(zeros.data()), static_cast<uInt>(zeros.size()));
  uLong crc = 0;
  for (uint64_t i = 0; i < mebibytes; ++i) {
    m.deflated += unit;
    crc = crc32_combine(crc, unitCrc, static_cast<z_off_t>(zeros.size()));
  }
  m.deflated += end;
  m.crc = static_cast<uint32_t>(crc);
  m.size = mebibytes << 20;
  m.zip64 = m.size >= 0xFFFFFFFFu;
  return m;
}

// An archive of the members, with a zip64 end record (the library looks for
// it first); a zip64 member keeps its sizes in the extra field only.
inline std::string handmadeZip(const std::vector<HandmadeMember>& members) {
  std::string out, directory;
  for (const HandmadeMember& m : members) {
    const uint64_t size = m.declaredSize == UINT64_MAX ? m.size : m.declaredSize;
    auto header = [&](std::string& to, bool central) {
      putLe(to, central ? 0x02014b50 : 0x04034b50, 4);
      if (central) putLe(to, 45, 2);  // made by
      putLe(to, 45, 2);               // needed: zip64
      putLe(to, 0, 2);                // flags
      putLe(to, 8, 2);                // deflate
      putLe(to, 0, 4);                // time and date
      putLe(to, m.crc, 4);
      putLe(to, m.zip64 ? 0xFFFFFFFF : m.deflated.size(), 4);
      putLe(to, m.zip64 ? 0xFFFFFFFF : size, 4);
      putLe(to, m.name.size(), 2);
      putLe(to, m.zip64 ? 20 : 0, 2);  // extra field length
      if (central) {
        putLe(to, 0, 2);  // comment
        putLe(to, 0, 2);  // disk
        putLe(to, 0, 2);  // internal attributes
        putLe(to, 0, 4);  // external attributes
        putLe(to, out.size(), 4);
      }
      to += m.name;
      if (!m.zip64) return;
      putLe(to, 0x0001, 2);
      putLe(to, 16, 2);
      putLe(to, size, 8);
      putLe(to, m.deflated.size(), 8);
    };
    header(directory, true);
    header(out, false);
    out += m.deflated;
  }
  const uint64_t directoryOffset = out.size();
  out += directory;
  const uint64_t zip64End = out.size();
  putLe(out, 0x06064b50, 4);
  putLe(out, 44, 8);
  putLe(out, 45, 2);
  putLe(out, 45, 2);
  putLe(out, 0, 4);
  putLe(out, 0, 4);
  putLe(out, members.size(), 8);
  putLe(out, members.size(), 8);
  putLe(out, directory.size(), 8);
  putLe(out, directoryOffset, 8);
  putLe(out, 0x07064b50, 4);  // locator
  putLe(out, 0, 4);
  putLe(out, zip64End, 8);
  putLe(out, 1, 4);
  putLe(out, 0x06054b50, 4);  // classic end record
  putLe(out, 0, 4);
  putLe(out, members.size(), 2);
  putLe(out, members.size(), 2);
  putLe(out, directory.size(), 4);
  putLe(out, directoryOffset, 4);
  putLe(out, 0, 2);
  return out;
}

// The member's data as a gzip stream (a bomb, for a zeroMember).
inline std::string gzipOf(const HandmadeMember& m) {
  std::string out("\x1f\x8b\x08\0\0\0\0\0\0\x03", 10);
  out += m.deflated;
  putLe(out, m.crc, 4);
  putLe(out, m.size & 0xFFFFFFFF, 4);
  return out;
}

}  // namespace nx::test
